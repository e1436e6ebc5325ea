#include "app/app.h"
#include "app/text.h"
#include "app/tray.h"
#include "settings/hotkey_field.h"
#include "settings/settings_layout.h"
#include "settings/settings_window.h"
#include "unit/support.h"

constexpr char kDefaults[] =
    "[General]\r\nAutoCopyLink=1\r\nCaptureCursor=0\r\nRememberSelection=0\r\nLanguage=0\r\n"
    "SaveHistory=1\r\nCaptureDelay=3\r\n"
    "\r\n[Selection]\r\nLeft=0\r\nTop=0\r\nRight=0\r\nBottom=0\r\n"
    "\r\n[Hotkeys]\r\nModifiers=6\r\nKey=83\r\n"
    "\r\n[Upload]\r\nUploadUrl=https://localhost/upload.php\r\nUploadToken=\r\n";
static std::string Fields(const Settings& s) {
  using std::to_string;
  return to_string(s.AutoCopyLink) + to_string(s.CaptureCursor) + to_string(s.RememberSelection) +
         " " + to_string(s.Language) + " " + Str(s.Selection) + " " + to_string(s.Modifiers) + " " +
         to_string(s.Key);
}
// Snapwren's box answered with OK by a thread timer, whose callback runs inside the box's loop.
static bool g_boxShown = false;
static void CALLBACK AnswerBox(HWND, UINT, UINT_PTR, DWORD) {
  const HWND box = FindWindowW(L"#32770", L"Snapwren");
  if (box) g_boxShown = true, PostMessageW(box, WM_COMMAND, IDOK, 0);
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { g_trayWnd = owner_.get(), DeleteFileW(path_.c_str()); }
  void TearDown() override {
    if (Window()) DestroyWindow(Window());
    AppSettings = saved_, g_trayWnd = nullptr;
    DeleteFileW(path_.c_str()), RemoveDirectoryW((path_ + L".tmp").c_str());
  }
  std::string Read() const { const auto b = FileBytes(path_); return {b.begin(), b.end()}; }
  void Write(const std::string& bytes) { std::ofstream(path_.c_str(), std::ios::binary) << bytes; }
  static HWND Window() { return FindWindowW(L"SnapwrenSettings", nullptr); }
  static HWND List() { return FindWindowExW(Window(), nullptr, L"ComboBox", nullptr); }
  static LRESULT Language() { return SendMessageW(List(), CB_GETCURSEL, 0, 0); }
  static void Click(int x, int y) { SendMessageW(Window(), WM_LBUTTONDOWN, 1, MAKELPARAM(x, y)); }
  static void Key(WPARAM key, bool ctrlShift = false, UINT message = WM_KEYDOWN) {
    SetKeys(ctrlShift, ctrlShift), SendMessageW(Window(), message, key, 1), SetKeys(false);
  }
  HWND Open() { return ShowSettingsWindow(owner_.get()), Window(); }
  bool Announced() {
    MSG m;
    return PeekMessageW(&m, owner_.get(), WM_SETTINGS_CHANGED, WM_SETTINGS_CHANGED, PM_REMOVE);
  }
  const Settings saved_ = AppSettings;
  const UniqueWindow owner_{CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                            nullptr, nullptr, nullptr)};
  const std::wstring path_ = GetSettingsPath();
};

