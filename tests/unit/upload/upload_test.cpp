#include <optional>
#include "app/app.h"
#include "app/clipboard.h"
#include "app/tray.h"
#include "upload/progress_view.h"
#include "unit/support.h"
#include "upload/failed_upload.h"
#include "upload/upload_format.h"
#include "upload/upload_worker.h"

TEST(UploadFormatTest, BoundaryRedrawsLowHalvesBelowFourBodyIsExactAndLinkIsTheTopLevelUrl) {
  // Times 62: 1 gives index 0, 0xFFFFFFFF index 61. Then low halves of 0, 0 and 2 are drawn
  // again, and 0x7BDEF7BE * 62 = 30 * 2^32 + 4 sits on the threshold: kept, index 30.
  const uint32_t values[] = {1u, 0xFFFFFFFFu, 0u, 0x80000000u, 0x3DEF7BDFu, 0x7BDEF7BEu};
  size_t drawn = 0;
  auto next = [&] { return values[drawn++ % 6]; };
  EXPECT_EQ(MakeBoundaryWith(next), "----SnapwrenBoundary0zU0zU0zU0zU0zU0");
  EXPECT_EQ(drawn, 31u);
  const std::vector<BYTE> body = BuildMultipartBody({0x89, 'P', '\r', '\n', 0, '-', '-'}, "--B");
  EXPECT_EQ(std::string(body.begin(), body.end()),
            "----B\r\nContent-Disposition: form-data; name=\"image\"; filename=\"capture.png\"\r\n"
            "Content-Type: image/png\r\n\r\n" + std::string("\x89P\r\n\0--", 7) +
                "\r\n----B--\r\n");
  // The link is the top-level string "url" of the reply's one JSON object, its escapes decoded.
  const struct { const char* reply; const wchar_t* link; } cases[] = {
      {R"({"url":"https://i.example/a\/b.png"})", L"https://i.example/a/b.png"},
      {R"({"url": "a\/b"})", L"a/b"}, {R"({"url" :"a\/b"})", L"a/b"}, {"{\"url\":\t\"a\"}", L"a"},
      {R"({"url": "a", "other": {"url":"b"}})", L"a"},
      {R"({"thumb": {"url":"t.png"}, "url": "u.png"})", L"u.png"},  // nested ones before it
      {R"({"thumb": {"url":"t.png"}})", L""}, {R"({"thumb_url":"t.png"})", L""},
      {R"({"url": 5})", L""}, {R"({"url":"", "url" : "b"})", L""},  // a name twice: refused
      {R"({"url" : "b", "url":"cut)", L""},  // no JSON
      {R"({"url":"a\"b"})", L"a\"b"},  // an escaped quote is part of the link
      {R"({"url":"a\u0041\\b\/c\/"})", L"aA\\b/c/"},
      {"{\"url\":\"https://b.example/Gr\xC3\xBC\xC3\x9F" "e/\xF0\x9F\x8C\xB8\"}",
       L"https://b.example/Grüße/\U0001F338"},
      {"{\"url\":\"a\xFC.png\"}", L"a\uFFFD.png"}};  // not UTF-8
  for (const auto& c : cases) EXPECT_EQ(ExtractUrlFromJson(c.reply), c.link) << c.reply;
  // The deletion address carries a secret: only an https:// one is kept.
  const struct { const char* reply; const wchar_t* deleteUrl; } deletes[] = {
      {R"({"url":"u","delete_url":"https:\/\/i.example\/upload.php?delete=1&secret=2"})",
       L"https://i.example/upload.php?delete=1&secret=2"},
      {R"({"url":"u","delete_url":"http://i.example/d"})", L""},
      {R"({"url":"u","delete_url":"https://"})", L""}, {R"({"url":"u"})", L""}};
  for (const auto& c : deletes) EXPECT_EQ(ExtractDeleteUrlFromJson(c.reply), c.deleteUrl);
}

TEST(CopyTextTest, LinkReplacesTheTextButABusyClipboardStaysAsItWasAndSaysSoAtOnce) {
  const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                           nullptr, nullptr));
  for (bool busy : {true, false}) {
    ASSERT_TRUE(CopyTextToClipboard(owner.get(), L"vorher"));
    std::optional<ClipboardHolder> holder;
    if (busy) holder.emplace();
    // The holder lets go only after the call: a copy that waited for the clipboard would hang.
    EXPECT_EQ(CopyTextToClipboard(owner.get(), L"https://img.example/a.png"), !busy);
    holder.reset();
    const ClipboardGuard clipboard(nullptr);
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    EXPECT_EQ(static_cast<const wchar_t*>(GlobalLock(data)),
              std::wstring(busy ? L"vorher" : L"https://img.example/a.png"));
    GlobalUnlock(data);
  }
}

