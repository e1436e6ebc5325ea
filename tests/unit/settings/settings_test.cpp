// settings.ini, the labels, the hotkey field, the window's layout and paint, and the settings
// window itself driven through its window procedure with the messages of a user's clicks and keys.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "app/app.h"
#include "app/tray.h"
#include "app/win_handles.h"
#include "settings/hotkey_field.h"
#include "settings/labels.h"
#include "settings/settings.h"
#include "settings/settings_layout.h"
#include "settings/settings_paint.h"
#include "settings/settings_window.h"

constexpr char kDefaults[] =
    "[General]\r\nAutoCopyLink=1\r\nCaptureCursor=0\r\nRememberSelection=0\r\nLanguage=0\r\n"
    "\r\n[Selection]\r\nLeft=0\r\nTop=0\r\nRight=0\r\nBottom=0\r\n"
    "\r\n[Hotkeys]\r\nModifiers=6\r\nKey=83\r\n";

// The file as written with these values, the rest as in kDefaults.
static std::string Ini(int autoCopy, int capture, int language, UINT modifiers = 6, UINT key = 83) {
  std::string bytes = kDefaults;
  auto set = [&](const std::string& name, const std::string& value) {
    const size_t at = bytes.find(name + "=") + name.size() + 1;
    bytes.replace(at, bytes.find('\r', at) - at, value);
  };
  set("AutoCopyLink", std::to_string(autoCopy)), set("CaptureCursor", std::to_string(capture));
  set("Language", std::to_string(language)), set("Modifiers", std::to_string(modifiers));
  set("Key", std::to_string(key));
  return bytes;
}
static std::string Read(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}
static void Write(const std::wstring& path, const std::string& bytes) {
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
}
// Switches, language, selection, modifiers and key.
static std::string Fields(const Settings& s) {
  const RECT& r = s.Selection;
  return std::to_string(s.AutoCopyLink) + std::to_string(s.CaptureCursor) +
         std::to_string(s.RememberSelection) + " " + std::to_string(s.Language) + " " +
         std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom) + " " + std::to_string(s.Modifiers) + " " +
         std::to_string(s.Key);
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateDirectoryW(folder_.c_str(), nullptr); }
  void TearDown() override {
    DeleteFileW(path_.c_str());
    RemoveDirectoryW((path_ + L".tmp").c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  const std::wstring folder_ = GetSettingsPath() + L"-test", path_ = folder_ + L"\\settings.ini";
};

TEST_F(SettingsFileTest, EachLineSetsOnlyAnExactKeyAtItsStartAndTheLastOneWins) {
  const std::string longLine = std::string(255, 'x') + "Key=80" + std::string(39, 'y');
  const struct { std::string text; const char* fields; } cases[] = {
      {"", "100 0 0,0,0,0 6 83"}, {"Key=80\n", "100 0 0,0,0,0 6 80"},  // no file; one key
      {"RememberSelection=1\nRight=30\nBottom=40\n", "101 0 0,0,30,40 6 83"},
      {"AutoCopyLink=5\nCaptureCursor=-3\nLanguage=7\nLeft=-1280\nModifiers=4294967295\n",
       "110 7 -1280,0,0,0 4294967295 83"},  // taken as they stand
      {"[General]\nModifiers=1\n[Hotkeys]\nKey=70\nKey=71\n", "100 0 0,0,0,0 1 71"},
      {" Key=80\nkey=81\nKey =82\n; Key=83\nModifiers= 3\nLanguage=1abc\nTop=12 # x\n",
       "100 1 0,12,0,0 3 83"},
      {"Key=\nKey=abc\nLanguage=1\n", "100 1 0,0,0,0 6 83"},
      {longLine + "\nLanguage=1\n", "100 1 0,0,0,0 6 80"},  // read in pieces of 255
      {std::string(254, 'x') + "Key=81\n", "100 0 0,0,0,0 6 83"}};
  for (const auto& c : cases) {
    if (!c.text.empty()) Write(path_, c.text);
    Settings loaded;
    EXPECT_EQ(LoadSettingsFrom(path_, loaded), !c.text.empty());
    EXPECT_EQ(Fields(loaded), c.fields) << c.text.substr(0, 60);
  }
}

TEST_F(SettingsFileTest, WrittenByteForByteReadBackTheSameAndReplacedWholeOrNotAtAll) {
  Write(path_, std::string(4000, 'z') + "\n");
  ASSERT_TRUE(SaveSettingsTo(path_, Settings{}));
  EXPECT_EQ(Read(path_), kDefaults);
  Write(path_, "AutoCopyLink=5\nCaptureCursor=-3\nLanguage=7\nModifiers=4294967295\n");
  Settings loaded;
  LoadSettingsFrom(path_, loaded);
  ASSERT_TRUE(SaveSettingsTo(path_, loaded));
  EXPECT_EQ(Read(path_), Ini(1, 1, 7, 4294967295u)) << "booleans written as 0 or 1";
  const Settings record = {false, true, true, -2, {-1280, -5, 3199, 1079}, MOD_ALT, VK_F5};
  ASSERT_TRUE(SaveSettingsTo(path_, record));
  loaded.Key = 1;
  ASSERT_TRUE(LoadSettingsFrom(path_, loaded));
  EXPECT_EQ(Fields(loaded), Fields(record));
  // A folder where the new file is written first makes the write fail before any swap.
  ASSERT_TRUE(SaveSettingsTo(path_, Settings{}) &&
              CreateDirectoryW((path_ + L".tmp").c_str(), nullptr));
  EXPECT_FALSE(SaveSettingsTo(path_, record));
  EXPECT_EQ(Read(path_), kDefaults);
  const std::wstring missing = folder_ + L"\\missing\\settings.ini";
  EXPECT_FALSE(SaveSettingsTo(missing, Settings{}));
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(LabelTest, UnknownKeysGiveQuestionMarksInBothLanguages) {
  for (int language : {0, 1}) {
    AppSettings.Language = language;
    for (const char* key : {"Settings", "", "settings ", "setting"}) {
      EXPECT_EQ(std::wstring(GetLabel(key)), L"???") << language << " " << key;
    }
  }
  AppSettings.Language = 0;
}

TEST(HotkeyFieldTest, FormatsModifiersInFixedOrderAndNamesOnlyKnownKeys) {
  const struct { UINT modifiers, key; const wchar_t* text; } cases[] = {
      {6, 'S', L"Ctrl + Shift + S"}, {7, 'X', L"Ctrl + Shift + Alt + X"},
      {MOD_ALT | MOD_SHIFT, VK_F5, L"Shift + Alt + F5"}, {MOD_WIN, 'S', L"S"},
      {MOD_NOREPEAT | MOD_CONTROL, 'S', L"Ctrl + S"}, {0, 'A', L"A"}, {0, 'Z', L"Z"},
      {0, '0', L"0"}, {0, '9', L"9"}, {0, 47, L"..."}, {0, 58, L"..."}, {0, 64, L"..."},
      {0, 91, L"..."}, {0, VK_F1, L"F1"}, {0, VK_F10, L"F10"}, {0, VK_F12, L"F12"},
      {0, VK_F13, L"..."}, {0, VK_DIVIDE, L"..."}, {MOD_CONTROL, VK_SNAPSHOT, L"Ctrl + Print"},
      {0, VK_SPACE, L"Space"}, {0, VK_TAB, L"Tab"}, {0, VK_ESCAPE, L"Esc"},
      {0, VK_NUMPAD0, L"..."}, {0, VK_NUMPAD9, L"..."}, {6, 0, L"Ctrl + Shift + ..."},
      {0, 0xFFFFFFFF, L"..."}};
  for (const auto& c : cases) EXPECT_EQ(FormatHotkey(c.modifiers, c.key), c.text) << c.key;
}

// Frames drawn into a memory bitmap with the DC's own font, read where no text reaches or by the
// accent colour.
TEST(SettingsPaintTest, CardCheckMarksAndFieldBorderFollowTheView) {
  constexpr RECT kClient = {0, 0, 464, 391};  // the client area of the 470 x 420 window
  const WindowDc screen(nullptr);
  const UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), kClient.right, kClient.bottom));
  const UniqueMemoryDc dc(CreateCompatibleDC(screen.get()));
  const SelectGuard select(dc.get(), bitmap.get());
  auto at = [&](int x, int y) { return GetPixel(dc.get(), x, y); };
  auto accent = [&](const RECT& r) {
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) count += at(x, y) == kSettingsAccent ? 1 : 0;
    }
    return count > 10;
  };
  for (bool autoCopy : {true, false}) {
    SettingsView view;
    view.autoCopyLink = autoCopy, view.captureCursor = !autoCopy;
    PaintSettings(dc.get(), kClient, view, {});
    EXPECT_TRUE(accent({30, 82, 50, 102}) == autoCopy && accent({30, 117, 50, 137}) != autoCopy);
  }
  EXPECT_TRUE(at(15, 200) == kSettingsBorder && at(kClient.right - 16, 200) == kSettingsBorder &&
              at(kClient.right - 10, 200) == kSettingsBackground) << "the card follows the width";
  const struct { POINT hover; bool recording; COLORREF border; } fields[] = {
      {{-1, -1}, false, kSettingsBorder}, {{200, 110}, false, kSettingsAccentHover},
      {{-1, -1}, true, kSettingsAccent}, {{200, 110}, true, kSettingsAccent}};
  for (const auto& f : fields) {
    SettingsView view;
    view.page = kHotkeysPage, view.hover = f.hover, view.hotkey = {6, 'S', f.recording};
    PaintSettings(dc.get(), kClient, view, {});
    EXPECT_EQ(at(30, 117), f.border) << f.recording << " " << f.hover.x;
    EXPECT_EQ(accent({32, 102, 428, 133}), f.recording) << "the accent text while recording";
  }
}

