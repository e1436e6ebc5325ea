#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "update/update_download.h"

namespace {

TEST(DownloadTargetTest, FallbackFolderIsTheExecutablesFolder) {
  EXPECT_EQ(FolderOf(L"C:\\Programme\\Snapwren\\Snapwren.exe"), L"C:\\Programme\\Snapwren");
  EXPECT_EQ(FolderOf(L"C:\\Snapwren.exe"), L"C:");
  EXPECT_EQ(FolderOf(L"Snapwren.exe"), L"Snapwren.exe");
  EXPECT_EQ(UpdateFileIn(FolderOf(L"D:\\Tools\\Snapwren.exe")), L"D:\\Tools\\Snapwren_Update.exe");
}

TEST(DownloadTargetTest, InstallerGoesIntoTheDownloadsFolder) {
  const std::wstring target = UpdateTargetPath();
  const std::wstring suffix = L"\\Downloads\\Snapwren_Update.exe";
  ASSERT_GT(target.size(), suffix.size());
  EXPECT_EQ(target.substr(target.size() - suffix.size()), suffix);
}

TEST(ContentLengthTest, OnlyPlainDecimalNumbersAreLengths) {
  EXPECT_EQ(ParseContentLength(L"0"), 0u);
  EXPECT_EQ(ParseContentLength(L"5242880"), 5242880u);
  EXPECT_EQ(ParseContentLength(L"8589934592"), 8589934592u) << "beyond 32 bits";
  EXPECT_FALSE(ParseContentLength(L""));
  EXPECT_FALSE(ParseContentLength(L"-1"));
  EXPECT_FALSE(ParseContentLength(L"12 34"));
  EXPECT_FALSE(ParseContentLength(L"0x10"));
  EXPECT_FALSE(ParseContentLength(L"99999999999999999999")) << "would overflow";
}

}  // namespace
