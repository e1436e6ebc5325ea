#include "history/history.h"

#include "app/app.h"
#include "app/messages.h"
#include "app/png.h"
#include "app/text.h"
#include "unit/support.h"

static std::wstring Describe(const HistoryEntry& e) {
  return std::to_wstring(e.id) + L" " + std::to_wstring(e.time) + L" " +
         std::to_wstring(static_cast<int>(e.kind)) + std::to_wstring(e.deleted) + L" " +
         std::to_wstring(e.pictureBytes) + L" " + e.path + L"|" + e.link + L"|" + e.deleteUrl;
}
static std::wstring Describe(const std::vector<HistoryEntry>& entries) {
  std::wstring all;
  for (const HistoryEntry& e : entries) all += Describe(e) + L"\n";
  return all;
}
static HistoryEntry Entry(uint64_t id, uint64_t bytes) {
  HistoryEntry e;
  e.id = id, e.time = 1700000000 + static_cast<int64_t>(id), e.pictureBytes = bytes;
  return e;
}

TEST(HistoryIndexTest, ReadsBackWhatItWroteAndRefusesADamagedOrForeignIndexWhole) {
  HistoryEntry saved = Entry(0x18c0ffee, 4096), uploaded = Entry(2, 7);
  saved.kind = HistoryKind::Saved, saved.path = L"C:\\Bilder\\Grüße\tx.png";
  uploaded.kind = HistoryKind::Uploaded, uploaded.deleted = true;
  uploaded.link = L"https://i.example/a.png", uploaded.deleteUrl = L"https://i.example/d?s=1";
  std::string text = FormatHistoryIndex({saved, uploaded, Entry(1, 0)});
  const auto read = ParseHistoryIndex(text);
  ASSERT_TRUE(read);
  saved.path = L"C:\\Bilder\\Grüßex.png";  // a control character never splits a field
  EXPECT_EQ(Describe(*read), Describe({saved, uploaded, Entry(1, 0)}));
  // Text mode puts CR LF on the disk.
  std::string crlf;
  for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_TRUE(ParseHistoryIndex(crlf));
  const std::string header = "SnapwrenHistory\t1\n", good = "1\t5\tcopied\t0\t9\t\t\t\n";
  EXPECT_EQ(ParseHistoryIndex(header)->size(), 0u);
  for (const std::string& bad :
       {std::string(), std::string("SnapwrenHistory\t2\n") + good, "[General]\nKey=1\n" + good,
        header + "1\t5\tcopied\t0\t9\t\t\n", header + "1\t5\tpinned\t0\t9\t\t\t\n",
        header + "1\t5\tcopied\t2\t9\t\t\t\n", header + "zz\t5\tcopied\t0\t9\t\t\t\n",
        header + "1\t-5\tcopied\t0\t9\t\t\t\n", header + good + good,
        header + "1\t99999999999999999999\tcopied\t0\t9\t\t\t\n"}) {
    EXPECT_FALSE(ParseHistoryIndex(bad)) << bad;
  }
}

TEST(HistoryIndexTest, TrimmingDropsTheOldestFirstToTwentyAndToTheByteLimit) {
  const uint64_t mb = 1024 * 1024;
  const struct { std::vector<uint64_t> bytes; size_t kept; } cases[] = {
      {std::vector<uint64_t>(25, 1), 20}, {std::vector<uint64_t>(20, 10 * mb), 20},
      {{150 * mb, 50 * mb, 1}, 2}, {{150 * mb, 60 * mb, 1}, 1}, {{201 * mb, 1}, 0}, {{}, 0}};
  for (const auto& c : cases) {
    std::vector<HistoryEntry> entries;
    for (size_t i = 0; i < c.bytes.size(); ++i) entries.push_back(Entry(100 - i, c.bytes[i]));
    const std::vector<HistoryEntry> removed =
        TrimHistory(entries, kMaxHistoryEntries, kMaxHistoryBytes);
    EXPECT_EQ(entries.size(), c.kept);
    EXPECT_EQ(removed.size(), c.bytes.size() - c.kept);
    if (!removed.empty()) {
      EXPECT_EQ(removed.front().id, 100 - c.kept) << "the newest removed";
    }
  }
}

TEST(HistoryIndexTest, MenuTextsGiveTheTimeAndWhatHappenedAndOnlyHttpsLinksAreKept) {
  const int64_t now = 1765180800;  // a day's start in UTC
  HistoryEntry e = Entry(1, 0);
  e.time = now + 3600 * 12, e.kind = HistoryKind::Uploaded;
  const std::wstring today = HistoryEntryText(e, e.time + 60, false);
  EXPECT_EQ(today.size(), 18u) << today;  // "hh:mm  hochgeladen"
  EXPECT_EQ(today.substr(5), L"  hochgeladen");
  e.deleted = true;
  const std::wstring earlier = HistoryEntryText(e, e.time + 3 * 86400, true);
  EXPECT_EQ(earlier.substr(2, 1) + earlier.substr(5, 2) + earlier.substr(14), L".. uploaded, deleted")
      << earlier;
  for (const auto& [link, safe] : std::vector<std::pair<std::wstring, bool>>{
           {L"https://i.example/a.png", true}, {L"http://i.example/a.png", false},
           {L"https://", false}, {L"https://i.example/\r\ncalc.exe", false},
           {L"file:///C:/Windows/calc.exe", false}, {L"javascript:alert(1)", false}}) {
    EXPECT_EQ(SafeLink(link), safe ? link : L"") << link;
  }
}