// The text of the box this thread shows, answered with OK: a thread timer's callback runs inside
// the box's own loop.
static std::wstring g_box;
static void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), [](HWND hwnd, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(hwnd, name, 16);
    if (std::wstring(name) == L"#32770") *reinterpret_cast<HWND*>(found) = hwnd;
    return TRUE;
  }, reinterpret_cast<LPARAM>(&box));
  if (!box) return;
  wchar_t caption[64] = {}, text[256] = {};
  GetWindowTextW(box, caption, 64);
  GetDlgItemTextW(box, 0xFFFF, text, 256);
  g_box = std::wstring(caption) + L": " + text;
  KillTimer(nullptr, timer);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { g_trayWnd = owner_.get(), DeleteFileW(path_.c_str()); }
  void TearDown() override {
    if (Window()) DestroyWindow(Window());
    AppSettings = saved_, g_trayWnd = nullptr;
    DeleteFileW(path_.c_str()), RemoveDirectoryW((path_ + L".tmp").c_str());
  }
  static HWND Window() { return FindWindowW(L"SnapwrenSettings", nullptr); }
  static HWND List() { return FindWindowExW(Window(), nullptr, L"ComboBox", nullptr); }
  static LRESULT Language() { return SendMessageW(List(), CB_GETCURSEL, 0, 0); }
  static void Click(int x, int y) { SendMessageW(Window(), WM_LBUTTONDOWN, 1, MAKELPARAM(x, y)); }
  // HeldModifiers reads GetKeyState, the thread's own key state that SetKeyboardState writes.
  static void Key(WPARAM key, bool ctrlShift = false) {
    BYTE keys[256] = {};
    keys[VK_CONTROL] = keys[VK_SHIFT] = ctrlShift ? 0x80 : 0;
    SetKeyboardState(keys);
    SendMessageW(Window(), WM_KEYDOWN, key, 1);
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
  }
  HWND Open() { return ShowSettingsWindow(owner_.get()), Window(); }
  // Whether the tray window was told, once, that the settings changed.
  bool Announced() {
    MSG m;
    return PeekMessageW(&m, owner_.get(), WM_SETTINGS_CHANGED, WM_SETTINGS_CHANGED, PM_REMOVE);
  }

  const Settings saved_ = AppSettings;
  const UniqueWindow owner_{CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                            nullptr, nullptr, nullptr)};
  const std::wstring path_ = GetSettingsPath();
};

