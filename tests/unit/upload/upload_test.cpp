// The bytes of an upload, the link in the reply, what the user is told and shown, and where the
// screenshot of a failed upload is kept.
#include <windows.h>
#include <shlobj.h>

#include <deque>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "unit/overlay/editor_fixture.h"
#include "upload/failed_upload.h"
#include "upload/progress_view.h"
#include "upload/upload_format.h"
#include "upload/upload_worker.h"

TEST(BoundaryTest, DrawTakesTheHighHalfOfTheProductAndRedrawsLowHalvesBelowFour) {
  // Low halves: 0 * 62 and 0x80000000 * 62 give 0, 0x3DEF7BDF * 62 gives 2: drawn again.
  // 0x7BDEF7BE * 62 = 30 * 2^32 + 4 sits on the threshold: kept, index 30.
  std::deque<uint32_t> values = {1u, 0xFFFFFFFFu, 0u, 0x80000000u, 0x3DEF7BDFu, 0x7BDEF7BEu};
  auto next = [&] {
    const uint32_t value = values.front();
    return values.pop_front(), value;
  };
  std::string drawn;
  for (int i = 0; i < 3; ++i) drawn += DrawBoundaryChar(next);
  EXPECT_TRUE(drawn == "0zU" && values.empty()) << drawn;
}

TEST(BoundaryTest, FreshForEveryUploadAndDrawnFromTheWholeAlphabet) {
  std::set<std::string> boundaries;
  std::set<char> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string boundary = MakeBoundary();
    ASSERT_TRUE(boundary.rfind("----SnapwrenBoundary", 0) == 0 && boundary.size() == 36 &&
                boundary.find_first_not_of(kBoundaryAlphabet, 20) == std::string::npos) << boundary;
    boundaries.insert(boundary);
    seen.insert(boundary.begin() + 20, boundary.end());
  }
  // A generator seeded from anything but the system's random source repeats itself within this
  // many; 3,200 draws miss one of 62 characters with a probability of about 1e-21.
  EXPECT_EQ(boundaries.size() * 100 + seen.size(), 20062u);
}

TEST(MultipartTest, BodyIsLaidOutByteForByteAndCarriesAnyImageUnchanged) {
  const std::vector<BYTE> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x00, '-', '-'};
  const std::vector<BYTE> body = BuildMultipartBody(png, "----SnapwrenBoundaryAbc");
  EXPECT_EQ(std::string(body.begin(), body.end()),
            "------SnapwrenBoundaryAbc\r\n"
            "Content-Disposition: form-data; name=\"image\"; filename=\"capture.png\"\r\n"
            "Content-Type: image/png\r\n\r\n" + std::string("\x89PNG\r\n\0--", 9) +
                "\r\n------SnapwrenBoundaryAbc--\r\n");
  std::vector<BYTE> large(300000);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<BYTE>(i * 7);
  const std::vector<BYTE> carried = BuildMultipartBody(large, "B");
  ASSERT_EQ(carried.size(), 102 + large.size() + 9);  // the same framing around it
  EXPECT_TRUE(std::equal(large.begin(), large.end(), carried.begin() + 102));
  EXPECT_EQ(ContentTypeHeader("----SnapwrenBoundaryX1"),
            L"Content-Type: multipart/form-data; boundary=----SnapwrenBoundaryX1");
}

