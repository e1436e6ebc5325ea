#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings/hotkey_field.h"

namespace {

constexpr UINT kCtrlShift = MOD_CONTROL | MOD_SHIFT;

TEST(FormatHotkeyTest, ModifiersAlwaysInCtrlShiftAltOrder) {
  EXPECT_EQ(FormatHotkey(kCtrlShift, 'S'), L"Ctrl + Shift + S");
  EXPECT_EQ(FormatHotkey(MOD_ALT | MOD_SHIFT | MOD_CONTROL, 'X'), L"Ctrl + Shift + Alt + X");
  EXPECT_EQ(FormatHotkey(MOD_ALT | MOD_SHIFT, VK_F5), L"Shift + Alt + F5");
  EXPECT_EQ(FormatHotkey(0, 'Q'), L"Q");
}

TEST(FormatHotkeyTest, FlagsOtherThanTheThreeAreIgnored) {
  EXPECT_EQ(FormatHotkey(MOD_WIN, 'S'), L"S");
  EXPECT_EQ(FormatHotkey(MOD_NOREPEAT | MOD_CONTROL, 'S'), L"Ctrl + S");
}

TEST(FormatHotkeyTest, LettersAndDigitsAreTheirOwnCharacter) {
  EXPECT_EQ(FormatHotkey(0, 'A'), L"A");
  EXPECT_EQ(FormatHotkey(0, 'Z'), L"Z");
  EXPECT_EQ(FormatHotkey(0, '0'), L"0");
  EXPECT_EQ(FormatHotkey(0, '9'), L"9");
  // Just outside both ranges: '/' 47, ':' 58 (unused codes), '@' 64, '[' 91 (the left
  // Windows key).
  for (UINT key : {47u, 58u, 64u, 91u}) EXPECT_EQ(FormatHotkey(0, key), L"...") << key;
}

TEST(FormatHotkeyTest, FunctionKeysOneToTwelveOnly) {
  EXPECT_EQ(FormatHotkey(0, VK_F1), L"F1");
  EXPECT_EQ(FormatHotkey(0, VK_F5), L"F5");
  EXPECT_EQ(FormatHotkey(0, VK_F10), L"F10");
  EXPECT_EQ(FormatHotkey(0, VK_F12), L"F12");
  EXPECT_EQ(FormatHotkey(0, VK_F13), L"...");
  EXPECT_EQ(FormatHotkey(0, VK_DIVIDE), L"...");  // 111, one below F1
}

TEST(FormatHotkeyTest, NamedKeysAndEverythingElse) {
  EXPECT_EQ(FormatHotkey(MOD_CONTROL, VK_SNAPSHOT), L"Ctrl + Print");
  EXPECT_EQ(FormatHotkey(0, VK_SPACE), L"Space");
  EXPECT_EQ(FormatHotkey(0, VK_TAB), L"Tab");
  EXPECT_EQ(FormatHotkey(0, VK_ESCAPE), L"Esc");
  // Keypad digits have codes of their own and no name here, unlike the digits above the
  // letters.
  for (UINT key = VK_NUMPAD0; key <= VK_NUMPAD9; ++key) EXPECT_EQ(FormatHotkey(0, key), L"...");
  EXPECT_EQ(FormatHotkey(kCtrlShift, 0), L"Ctrl + Shift + ...");
  EXPECT_EQ(FormatHotkey(0, 0xFFFFFFFFu), L"...");
}

class RecordingTest : public ::testing::Test {
 protected:
  HotkeyEdit edit_{kCtrlShift, 'S', true};
};

TEST_F(RecordingTest, ModifierKeysAloneKeepWaiting) {
  for (UINT key : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL,
                   VK_LMENU, VK_RMENU}) {
    EXPECT_FALSE(HandleRecordingKey(edit_, key, MOD_CONTROL)) << key;
    EXPECT_TRUE(edit_.recording) << key;
    EXPECT_EQ(edit_.modifiers, kCtrlShift);
    EXPECT_EQ(edit_.key, static_cast<UINT>('S'));
  }
}

TEST_F(RecordingTest, KeysBesideTheModifierCodesAreTaken) {
  // 19 (Pause) follows Alt, 166 (Browser Back) follows the right Alt.
  for (UINT key : {15u, 19u, 159u, 166u}) {
    edit_.recording = true;
    EXPECT_TRUE(HandleRecordingKey(edit_, key, 0)) << key;
    EXPECT_FALSE(edit_.recording);
    EXPECT_EQ(edit_.key, key);
  }
}

TEST_F(RecordingTest, KeyTakesTheModifiersHeldAtThatMoment) {
  EXPECT_TRUE(HandleRecordingKey(edit_, 'P', MOD_CONTROL | MOD_ALT));
  EXPECT_FALSE(edit_.recording);
  EXPECT_EQ(edit_.modifiers, static_cast<UINT>(MOD_CONTROL | MOD_ALT));
  EXPECT_EQ(edit_.key, static_cast<UINT>('P'));
  EXPECT_EQ(FormatHotkey(edit_.modifiers, edit_.key), L"Ctrl + Alt + P");
}

TEST_F(RecordingTest, BareKeyRecordsNoModifiers) {
  EXPECT_TRUE(HandleRecordingKey(edit_, 'Q', 0));
  EXPECT_EQ(edit_.modifiers, 0u);
  EXPECT_EQ(edit_.key, static_cast<UINT>('Q'));
}

TEST_F(RecordingTest, EscEndsRecordingAndKeepsTheOldCombination) {
  EXPECT_TRUE(HandleRecordingKey(edit_, VK_ESCAPE, MOD_CONTROL));
  EXPECT_FALSE(edit_.recording);
  EXPECT_EQ(edit_.modifiers, kCtrlShift);
  EXPECT_EQ(edit_.key, static_cast<UINT>('S'));
}

TEST_F(RecordingTest, KeysOutsideRecordingChangeNothing) {
  edit_.recording = false;
  for (UINT key : {static_cast<UINT>(VK_ESCAPE), static_cast<UINT>('P'), static_cast<UINT>(VK_F5)}) {
    EXPECT_FALSE(HandleRecordingKey(edit_, key, MOD_CONTROL)) << key;
    EXPECT_FALSE(edit_.recording);
    EXPECT_EQ(edit_.modifiers, kCtrlShift);
    EXPECT_EQ(edit_.key, static_cast<UINT>('S'));
  }
}

}  // namespace