TEST_F(SettingsWindowTest, OpensOnceCentredOwnedInItsLanguageAndSavesTheChosenOne) {
  const struct { int language; const wchar_t* title; LRESULT selected; int saved; } cases[] = {
      {0, L"Einstellungen", 0, 0}, {1, L"Settings", 1, 1}, {7, L"Settings", -1, -1}};
  for (const auto& c : cases) {
    AppSettings.Language = c.language;
    const HWND window = Open();
    wchar_t title[32] = {};
    GetWindowTextW(window, title, 32);
    RECT r = {};
    GetWindowRect(window, &r);
    const int left = (GetSystemMetrics(SM_CXSCREEN) - 470) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - 420) / 2;
    EXPECT_TRUE(r.left == left && r.top == top && r.right - left == 470 && r.bottom - top == 420);
    EXPECT_TRUE(title == std::wstring(c.title) && GetWindow(window, GW_OWNER) == owner_.get());
    EXPECT_EQ(Language(), c.selected) << "the language list's choice";
    EXPECT_EQ(Open(), window) << "no second window";
    Click(295, 357);  // Save
    EXPECT_EQ(Read(path_), Ini(1, 0, c.saved));
    EXPECT_TRUE(Window() == nullptr && AppSettings.Language == c.saved && Announced());
  }
}