// The tray window's part: it hands the workers' reports to the history.
static LRESULT CALLBACK HistoryTray(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_HISTORY_RECORDED && message <= WM_HISTORY_DELETED) {
    OnHistoryMessage(message, lParam);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

class HistoryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    SetWindowLongPtrW(tray_.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HistoryTray));
    g_trayWnd = tray_.get();
    CreateDirectoryW(folder_.c_str(), nullptr);
    LoadHistory(folder_);
  }
  void TearDown() override {
    ClearHistory(), Pump([] { return true; });
    DeleteFileW((folder_ + L"\\index.txt").c_str());
    DeleteFileW((folder_ + L"\\index.damaged.txt").c_str());
    RemoveDirectoryW(folder_.c_str());
    g_trayWnd = nullptr, AppSettings = saved_;
  }
  template <typename Done>
  static void Pump(Done done) {
    for (const auto until = GetTickCount64() + 20000; !done() && GetTickCount64() < until;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
    }
  }
  static std::vector<BYTE> Png(int seed) {
    DWORD* bits = nullptr;
    const UniqueBitmap bitmap(MakeDib(8 + seed, 6, &bits, true));
    return EncodePng(bitmap.get());
  }
  std::wstring Picture(uint64_t id) const { return folder_ + L"\\" + HistoryPictureName(id); }
  std::string Index() const {
    const auto b = FileBytes(folder_ + L"\\index.txt");
    return {b.begin(), b.end()};
  }
  const GdiplusSession gdiplus_;
  const Settings saved_ = AppSettings;
  const UniqueWindow tray_{CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                           nullptr, nullptr, nullptr)};
  const std::wstring folder_ = std::to_wstring(GetTickCount64()) + L"-history";
};

TEST_F(HistoryStoreTest, KeepsTwentyResultsWithTheirPicturesAcrossARestartAndClearsThemWhole) {
  const std::vector<BYTE> first = Png(0);
  RecordUploaded(first, L"https://i.example/0.png", L"https://i.example/d?s=0");
  Pump([] { return HistoryEntries().size() == 1; });
  for (int i = 1; i <= 20; ++i) RecordSavedPng(Png(i % 3), L"C:\\shot" + std::to_wstring(i));
  Pump([] { return HistoryEntries().size() == 20 && HistoryEntries().back().path == L"C:\\shot1"; });
  const std::vector<HistoryEntry> kept = HistoryEntries();
  ASSERT_EQ(kept.size(), 20u);
  EXPECT_EQ(kept.front().path, L"C:\\shot20") << "newest first";
  const uint64_t oldest = kept.back().id - 1;  // the upload, recorded first and dropped
  EXPECT_EQ(GetFileAttributesW(Picture(oldest).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(FileBytes(Picture(kept.back().id)), Png(1));
  EXPECT_EQ(kept.back().pictureBytes, Png(1).size());
  // A restart reads the same index; a missing picture only loses its thumbnail.
  DeleteFileW(Picture(kept.front().id).c_str());
  LoadHistory(folder_);
  EXPECT_EQ(Describe(HistoryEntries()), Describe(kept));
  ClearHistory();
  EXPECT_TRUE(HistoryEntries().empty());
  EXPECT_EQ(GetFileAttributesW(Picture(kept.back().id).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Index(), "SnapwrenHistory\t1\r\n");
}

TEST_F(HistoryStoreTest, ADamagedIndexIsSetAsideAndNothingIsRecordedWithTheSwitchOff) {
  std::ofstream((folder_ + L"\\index.txt").c_str(), std::ios::binary) << "SnapwrenHistory\t1\nkaputt\n";
  LoadHistory(folder_);
  EXPECT_TRUE(HistoryEntries().empty());
  const auto damaged = FileBytes(folder_ + L"\\index.damaged.txt");
  EXPECT_EQ(std::string(damaged.begin(), damaged.end()), "SnapwrenHistory\t1\nkaputt\n");
  AppSettings.SaveHistory = false;
  RecordUploaded(Png(0), L"https://i.example/0.png", L"");
  AppSettings.SaveHistory = true;
  RecordUploaded(Png(1), L"https://i.example/1.png", L"http://i.example/d");
  Pump([] { return !HistoryEntries().empty(); });
  ASSERT_EQ(HistoryEntries().size(), 1u);
  EXPECT_EQ(HistoryEntries()[0].link, L"https://i.example/1.png");
  EXPECT_EQ(HistoryEntries()[0].deleteUrl, L"") << "a secret never goes out in clear text";
  // Its submenu offers the link but no deletion, with the thumbnail beside it.
  UniqueMenu menu(CreatePopupMenu());
  AppendHistoryMenu(menu.get());
  MENUITEMINFOW item = {};
  item.cbSize = sizeof item, item.fMask = MIIM_SUBMENU | MIIM_BITMAP;
  const HMENU history = GetSubMenu(menu.get(), 0);
  ASSERT_TRUE(GetMenuItemInfoW(history, 0, TRUE, &item));
  EXPECT_NE(item.hbmpItem, nullptr);
  EXPECT_EQ(GetMenuItemCount(item.hSubMenu), 2);
  EXPECT_EQ(GetMenuItemCount(history), 3) << "the entry, a separator and \"Verlauf leeren\"";
}