TEST(BalloonTest, TextsAreCutNeverBetweenASurrogatePairAndAFailedUploadIsKeptAndNamed) {
  const std::wstring a62(62, L'a'), flower = L"\U0001F33C";  // two UTF-16 units
  EXPECT_EQ(TruncateUtf16(a62 + flower, 63), a62);
  EXPECT_EQ(TruncateUtf16(a62.substr(1) + flower, 63), a62.substr(1) + flower);
  const std::wstring folder = std::to_wstring(GetTickCount64()) + L"-kept";
  const std::vector<BYTE> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 1, 2};
  SYSTEMTIME now = {}, then = {};
  GetLocalTime(&now);
  const std::wstring first = KeepFailedUploadIn(folder, {1, 2, 3});  // in a folder it makes
  const std::wstring second = KeepFailedUploadIn(folder, png);
  GetLocalTime(&then);
  // Unless the clock moved on in between, both have this second's name, the later one numbered.
  EXPECT_TRUE(first + second == folder + L"\\" + FailedUploadFileName(now, 1) + folder + L"\\" +
                                    FailedUploadFileName(now, 2) || then.wSecond != now.wSecond)
      << second;
  EXPECT_EQ(FileBytes(first), std::vector<BYTE>({1, 2, 3}));
  EXPECT_EQ(FileBytes(second), png);
  DeleteFileW(first.c_str()), DeleteFileW(second.c_str()), RemoveDirectoryW(folder.c_str());
  const std::wstring tail = L"\\deep\\Snapwren\\Snapwren_2024-01-05_09-05-07.png";
  const std::wstring reason = L"Upload-Schlüssel abgelehnt";
  const std::wstring text = FailureBalloonText(reason, L"C:\\" + std::wstring(240, L'x') + tail);
  EXPECT_LE(text.size(), 255u);
  EXPECT_EQ(text.substr(0, 50) + text.substr(text.size() - tail.size() - 1),
            L"Upload fehlgeschlagen!\n" + reason + L"\n\u2026" + tail);
  EXPECT_EQ(FailureBalloonText(reason, L""), L"Upload fehlgeschlagen!\n" + reason +
                                                L"\nDer Screenshot konnte nicht gespeichert werden.");
}

// The menu is open: who is in front is noted, and Esc closes it.
static HWND g_frontDuringMenu = nullptr;
static void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD) {
  const HWND menu = FindWindowW(L"#32768", nullptr);
  if (menu && IsWindowVisible(menu)) {
    g_frontDuringMenu = GetForegroundWindow(), PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  }
}