TEST_F(SettingsWindowTest, ClicksAndKeysChooseWhatIsAppliedAndAnnouncedWhenTheFileCannotBeSaved) {
  Write(path_, kDefaults);
  CreateDirectoryW((path_ + L".tmp").c_str(), nullptr);  // where the new file is written first
  Open();
  Click(400, 92);  // both switches, on their labels
  Click(400, 127);
  Click(197, 37);  // the hotkeys tab hides the language list
  EXPECT_FALSE(IsWindowVisible(List()));
  Click(230, 117);  // the field records: Ctrl and Shift alone keep it waiting
  Key(VK_CONTROL, true);
  Key('P', true);
  Click(230, 117);
  Key(VK_ESCAPE);  // ends the recording and keeps Ctrl+Shift+P
  Key(VK_ESCAPE);  // while idle: nothing, and no key is taken
  Key('Q');
  Click(75, 37);
  EXPECT_TRUE(Window() && IsWindowVisible(List()));
  SendMessageW(List(), CB_SETCURSEL, 1, 0);
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, AnswerBox);
  Click(295, 357);
  KillTimer(nullptr, timer);
  EXPECT_EQ(g_box, L"Snapwren: Die Einstellungen konnten nicht gespeichert werden.\n"
                   L"Sie gelten nur, bis Snapwren beendet wird.");
  EXPECT_TRUE(Window() == nullptr && Read(path_) == kDefaults && Announced());
  EXPECT_EQ(Fields(AppSettings).substr(0, 5) + " " + std::to_string(AppSettings.Key), "010 1 80");
}

TEST_F(SettingsWindowTest, CancelAndCloseKeepFileAndSettingsForTheNextOpening) {
  Write(path_, kDefaults);
  for (bool close : {false, true}) {
    Open();
    Click(400, 92);
    SendMessageW(List(), CB_SETCURSEL, 1, 0);
    if (close) SendMessageW(Window(), WM_CLOSE, 0, 0);
    if (!close) Click(395, 357);  // Cancel
    EXPECT_TRUE(Window() == nullptr && Read(path_) == kDefaults && !Announced());
    EXPECT_EQ(Fields(AppSettings), Fields(saved_));
    EXPECT_EQ(Open() ? Language() : -2, 0);
    Click(295, 357);  // saves what the window shows: AppSettings, not the discarded choice
    EXPECT_TRUE(Read(path_) == kDefaults && Announced());
  }
}
