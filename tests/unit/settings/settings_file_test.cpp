#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "settings/settings.h"

namespace {

constexpr char kDefaultFileBytes[] =
    "[General]\r\nAutoCopyLink=1\r\nCaptureCursor=0\r\nRememberSelection=0\r\nLanguage=0\r\n"
    "\r\n[Selection]\r\nLeft=0\r\nTop=0\r\nRight=0\r\nBottom=0\r\n"
    "\r\n[Hotkeys]\r\nModifiers=6\r\nKey=83\r\n";

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    directory_ = std::wstring(folder) + L"snapwren-settings-test-" +
                 std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(directory_.c_str(), nullptr);
    path_ = directory_ + L"\\settings.ini";
  }
  void TearDown() override {
    DeleteFileW(path_.c_str());
    DeleteFileW((path_ + L".tmp").c_str());
    RemoveDirectoryW(directory_.c_str());
  }

  void WriteBytes(const std::string& bytes) {
    FILE* file = nullptr;
    ASSERT_EQ(_wfopen_s(&file, path_.c_str(), L"wb"), 0);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  std::string ReadBytes() {
    FILE* file = nullptr;
    if (_wfopen_s(&file, path_.c_str(), L"rb") != 0) return {};
    std::string content;
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, count);
    fclose(file);
    return content;
  }
  Settings LoadText(const std::string& bytes) {
    WriteBytes(bytes);
    Settings settings;
    EXPECT_TRUE(LoadSettingsFrom(path_, settings));
    return settings;
  }

  std::wstring directory_;
  std::wstring path_;
};

TEST_F(SettingsFileTest, MissingFileKeepsDefaults) {
  Settings settings;
  EXPECT_FALSE(LoadSettingsFrom(path_, settings));
  EXPECT_TRUE(settings.AutoCopyLink);
  EXPECT_FALSE(settings.CaptureCursor);
  EXPECT_EQ(settings.Language, 0);
  EXPECT_EQ(settings.Modifiers, static_cast<UINT>(MOD_CONTROL | MOD_SHIFT));
  EXPECT_EQ(settings.Key, static_cast<UINT>('S'));
}

TEST_F(SettingsFileTest, DefaultsAreWrittenByteForByteWithCrLf) {
  ASSERT_TRUE(SaveSettingsTo(path_, Settings{}));
  EXPECT_EQ(ReadBytes(), kDefaultFileBytes);
}

TEST_F(SettingsFileTest, PartialFileChangesOnlyItsKeys) {
  Settings settings = LoadText("Key=80\n");
  EXPECT_EQ(settings.Key, 80u);
  EXPECT_EQ(settings.Modifiers, 6u);
  EXPECT_TRUE(settings.AutoCopyLink);
  EXPECT_EQ(settings.Language, 0);
}

TEST_F(SettingsFileTest, ValuesAreTakenUncheckedAndBooleansNormalisedOnSave) {
  Settings settings = LoadText("AutoCopyLink=5\nCaptureCursor=-3\nLanguage=7\nLeft=-1280\n"
                               "Modifiers=4294967295\n");
  EXPECT_TRUE(settings.AutoCopyLink);
  EXPECT_TRUE(settings.CaptureCursor);
  EXPECT_EQ(settings.Language, 7);
  EXPECT_EQ(settings.Selection.left, -1280);
  EXPECT_EQ(settings.Modifiers, 4294967295u);

  ASSERT_TRUE(SaveSettingsTo(path_, settings));
  const std::string saved = ReadBytes();
  EXPECT_NE(saved.find("AutoCopyLink=1\r\n"), std::string::npos);
  EXPECT_NE(saved.find("CaptureCursor=1\r\n"), std::string::npos);
  EXPECT_NE(saved.find("Language=7\r\n"), std::string::npos);
  EXPECT_NE(saved.find("Left=-1280\r\n"), std::string::npos);
  EXPECT_NE(saved.find("Modifiers=4294967295\r\n"), std::string::npos);
}

