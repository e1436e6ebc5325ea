// The bytes of an upload, the link in the reply, what the user is told and shown, and where the
// screenshot of a failed upload is kept.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "app/gdiplus_handles.h"
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
    values.pop_front();
    return value;
  };
  std::string drawn;
  for (int i = 0; i < 3; ++i) drawn += DrawBoundaryChar(next);
  EXPECT_EQ(drawn, "0zU");
  EXPECT_TRUE(values.empty());
}

TEST(BoundaryTest, FreshForEveryUploadAndDrawnFromTheWholeAlphabet) {
  std::set<std::string> boundaries;
  std::set<char> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string boundary = MakeBoundary();
    ASSERT_EQ(boundary.rfind("----SnapwrenBoundary", 0), 0u);
    ASSERT_EQ(boundary.size(), 20u + 16u);
    ASSERT_EQ(boundary.find_first_not_of(kBoundaryAlphabet, 20), std::string::npos) << boundary;
    boundaries.insert(boundary);
    seen.insert(boundary.begin() + 20, boundary.end());
  }
  // A generator seeded from anything but the system's random source repeats itself within
  // this many; 3,200 draws miss one of 62 characters with a probability of about 1e-21.
  EXPECT_EQ(boundaries.size(), 200u);
  EXPECT_EQ(seen.size(), 62u);
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
      {R"({"link":"a"})", L""}, {"", L""},
      {R"({"url":"", "url" : "b"})", L""},         // an empty value decides
      {R"({"url" : "b", "url":"cut)", L"b"},       // no closing quote: the next spelling
      {R"({"url":"a\"b"})", L"a\\"}, {R"({"url":"ends\"})", L"ends\\"},
      {R"({"url":"a\u0041\\b\/c\/"})", L"a\\u0041\\\\b/c/"},  // only \/ is undone
      {"{\"url\":\"https://b.example/Gr\xC3\xBC\xC3\x9F" "e.png\"}", L"https://b.example/Grüße.png"},
      {"{\"url\":\"x/\xF0\x9F\x8C\xB8\"}", L"x/\U0001F338"},
      {"{\"url\":\"a\xFC.png\"}", L"a\u00FC.png"}};  // not UTF-8: byte by byte
  for (const auto& c : cases) EXPECT_EQ(ExtractUrlFromJson(c.reply), c.link) << c.reply;
}

TEST(ReplyTest, TextsTellWhatHappened) {
  EXPECT_EQ(SendFailedText(0xFFFFFFFFu), L"Senden fehlgeschlagen (Fehlercode: 4294967295)");
  EXPECT_EQ(StatusFailedText(201), L"Server antwortete mit Status 201");
  const std::wstring link = L"https://img.example/Grüße.png";
  EXPECT_EQ(SuccessBalloonText(true, true, link), L"Link in Zwischenablage kopiert!");
  // Not copied, by choice or for a busy clipboard: the balloon is the only place with the link.
  EXPECT_EQ(SuccessBalloonText(false, false, link), L"Upload erfolgreich:\n" + link);
  EXPECT_EQ(SuccessBalloonText(true, false, link),
            L"Link konnte nicht in die Zwischenablage kopiert werden:\n" + link);
}

static std::wstring ClipboardText(UINT privateFormat) {
  const ClipboardGuard clipboard(nullptr);
  const HANDLE data = GetClipboardData(CF_UNICODETEXT);
  std::wstring text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : L"-";
  if (data) GlobalUnlock(data);
  return text + (IsClipboardFormatAvailable(privateFormat) ? L"+" : L"");
}