TEST(ReplyTest, LinkIsFoundByFourSpellingsInTheirFixedOrder) {
  const struct { const char* reply; const wchar_t* link; } cases[] = {
      {R"({"url":"https://i.example/a\/b.png"})", L"https://i.example/a/b.png"},
      {R"({"url": "a\/b.png"})", L"a/b.png"}, {R"({"url" :"a\/b.png"})", L"a/b.png"},
      {R"({"url" : "a\/b.png"})", L"a/b.png"},
      {R"({"url": "a", "other": {"url":"b"}})", L"b"},  // the unspaced pattern first
      {R"({"thumb_url":"t.png"})", L""}, {R"({"thumb_url":"t.png","url":"u.png"})", L"u.png"},
      {R"({"url":  "a"})", L""}, {"{\"url\":\t\"a\"}", L""}, {"{\"url\":\n\"a\"}", L""},
      {R"({"link":"a"})", L""}, {"", L""}, {R"({"url":"", "url" : "b"})", L""},  // empty decides
      {R"({"url" : "b", "url":"cut)", L"b"},  // no closing quote: the next spelling
      {R"({"url":"a\"b"})", L"a\\"}, {R"({"url":"ends\"})", L"ends\\"},
      {R"({"url":"a\u0041\\b\/c\/"})", L"a\\u0041\\\\b/c/"},  // only \/ is undone
      {"{\"url\":\"https://b.example/Gr\xC3\xBC\xC3\x9F" "e.png\"}",
       L"https://b.example/Grüße.png"},
      {"{\"url\":\"x/\xF0\x9F\x8C\xB8\"}", L"x/\U0001F338"},
      {"{\"url\":\"a\xFC.png\"}", L"a\u00FC.png"}};  // not UTF-8: byte by byte
  for (const auto& c : cases) EXPECT_EQ(ExtractUrlFromJson(c.reply), c.link) << c.reply;
}

TEST(ReplyTest, TextsTellWhatHappened) {
  EXPECT_EQ(SendFailedText(0xFFFFFFFFu), L"Senden fehlgeschlagen (Fehlercode: 4294967295)");
  EXPECT_EQ(StatusFailedText(201), L"Server antwortete mit Status 201");
  // Not copied, by choice or for a busy clipboard: the balloon is the only place with the link.
  const struct { bool autoCopy, copied; const wchar_t* text; } cases[] = {
      {true, true, L"Link in Zwischenablage kopiert!"}, {false, false, L"Upload erfolgreich:\nL"},
      {true, false, L"Link konnte nicht in die Zwischenablage kopiert werden:\nL"}};
  for (const auto& c : cases) EXPECT_EQ(SuccessBalloonText(c.autoCopy, c.copied, L"L"), c.text);
}

TEST(CopyTextTest, LinkReplacesEveryFormatButABusyClipboardStaysAsItWasAndSaysSoAtOnce) {
  const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                           nullptr, nullptr));
  const UINT format = RegisterClipboardFormatW(L"SnapwrenTestFormat");
  for (bool busy : {true, false}) {
    ASSERT_TRUE(CopyTextToClipboard(owner.get(), L"vorher"));
    ClipboardGuard(owner.get()), SetClipboardData(format, GlobalAlloc(GMEM_MOVEABLE, 4));
    // Another program holds the clipboard for longer than the copy is willing to wait.
    const UniqueHandle opened(CreateEventW(nullptr, TRUE, !busy, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
      if (!busy) return;
      const UniqueWindow other(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                               nullptr, nullptr));
      const ClipboardGuard clipboard(other.get());
      SetEvent(opened.get()), WaitForSingleObject(release.get(), 5000);
    });
    WaitForSingleObject(opened.get(), 5000);
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(CopyTextToClipboard(owner.get(), L"https://img.example/a.png"), !busy);
    EXPECT_LT(GetTickCount64() - started, 1000u);
    SetEvent(release.get()), holder.join();
    const ClipboardGuard clipboard(nullptr);
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const std::wstring text = static_cast<const wchar_t*>(GlobalLock(data));
    GlobalUnlock(data);
    EXPECT_EQ(text + (IsClipboardFormatAvailable(format) ? L"+" : L""),
              busy ? L"vorher+" : L"https://img.example/a.png");
  }
}