TEST_F(SettingsTest, EachLineSetsOnlyAnExactKeyAtItsStartAndTheFileIsWrittenWholeOrNotAtAll) {
  const std::string longLine = std::string(255, 'x') + "Key=80" + std::string(39, 'y');
  const struct { std::string text; const char* fields; } cases[] = {
      {"", "100 0 0,0,0,0 6 83"},  // no file
      {"RememberSelection=1\nRight=30\nBottom=40\n", "101 0 0,0,30,40 6 83"},
      {"AutoCopyLink=5\nCaptureCursor=-3\nLanguage=7\nLeft=-2147483648\nModifiers=4294967295\n",
       "110 7 -2147483648,0,0,0 4294967295 83"},  // taken as they stand
      {"\xEF\xBB\xBFKey=80\nModifiers=3\n", "100 0 0,0,0,0 3 80"},  // Notepad's UTF-8 mark
      {"[General]\nModifiers=1\n[Hotkeys]\nKey=70\nKey=71\n", "100 0 0,0,0,0 1 71"},
      {" Key=80\nkey=81\nKey =82\n; Key=83\nModifiers= 3\nLanguage=1abc\nTop=12 # x\n",
       "100 1 0,12,0,0 3 83"},
      {"Key=\nKey=abc\nLanguage=1\n", "100 1 0,0,0,0 6 83"},
      {longLine + "\nLanguage=1\n", "100 1 0,0,0,0 6 80"},  // read in pieces of 255
      {std::string(254, 'x') + "Key=81\n", "100 0 0,0,0,0 6 83"}};
  for (const auto& c : cases) {
    if (!c.text.empty()) Write(c.text);
    Settings loaded;
    EXPECT_EQ(LoadSettingsFrom(path_, loaded), !c.text.empty());
    EXPECT_EQ(Fields(loaded), c.fields) << c.text.substr(0, 60);
  }
  // Written byte for byte, read back the same, and replaced whole or not at all.
  ASSERT_TRUE(SaveSettingsTo(path_, Settings{}));
  EXPECT_EQ(Read(), kDefaults);
  Settings loaded;
  Settings record;
  record.AutoCopyLink = false, record.CaptureCursor = record.RememberSelection = true;
  record.Language = -2, record.Selection = {-1280, -5, 3199, 1079};
  record.Modifiers = MOD_ALT, record.Key = VK_F5;
  ASSERT_TRUE(SaveSettingsTo(path_, record) && LoadSettingsFrom(path_, loaded));
  EXPECT_EQ(Fields(loaded), Fields(record));
  // A folder where the new file is written first makes the write fail before any swap.
  ASSERT_TRUE(SaveSettingsTo(path_, {}) && CreateDirectoryW((path_ + L".tmp").c_str(), nullptr));
  EXPECT_FALSE(SaveSettingsTo(path_, record));
  EXPECT_EQ(Read(), kDefaults);
}

// Addresses and keys are read whole and as they stand, however long; the delay is clamped.
TEST_F(SettingsTest, UploadAddressAndKeyAreReadWholeTheDelayIsClampedAndAbsentKeysKeepDefaults) {
  const std::string longUrl = "https://s.example/" + std::string(300, 'p') + "/upload.php";
  const auto fields = [](const Settings& s) {
    return std::to_string(s.SaveHistory) + " " + std::to_string(s.CaptureDelay) + " " +
           Utf16ToUtf8(s.UploadUrl) + "|" + Utf16ToUtf8(s.UploadToken);
  };
  const struct { std::string text; std::string fields; } cases[] = {
      {"Key=80\n", "1 3 https://localhost/upload.php|"},
      {"SaveHistory=0\nCaptureDelay=0\nUploadToken= k\xC3\xA4y \r\n", "0 1 https://localhost/upload.php| k\xC3\xA4y "},
      {"CaptureDelay=31\nUploadUrl=\n", "1 30 |"},
      {"CaptureDelay=99999999999\nUploadUrl=" + longUrl + "\nKey=81\n", "1 30 " + longUrl + "|"},
      {"CaptureDelay=-4\nuploadurl=x\nUploadUrl=" + longUrl, "1 1 " + longUrl + "|"}};
  for (const auto& c : cases) {
    Write(c.text);
    Settings loaded;
    ASSERT_TRUE(LoadSettingsFrom(path_, loaded));
    EXPECT_EQ(fields(loaded), c.fields) << c.text.substr(0, 40);
  }
  Settings record;
  record.UploadUrl = Utf8ToUtf16(longUrl), record.UploadToken = L"a\r\nKey=1\tb ";
  record.SaveHistory = false, record.CaptureDelay = 30;
  Settings loaded;
  ASSERT_TRUE(SaveSettingsTo(path_, record) && LoadSettingsFrom(path_, loaded));
  EXPECT_EQ(fields(loaded), "0 30 " + longUrl + "|aKey=1b ");  // no line of its own
  EXPECT_EQ(loaded.Key, 83u);
}