TEST_F(SettingsFileTest, KeysAreFoundInAnySectionAndTheLastOneWins) {
  Settings settings = LoadText("[General]\nModifiers=1\n[Hotkeys]\nKey=70\nKey=71\n");
  EXPECT_EQ(settings.Modifiers, 1u);
  EXPECT_EQ(settings.Key, 71u);
}

TEST_F(SettingsFileTest, LinesMustStartWithTheExactKey) {
  Settings settings =
      LoadText(" Key=80\nkey=81\nKey =82\n; Key=83\nModifiers= 3\nLanguage=1abc\nTop=12 # x\n");
  EXPECT_EQ(settings.Key, static_cast<UINT>('S'));
  EXPECT_EQ(settings.Modifiers, 3u);
  EXPECT_EQ(settings.Language, 1);
  EXPECT_EQ(settings.Selection.top, 12);
}

TEST_F(SettingsFileTest, LineWithoutNumberIsSkippedAndTheRestStillLoads) {
  Settings settings = LoadText("Key=\nKey=abc\nLanguage=1\n");
  EXPECT_EQ(settings.Key, static_cast<UINT>('S'));
  EXPECT_EQ(settings.Language, 1);
}

TEST_F(SettingsFileTest, LongLineIsReadInPiecesOf255) {
  // The first piece holds 255 characters; the second starts with "Key=80".
  std::string line(255, 'x');
  line += "Key=80";
  line += std::string(39, 'y');
  Settings settings = LoadText(line + "\nLanguage=1\n");
  EXPECT_EQ(settings.Key, 80u);
  EXPECT_EQ(settings.Language, 1);

  std::string offByOne(254, 'x');
  offByOne += "Key=81\n";
  EXPECT_EQ(LoadText(offByOne).Key, static_cast<UINT>('S'));
}

TEST_F(SettingsFileTest, RoundTripReproducesTheRecord) {
  Settings original;
  original.AutoCopyLink = false;
  original.CaptureCursor = true;
  original.RememberSelection = true;
  original.Language = -2;
  original.Selection = {-1280, -5, 3199, 1079};
  original.Modifiers = MOD_ALT | MOD_CONTROL;
  original.Key = VK_F5;
  ASSERT_TRUE(SaveSettingsTo(path_, original));

  Settings loaded;
  loaded.Key = 1;
  ASSERT_TRUE(LoadSettingsFrom(path_, loaded));
  EXPECT_EQ(loaded.AutoCopyLink, original.AutoCopyLink);
  EXPECT_EQ(loaded.CaptureCursor, original.CaptureCursor);
  EXPECT_EQ(loaded.RememberSelection, original.RememberSelection);
  EXPECT_EQ(loaded.Language, original.Language);
  EXPECT_TRUE(EqualRect(&loaded.Selection, &original.Selection));
  EXPECT_EQ(loaded.Modifiers, original.Modifiers);
  EXPECT_EQ(loaded.Key, original.Key);
}

TEST_F(SettingsFileTest, FailedSaveLeavesThePreviousFileIntact) {
  ASSERT_TRUE(SaveSettingsTo(path_, Settings{}));
  // A directory where the temporary file would go makes the write fail before any swap.
  const std::wstring blocker = path_ + L".tmp";
  ASSERT_TRUE(CreateDirectoryW(blocker.c_str(), nullptr));
  Settings changed;
  changed.Key = 'Q';
  EXPECT_FALSE(SaveSettingsTo(path_, changed));
  RemoveDirectoryW(blocker.c_str());
  EXPECT_EQ(ReadBytes(), kDefaultFileBytes);
}

TEST_F(SettingsFileTest, SaveReplacesAnExistingFileWhole) {
  WriteBytes(std::string(4000, 'z') + "\n");
  ASSERT_TRUE(SaveSettingsTo(path_, Settings{}));
  EXPECT_EQ(ReadBytes(), kDefaultFileBytes);
}

TEST_F(SettingsFileTest, SaveIntoAMissingFolderFailsAndWritesNothing) {
  const std::wstring missing = directory_ + L"\\missing\\settings.ini";
  EXPECT_FALSE(SaveSettingsTo(missing, Settings{}));
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