TEST(CopyTextTest, LinkReplacesEveryFormatButABusyClipboardStaysAsItWas) {
  const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                           nullptr, nullptr));
  const UINT format = RegisterClipboardFormatW(L"SnapwrenTestFormat");
  for (bool busy : {true, false}) {
    ASSERT_TRUE(CopyTextToClipboard(owner.get(), L"vorher"));
    {
      const ClipboardGuard clipboard(owner.get());
      SetClipboardData(format, GlobalAlloc(GMEM_MOVEABLE, 4));
    }
    // Another program holds the clipboard for longer than the copy is willing to wait.
    const UniqueHandle opened(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder;
    if (busy) {
      holder = std::thread([&] {
        const UniqueWindow other(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr,
                                                 nullptr, nullptr, nullptr));
        const ClipboardGuard clipboard(other.get());
        SetEvent(opened.get());
        WaitForSingleObject(release.get(), 5000);
      });
      WaitForSingleObject(opened.get(), 5000);
    }
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(CopyTextToClipboard(owner.get(), L"https://img.example/a.png"), !busy);
    EXPECT_LT(GetTickCount64() - started, 1000u);
    SetEvent(release.get());
    if (holder.joinable()) holder.join();
    EXPECT_EQ(ClipboardText(format), busy ? L"vorher+" : L"https://img.example/a.png");
  }
}

TEST(ProgressViewTest, WindowsStackAboveTheFirstAndTheSpinnerTurnsInTenDegreeSteps) {
  const struct { int width, height, slot; const char* rect; } cases[] = {
      {1600, 900, 0, "1230,710,1580,850"}, {1600, 900, 1, "1230,560,1580,700"},
      {1600, 900, 4, "1230,110,1580,250"}, {1600, 900, 5, "1230,710,1580,850"},
      {300, 150, 3, "-70,-40,280,100"}};  // too small for one: still the usual place
  for (const auto& c : cases) {
    const RECT r = ProgressWindowRect(c.width, c.height, c.slot);
    EXPECT_EQ(std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                  std::to_string(r.right) + "," + std::to_string(r.bottom), c.rect) << c.slot;
  }
  float angle = 0.0f;
  for (int step = 1; step <= 36; ++step) {
    angle = AdvanceSpinnerAngle(angle);
    ASSERT_EQ(angle, static_cast<float>(step % 36 * 10)) << step;
  }
}

// A frame painted into a 32-bit DIB section read pixel by pixel.
class ProgressPaintTest : public ::testing::Test {
 protected:
  struct Frame {
    DWORD pixels[110][344] = {};
    COLORREF At(int x, int y) const {
      const DWORD bgr = pixels[y][x];
      return RGB(bgr >> 16 & 0xFF, bgr >> 8 & 0xFF, bgr & 0xFF);
    }
    template <typename Match>
    int Count(RECT area, Match match) const {
      int count = 0;
      for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) count += match(At(x, y)) ? 1 : 0;
      }
      return count;
    }
  };
  static std::unique_ptr<Frame> Paint(float angle, bool succeeded) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, 344, -110, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    const SelectGuard select(dc.get(), bitmap.get());
    PaintProgress(dc.get(), {0, 0, 344, 110}, angle, succeeded);
    GdiFlush();
    auto frame = std::make_unique<Frame>();
    std::memcpy(frame->pixels, bits, sizeof frame->pixels);
    return frame;
  }
  static bool Near(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
           std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
  }
  GdiplusSession gdiplus_;
};

TEST_F(ProgressPaintTest, PinkPetalsTurnAboutTheCentreBesideTheStateInItsColour) {
  const auto still = Paint(0.0f, false);
  // The first petal 12 pixels right of the centre (35, 40), the others every 72 degrees.
  EXPECT_TRUE(Near(still->At(35, 40), RGB(255, 220, 180), 2));
  EXPECT_TRUE(Near(still->At(47, 40), RGB(255, 182, 193), 2));
  EXPECT_TRUE(Near(still->At(39, 51), RGB(255, 182, 193), 2));
  EXPECT_TRUE(Near(still->At(5, 5), GetSysColor(COLOR_WINDOW), 0));
  // Half a turn about the centre reflects the flower through it (each petal is an upright
  // ellipse); with five petals that is another picture, so a missing turn fails too.
  const auto half = Paint(180.0f, false);
  int mismatches = 0, differences = 0;
  for (int y = 10; y <= 70; ++y) {
    for (int x = 5; x <= 65; ++x) {
      mismatches += Near(half->At(x, y), still->At(70 - x, 80 - y), 80) ? 0 : 1;
      differences += Near(half->At(x, y), still->At(x, y), 40) ? 0 : 1;
    }
  }
  EXPECT_LT(mismatches, 10);  // antialiased edges land a pixel apart here and there
  EXPECT_GT(differences, 150);
  const auto done = Paint(90.0f, true);
  auto black = [](COLORREF c) { return GetRValue(c) < 80 && GetGValue(c) < 80 && GetBValue(c) < 80; };
  auto green = [](COLORREF c) { return GetGValue(c) > 60 && GetRValue(c) < 60 && GetBValue(c) < 60; };
  const RECT text = {70, 28, 344, 60};
  EXPECT_TRUE(still->Count(text, black) > 100 && still->Count(text, green) == 0);
  EXPECT_TRUE(done->Count(text, green) > 100 && done->Count(text, black) == 0);
  EXPECT_EQ(still->Count({70, 0, 344, 30}, black) + still->Count({60, 0, 70, 110}, black), 0);
}

