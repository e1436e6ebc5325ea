#include "upload/failed_upload.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <string>

#include "app/win_handles.h"

namespace {

std::vector<BYTE> ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A folder below %TEMP% that does not exist yet, removed with its files afterwards.
class TempFolder {
 public:
  TempFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"snapwren-kept-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(GetTickCount64());
  }
  ~TempFolder() {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileW((path_ + L"\\" + found.cFileName).c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

const std::vector<BYTE> kPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 1, 2};

TEST(FailedUploadFileName, IsDatedWithZeroPaddedFieldsAndNumberedFromTheSecondOn) {
  SYSTEMTIME time = {};
  time.wYear = 2024;
  time.wMonth = 1;
  time.wDay = 5;
  time.wHour = 9;
  time.wMinute = 5;
  time.wSecond = 7;
  EXPECT_EQ(FailedUploadFileName(time, 1), L"Snapwren_2024-01-05_09-05-07.png");
  EXPECT_EQ(FailedUploadFileName(time, 2), L"Snapwren_2024-01-05_09-05-07_2.png");
  EXPECT_EQ(FailedUploadFileName(time, 12), L"Snapwren_2024-01-05_09-05-07_12.png");
}

TEST(KeepFailedUpload, CreatesTheFolderAndWritesThePngWhole) {
  TempFolder folder;
  const std::wstring path = KeepFailedUploadIn(folder.path(), kPng);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.rfind(folder.path() + L"\\Snapwren_", 0), 0u);
  EXPECT_EQ(ReadFile(path), kPng);
}

TEST(KeepFailedUpload, NeverReplacesAnEarlierScreenshot) {
  TempFolder folder;
  const std::vector<BYTE> other = {1, 2, 3};
  // Usually within one second, so the second file needs a number.
  const std::wstring first = KeepFailedUploadIn(folder.path(), kPng);
  const std::wstring second = KeepFailedUploadIn(folder.path(), other);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(ReadFile(first), kPng);
  EXPECT_EQ(ReadFile(second), other);
}

TEST(KeepFailedUpload, ReportsAFolderThatCannotBeMade) {
  TempFolder folder;
  ASSERT_FALSE(KeepFailedUploadIn(folder.path(), kPng).empty());
  // Below a file there can be no folder.
  const std::wstring file = KeepFailedUploadIn(folder.path(), kPng);
  EXPECT_EQ(KeepFailedUploadIn(file + L"\\below", kPng), L"");
  EXPECT_EQ(KeepFailedUploadIn(folder.path(), {}), L"");
}

TEST(KeepFailedUpload, GoesToSnapwrenInThePicturesFolder) {
  PWSTR raw = nullptr;
  SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, &raw);
  const UniqueCoTaskString pictures(raw);
  ASSERT_TRUE(pictures);
  // Wine links Pictures to the tester's home: whatever this test adds there, it takes away.
  const std::wstring folder = std::wstring(pictures.get()) + L"\\Snapwren";
  const bool folderExisted = GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;

  const std::wstring path = KeepFailedUpload(kPng);
  EXPECT_EQ(path.rfind(folder + L"\\Snapwren_", 0), 0u);
  EXPECT_EQ(ReadFile(path), kPng);

  if (!path.empty()) DeleteFileW(path.c_str());
  if (!folderExisted) RemoveDirectoryW(folder.c_str());
}

TEST(FailureBalloonText, BeginsWithTheFailureAndSaysWhereTheScreenshotIs) {
  EXPECT_EQ(FailureBalloonText(L"C:\\Bilder\\Snapwren\\Snapwren_1.png"),
            L"Upload fehlgeschlagen!\nScreenshot gespeichert unter:\n"
            L"C:\\Bilder\\Snapwren\\Snapwren_1.png");
  EXPECT_EQ(FailureBalloonText(L""),
            L"Upload fehlgeschlagen!\nDer Screenshot konnte nicht gespeichert werden.");
}

TEST(FailureBalloonText, ShortensALongPathAtItsStartToFitTheBalloon) {
  const std::wstring tail = L"\\Snapwren\\Snapwren_2024-01-05_09-05-07.png";
  const std::wstring path = L"C:\\" + std::wstring(240, L'x') + L"\\deep" + tail;
  const std::wstring text = FailureBalloonText(path);
  EXPECT_LE(text.size(), 255u);
  EXPECT_EQ(text.rfind(L"Upload fehlgeschlagen!\n", 0), 0u);
  EXPECT_NE(text.find(L"\u2026\\deep" + tail), std::wstring::npos) << text.size();
}

}  // namespace