TEST(ProgressViewTest, WindowsStackAboveTheFirstTheSpinnerTurnsAndTheFrameShowsTheState) {
  const struct { int width, height, slot; const char* rect; } cases[] = {
      {1600, 900, 0, "1230,710,1580,850"}, {1600, 900, 1, "1230,560,1580,700"},
      {1600, 900, 4, "1230,110,1580,250"}, {1600, 900, 5, "1230,710,1580,850"},
      {300, 150, 3, "-70,-40,280,100"}};  // too small for one: still the usual place
  for (const auto& c : cases) EXPECT_EQ(Str(ProgressWindowRect(c.width, c.height, c.slot)), c.rect);
  float angle = 0.0f;
  for (int step = 1; step <= 36; ++step) {
    angle = AdvanceSpinnerAngle(angle);
    ASSERT_EQ(angle, static_cast<float>(step % 36 * 10)) << step;
  }
  const GdiplusSession gdiplus;
  auto paint = [](float turned, bool succeeded) {
    auto frame = std::make_unique<Canvas>(344, 110);
    PaintProgress(frame->dc(), {0, 0, 344, 110}, turned, succeeded);
    return frame;
  };
  const auto still = paint(0.0f, false), half = paint(180.0f, false), done = paint(90.0f, true);
  // The first petal 12 pixels right of the centre (35, 40), the others every 72 degrees.
  EXPECT_TRUE(Near(still->At(35, 40), Rgb(255, 220, 180), 2) &&
              Near(still->At(47, 40), 0xFFB6C1, 2) && Near(still->At(39, 51), 0xFFB6C1, 2));
  EXPECT_EQ(still->At(5, 5), Dib(GetSysColor(COLOR_WINDOW)));
  // Half a turn about the centre reflects the flower through it (each petal is an upright
  // ellipse); with five petals that is another picture, so a missing turn fails too.
  int mismatches = 0, differences = 0;
  for (int i = 0; i < 61 * 61; ++i) {
    const int x = 5 + i % 61, y = 10 + i / 61;
    mismatches += Near(half->At(x, y), still->At(70 - x, 80 - y), 80) ? 0 : 1;
    differences += Near(half->At(x, y), still->At(x, y), 40) ? 0 : 1;
  }
  EXPECT_TRUE(mismatches < 10 && differences > 150) << mismatches << " " << differences;
  auto black = [](DWORD p) { return Ch(p, 16) < 80 && Ch(p, 8) < 80 && Ch(p, 0) < 80; };
  auto green = [](DWORD p) { return Ch(p, 8) > 60 && Ch(p, 16) < 60 && Ch(p, 0) < 60; };
  const RECT text = {70, 28, 344, 60};
  EXPECT_TRUE(still->Count(text, black) > 100 && still->Count(text, green) == 0);
  EXPECT_TRUE(done->Count(text, green) > 100 && done->Count(text, black) == 0);
  EXPECT_EQ(still->Count({70, 0, 344, 30}, black) + still->Count({60, 0, 70, 110}, black), 0);
}

static std::vector<BYTE> ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

TEST(FailedUploadTest, KeptWholeUnderADatedNameInAFolderItMakesAndNeverOverAnEarlierOne) {
  const SYSTEMTIME time = {2024, 1, 0, 5, 9, 5, 7, 0};
  EXPECT_EQ(FailedUploadFileName(time, 1), L"Snapwren_2024-01-05_09-05-07.png");
  EXPECT_EQ(FailedUploadFileName(time, 12), L"Snapwren_2024-01-05_09-05-07_12.png");
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = temp + std::to_wstring(GetTickCount64()) + L"-kept";
  const std::vector<BYTE> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 1, 2};
  // Usually within one second, so the second file needs a number.
  const std::wstring first = KeepFailedUploadIn(folder, png);
  const std::wstring second = KeepFailedUploadIn(folder, {1, 2, 3});
  EXPECT_TRUE(first.rfind(folder + L"\\Snapwren_", 0) == 0 && first != second) << second;
  EXPECT_TRUE(ReadFile(first) == png && ReadFile(second) == std::vector<BYTE>({1, 2, 3}));
  EXPECT_EQ(KeepFailedUploadIn(first + L"\\below", png), L"") << "no folder below a file";
  EXPECT_EQ(KeepFailedUploadIn(folder, {}), L"");
  DeleteFileW(first.c_str()), DeleteFileW(second.c_str()), RemoveDirectoryW(folder.c_str());
  PWSTR raw = nullptr;
  SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, &raw);
  const std::wstring pictures = UniqueCoTaskString(raw).get() + std::wstring(L"\\Snapwren");
  const std::wstring kept = KeepFailedUpload(png);
  EXPECT_TRUE(kept.rfind(pictures + L"\\Snapwren_", 0) == 0 && ReadFile(kept) == png) << kept;
  DeleteFileW(kept.c_str()), RemoveDirectoryW(pictures.c_str());
}

TEST(FailedUploadTest, BalloonNamesThePathCutAtItsStartToFitOrSaysNothingWasKept) {
  EXPECT_EQ(FailureBalloonText(L"C:\\Bilder\\Snapwren_1.png"),
            L"Upload fehlgeschlagen!\nScreenshot gespeichert unter:\nC:\\Bilder\\Snapwren_1.png");
  EXPECT_EQ(FailureBalloonText(L""),
            L"Upload fehlgeschlagen!\nDer Screenshot konnte nicht gespeichert werden.");
  const std::wstring tail = L"\\deep\\Snapwren\\Snapwren_2024-01-05_09-05-07.png";
  const std::wstring text = FailureBalloonText(L"C:\\" + std::wstring(240, L'x') + tail);
  EXPECT_LE(text.size(), 255u);
  EXPECT_EQ(text.substr(0, 23) + text.substr(text.size() - tail.size() - 1),
            L"Upload fehlgeschlagen!\n\u2026" + tail);
}