static std::vector<BYTE> ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

TEST(FailedUploadTest, FileNamesAreDatedZeroPaddedAndNumberedFromTheSecondOn) {
  const SYSTEMTIME time = {2024, 1, 0, 5, 9, 5, 7, 0};
  EXPECT_EQ(FailedUploadFileName(time, 1), L"Snapwren_2024-01-05_09-05-07.png");
  EXPECT_EQ(FailedUploadFileName(time, 2), L"Snapwren_2024-01-05_09-05-07_2.png");
  EXPECT_EQ(FailedUploadFileName(time, 12), L"Snapwren_2024-01-05_09-05-07_12.png");
}

TEST(FailedUploadTest, KeptWholeInAFolderItMakesAndNeverOverAnEarlierOne) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = temp + std::to_wstring(GetTickCount64()) + L"-kept";
  const std::vector<BYTE> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 1, 2};
  // Usually within one second, so the second file needs a number.
  const std::wstring first = KeepFailedUploadIn(folder, png);
  const std::wstring second = KeepFailedUploadIn(folder, {1, 2, 3});
  EXPECT_EQ(first.rfind(folder + L"\\Snapwren_", 0), 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(ReadFile(first), png);
  EXPECT_EQ(ReadFile(second), (std::vector<BYTE>{1, 2, 3}));
  EXPECT_EQ(KeepFailedUploadIn(first + L"\\below", png), L"") << "no folder below a file";
  EXPECT_EQ(KeepFailedUploadIn(folder, {}), L"");
  DeleteFileW(first.c_str());
  DeleteFileW(second.c_str());
  RemoveDirectoryW(folder.c_str());

  PWSTR raw = nullptr;
  SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, &raw);
  const UniqueCoTaskString pictures(raw);
  const std::wstring kept = KeepFailedUpload(png);
  EXPECT_EQ(kept.rfind(std::wstring(pictures.get()) + L"\\Snapwren\\Snapwren_", 0), 0u);
  EXPECT_EQ(ReadFile(kept), png);
  DeleteFileW(kept.c_str());
  RemoveDirectoryW((std::wstring(pictures.get()) + L"\\Snapwren").c_str());
}

TEST(FailedUploadTest, BalloonNamesThePathCutAtItsStartToFitOrSaysNothingWasKept) {
  EXPECT_EQ(FailureBalloonText(L"C:\\Bilder\\Snapwren\\Snapwren_1.png"),
            L"Upload fehlgeschlagen!\nScreenshot gespeichert unter:\n"
            L"C:\\Bilder\\Snapwren\\Snapwren_1.png");
  EXPECT_EQ(FailureBalloonText(L""),
            L"Upload fehlgeschlagen!\nDer Screenshot konnte nicht gespeichert werden.");
  const std::wstring tail = L"\\deep\\Snapwren\\Snapwren_2024-01-05_09-05-07.png";
  const std::wstring text = FailureBalloonText(L"C:\\" + std::wstring(240, L'x') + tail);
  EXPECT_LE(text.size(), 255u);
  EXPECT_EQ(text.rfind(L"Upload fehlgeschlagen!\n", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - tail.size() - 1), L"\u2026" + tail);
}