TEST_F(SettingsTest, OpensOnceInItsLanguageCancelOrCloseChangeNothingAndSaveWritesWhatItShows) {
  const struct { int language; const wchar_t* title; LRESULT shown; int saved; } cases[] = {
      {0, L"Einstellungen", 0, 0}, {1, L"Settings", 1, 1}, {7, L"Settings", -1, -1}};
  for (const auto& c : cases) {
    AppSettings.Language = c.language;
    const Settings before = AppSettings;
    wchar_t title[32] = {};
    GetWindowTextW(Open(), title, 32);
    EXPECT_EQ(title, std::wstring(c.title));
    EXPECT_EQ(GetWindow(Window(), GW_OWNER), owner_.get());
    Click(400, 92), SendMessageW(List(), CB_SETCURSEL, c.shown == 1 ? 0 : 1, 0);
    if (c.language == 1) SendMessageW(Window(), WM_CLOSE, 0, 0);
    if (c.language != 1) Click(395, 377);  // Cancel
    EXPECT_EQ(Window(), nullptr);
    EXPECT_TRUE(Read().empty()) << "nothing written";
    EXPECT_FALSE(Announced());
    EXPECT_EQ(Fields(AppSettings), Fields(before));
    const HWND window = Open();
    EXPECT_EQ(Language(), c.shown) << "the list's choice";
    EXPECT_EQ(Open(), window) << "one window";
    Click(295, 377);  // Save
    std::string written = kDefaults;
    EXPECT_EQ(Read(), written.replace(written.find("Language=0") + 9, 1, std::to_string(c.saved)));
    EXPECT_EQ(Window(), nullptr);
    EXPECT_EQ(AppSettings.Language, c.saved);
    EXPECT_TRUE(Announced());
    DeleteFileW(path_.c_str());
  }
}

TEST_F(SettingsTest, ClicksAndKeysChooseWhatIsAppliedAndAnnouncedWhenTheFileCannotBeSaved) {
  Write(kDefaults);
  CreateDirectoryW((path_ + L".tmp").c_str(), nullptr);  // where the new file is written first
  Open();
  Click(400, 92), Click(400, 127);  // both switches, on their labels
  Click(197, 37);  // the hotkeys tab hides the language list
  EXPECT_FALSE(IsWindowVisible(List()));
  Click(230, 117);  // the field records: Ctrl and Shift alone keep it waiting
  Key(VK_CONTROL, true), Key('P', true), Click(230, 117);
  Key(VK_ESCAPE);  // ends the recording and keeps Ctrl+Shift+P
  Key(VK_ESCAPE), Key('Q');  // while idle: nothing, and no key is taken
  // Print Screen comes only as a release, other keys are taken as they go down.
  Click(230, 117), Key('Q', true, WM_KEYUP), Key(VK_SNAPSHOT, true, WM_KEYUP);
  Click(75, 37);
  ASSERT_TRUE(Window());
  EXPECT_TRUE(IsWindowVisible(List()));
  SendMessageW(List(), CB_SETCURSEL, 1, 0);
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, AnswerBox);
  Click(295, 377);
  KillTimer(nullptr, timer);
  EXPECT_TRUE(g_boxShown);
  EXPECT_EQ(Window(), nullptr);
  EXPECT_EQ(Read(), kDefaults);
  EXPECT_TRUE(Announced());
  EXPECT_EQ(Fields(AppSettings).substr(0, 5) + " " + std::to_string(AppSettings.Key) + " " +
                std::to_string(AppSettings.Modifiers), "010 1 44 6");
  // The hotkey's text: modifiers in a fixed order, then the key if it has a name.
  const struct { UINT modifiers, key; const wchar_t* text; } cases[] = {
      {7, 'X', L"Ctrl + Shift + Alt + X"}, {MOD_WIN | MOD_SHIFT, '0', L"Shift + 0"},
      {MOD_ALT, VK_F5, L"Alt + F5"}, {0, VK_F13, L"..."}, {0, VK_SNAPSHOT, L"Print"},
      {0, VK_ESCAPE, L"Esc"}, {0, 91, L"..."}, {6, 0, L"Ctrl + Shift + ..."}};
  for (const auto& c : cases) EXPECT_EQ(FormatHotkey(c.modifiers, c.key), c.text) << c.key;
}