// Without a progress window (here its class refuses every window) the tray window reports. The
// hidden top-level window owns the menu, in front while it shows, and the clipboard's content.
TEST(TrayTest, TheTrayWindowReportsAnUploadWithoutWindowAndTheHiddenWindowOwnsMenuAndLink) {
  WNDCLASSEXW refusing = {};
  refusing.cbSize = sizeof refusing, refusing.lpszClassName = L"SnapwrenProgress";
  refusing.lpfnWndProc = [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT { return m != WM_NCCREATE; };
  RegisterClassExW(&refusing);
  const UniqueWindow tray(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                          nullptr, nullptr)),
      owner(CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, nullptr, nullptr));
  SetWindowLongPtrW(tray.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TrayWndProc));
  g_trayWnd = tray.get(), g_ownerWnd = owner.get();
  const BalloonRecorder balloons;
  StartUpload({0x89, 'P', 'N', 'G'});  // to the built-in server, which the unit tests never run
  const std::wstring failed = L"Upload fehlgeschlagen!";
  for (const auto until = GetTickCount64() + 10000; GetTickCount64() < until; Sleep(10)) {
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
    if (balloons.Last().rfind(L"Snapwren|" + failed, 0) == 0) break;
  }
  const std::wstring text = balloons.Last(), kept = text.substr(text.rfind(L'\n') + 1);
  EXPECT_EQ(FileBytes(kept), std::vector<BYTE>({0x89, 'P', 'N', 'G'})) << text;
  DeleteFileW(kept.c_str());
  SendMessageW(tray.get(), WM_UPLOAD_SUCCEEDED, 0, LPARAM(new UploadOutcome{0, L"https://a", L"", L"", L"", {}}));
  EXPECT_EQ(balloons.Last(), L"Snapwren|Link in Zwischenablage kopiert!");
  {
    const ClipboardGuard clipboard(nullptr);
    const auto* link = static_cast<const wchar_t*>(GlobalLock(GetClipboardData(CF_UNICODETEXT)));
    EXPECT_EQ(std::wstring(link ? link : L"none"), L"https://a");  // none: no crash dialog
    EXPECT_EQ(GetClipboardOwner(), owner.get());
  }
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, CloseMenu);
  ShowTrayMenu(tray.get());
  KillTimer(nullptr, timer);
  MSG null = {};
  EXPECT_EQ(g_frontDuringMenu, owner.get());
  EXPECT_TRUE(PeekMessageW(&null, owner.get(), WM_NULL, WM_NULL, PM_REMOVE));
  g_trayWnd = g_ownerWnd = nullptr;
}

// A second delayed capture while one counts down starts none; the tooltip counts the seconds.
TEST(TrayTest, TheDelayedCaptureCountsDownInTheTooltipAndOnlyOnceAtATime) {
  const UniqueWindow tray(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                          nullptr, nullptr));
  SetWindowLongPtrW(tray.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TrayWndProc));
  const Settings saved = AppSettings;
  AppSettings.CaptureDelay = 3;
  const auto tip = [] { return std::wstring(g_trayIconData.szTip); };
  SendMessageW(tray.get(), WM_COMMAND, IDM_DELAYED_CAPTURE, 0);
  EXPECT_EQ(tip(), L"Screenshot in 3 Sekunden");
  SendMessageW(tray.get(), WM_TIMER, IDT_CAPTURE_DELAY, 0);
  AppSettings.Language = 1;
  SendMessageW(tray.get(), WM_COMMAND, IDM_DELAYED_CAPTURE, 0);
  EXPECT_EQ(tip(), L"Screenshot in 2 Sekunden") << "no second countdown";
  SendMessageW(tray.get(), WM_TIMER, IDT_CAPTURE_DELAY, 0);
  EXPECT_EQ(tip(), L"Screenshot in 1 second");
  EXPECT_EQ(g_trayIconData.uFlags, 0u) << "the flags are left as they were";
  KillTimer(tray.get(), IDT_CAPTURE_DELAY);
  AppSettings = saved;
}

TEST(ProgressWindowTest, StandsAtTheBottomRightScaledToTheDpiAndStacksUpwards) {
  EXPECT_EQ(Str(ProgressWindowRect(1600, 900, 0, 96)), "1230,710,1580,850");
  EXPECT_EQ(Str(ProgressWindowRect(1600, 900, 0, 144)), "1045,615,1570,825");
  EXPECT_EQ(Str(ProgressWindowRect(1600, 900, 1, 192)), "860,220,1560,500");
}
