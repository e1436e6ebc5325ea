#include <gtest/gtest.h>

#include <string>

#include "settings/labels.h"
#include "settings/settings.h"

namespace {

class LabelTest : public ::testing::Test {
 protected:
  void TearDown() override { AppSettings.Language = 0; }
};

TEST_F(LabelTest, FollowsTheLanguageAtEveryLookup) {
  AppSettings.Language = 0;
  EXPECT_EQ(std::wstring(GetLabel("settings")), L"Einstellungen");
  EXPECT_EQ(std::wstring(GetLabel("auto_copy_link")), L"Link nach Hochladen automatisch kopieren");
  AppSettings.Language = 1;
  EXPECT_EQ(std::wstring(GetLabel("settings")), L"Settings");
  AppSettings.Language = 7;
  EXPECT_EQ(std::wstring(GetLabel("hotkeys")), L"Hotkeys");
  AppSettings.Language = -1;
  EXPECT_EQ(std::wstring(GetLabel("cancel")), L"Cancel");
}

TEST_F(LabelTest, GermanTextsKeepTheirLetters) {
  AppSettings.Language = 0;
  EXPECT_EQ(std::wstring(GetLabel("hotkeys")), L"Tastenkombinationen");
  EXPECT_EQ(std::wstring(GetLabel("alt")), L"Alt");
  AppSettings.Language = 1;
  EXPECT_EQ(std::wstring(GetLabel("alt")), L"Alt");
}

TEST_F(LabelTest, UnknownKeysGiveQuestionMarksInBothLanguages) {
  for (int language : {0, 1}) {
    AppSettings.Language = language;
    EXPECT_EQ(std::wstring(GetLabel("Settings")), L"???");
    EXPECT_EQ(std::wstring(GetLabel("")), L"???");
    EXPECT_EQ(std::wstring(GetLabel("settings ")), L"???");
    EXPECT_EQ(std::wstring(GetLabel("setting")), L"???");
  }
}

}  // namespace