// Save keeps an address that is not https:// with a host from the file and says so.
TEST_F(SettingsTest, SaveRefusesAnAddressWithoutHttpsAndAHostAndStoresTheMaskedKeyTrimmed) {
  Open();
  const auto field = [](int id) { return GetDlgItem(Window(), id); };
  EXPECT_NE(SendMessageW(field(1008), EM_GETPASSWORDCHAR, 0, 0), 0) << "the key is masked";
  EXPECT_EQ(SendMessageW(field(1007), EM_GETPASSWORDCHAR, 0, 0), 0);
  SetWindowTextW(field(1006), L"45");
  Click(400, 204);  // "Verlauf speichern" off
  for (const wchar_t* bad : {L"http://img.example/upload.php", L"https://", L"img.example", L""}) {
    SetWindowTextW(field(1007), bad);
    g_boxShown = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, AnswerBox);
    Click(295, 377);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(g_boxShown) << bad;
    ASSERT_TRUE(Window()) << bad;
    EXPECT_TRUE(Read().empty()) << bad;
    EXPECT_FALSE(Announced());
  }
  SetWindowTextW(field(1007), L"https://img.example:8443/u.php");
  SetWindowTextW(field(1008), L"s3cr\u00E4t");  // a header carries no such character
  g_boxShown = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, AnswerBox);
  Click(295, 377);
  KillTimer(nullptr, timer);
  EXPECT_TRUE(g_boxShown && Window() && Read().empty());
  SetWindowTextW(field(1008), L"  s3cr3t \t");
  Click(295, 377);
  EXPECT_EQ(Window(), nullptr);
  std::string written = Read();
  EXPECT_NE(written.find("SaveHistory=0\r\nCaptureDelay=30\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("UploadUrl=https://img.example:8443/u.php\r\nUploadToken=s3cr3t\r\n"),
            std::string::npos) << written;
}

TEST(SettingsLayoutTest, RowsAndButtonsAnswerAtTheirPlacesScaledToTheWindowsDpi) {
  using E = SettingsElement;
  const struct { POINT at; int page; UINT dpi; SettingsElement element; } cases[] = {
      {{442, 560}, 0, 96, E::None},          {{442, 560}, 0, 144, E::SaveButton},
      {{400, 204}, 0, 96, E::SaveHistoryRow}, {{400, 204}, 1, 96, E::None},
      {{600, 150}, 0, 144, E::AutoCopyRow},  {{600, 150}, 1, 144, E::HotkeyField},
      {{60, 200}, 1, 192, E::HotkeyField},   {{59, 200}, 1, 192, E::None},
      {{879, 750}, 0, 192, E::CancelButton}};
  for (const auto& c : cases) {
    EXPECT_EQ(SettingsHitTest(c.at, c.page, c.dpi), c.element) << c.at.x << "," << c.at.y;
  }
}

// The manifest is what makes Windows give Snapwren physical pixels on a scaled display and the
// system's own look to the combo box; Wine is per-monitor aware without it, so the test asks the
// process's activation context what the manifest declared and which common controls it bound.
TEST(ManifestTest, DeclaresPerMonitorV2AndBindsCommonControlsSix) {
  wchar_t value[32] = L"";
  SIZE_T written = 0;
  const wchar_t* const settings2016 = L"http://schemas.microsoft.com/SMI/2016/WindowsSettings";
  EXPECT_TRUE(QueryActCtxSettingsW(0, nullptr, settings2016, L"dpiAwareness", value, 32, &written));
  EXPECT_STREQ(value, L"PerMonitorV2");
  // Bound means the process's context sends comctl32.dll to the side-by-side version 6.
  ACTCTX_SECTION_KEYED_DATA bound{};
  bound.cbSize = sizeof bound;
  EXPECT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION,
                                       L"comctl32.dll", &bound));
}
