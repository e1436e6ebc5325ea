#include "settings/settings.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "app/text.h"
#include "app/win_handles.h"

Settings AppSettings;

namespace {

// fgets reads at most this many bytes less one; a longer line arrives in pieces, each
// matched on its own.
constexpr int kLineBufferSize = 256;
// Notepad starts the UTF-8 files it saves with this.
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

struct StdFileTraits {
  using Type = FILE*;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { fclose(value); }
};
using UniqueStdFile = UniqueResource<StdFileTraits>;

constexpr char kUploadUrlKey[] = "UploadUrl=";
constexpr char kUploadTokenKey[] = "UploadToken=";

bool StartsWith(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// Addresses and keys may be longer than one read of the line: they are taken whole.
bool IsTextSetting(const char* line) {
  return StartsWith(line, kUploadUrlKey) || StartsWith(line, kUploadTokenKey);
}

bool EndsLine(const std::string& line) { return !line.empty() && line.back() == '\n'; }

// The value as it stands after the key, without the line end: a key may well end in blanks.
std::wstring TextValue(const char* line, const char* key) {
  std::string value = line + std::strlen(key);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return Utf8ToUtf16(value);
}

// A line break in a value would end it early and start a line of its own when read back.
std::string OneLine(const std::wstring& value) {
  std::wstring kept;
  for (const wchar_t c : value) {
    if (c >= L' ') kept += c;
  }
  return Utf16ToUtf8(kept);
}

UniqueStdFile OpenFile(const std::wstring& path, const wchar_t* mode) {
  UniqueStdFile file;
  if (_wfopen_s(file.put(), path.c_str(), mode) != 0) return {};
  return file;
}

}  // namespace

bool ApplySettingsLine(const char* line, Settings& settings) {
  int intValue = 0;
  long longValue = 0;
  unsigned int unsignedValue = 0;
  long long wideValue = 0;
  // The order matters only for which pattern wins; each key is spelled out in full and must
  // stand at the start of the line, exactly as written here.
  if (StartsWith(line, kUploadUrlKey)) {
    settings.UploadUrl = TextValue(line, kUploadUrlKey);
  } else if (StartsWith(line, kUploadTokenKey)) {
    settings.UploadToken = TextValue(line, kUploadTokenKey);
  } else if (sscanf(line, "SaveHistory=%d", &intValue) == 1) {
    settings.SaveHistory = intValue != 0;
  } else if (sscanf(line, "CaptureDelay=%lld", &wideValue) == 1) {
    settings.CaptureDelay = ClampCaptureDelay(wideValue);
  } else if (sscanf(line, "AutoCopyLink=%d", &intValue) == 1) {
    settings.AutoCopyLink = intValue != 0;
  } else if (sscanf(line, "CaptureCursor=%d", &intValue) == 1) {
    settings.CaptureCursor = intValue != 0;
  } else if (sscanf(line, "RememberSelection=%d", &intValue) == 1) {
    settings.RememberSelection = intValue != 0;
  } else if (sscanf(line, "Language=%d", &intValue) == 1) {
    settings.Language = intValue;
  } else if (sscanf(line, "Left=%ld", &longValue) == 1) {
    settings.Selection.left = longValue;
  } else if (sscanf(line, "Top=%ld", &longValue) == 1) {
    settings.Selection.top = longValue;
  } else if (sscanf(line, "Right=%ld", &longValue) == 1) {
    settings.Selection.right = longValue;
  } else if (sscanf(line, "Bottom=%ld", &longValue) == 1) {
    settings.Selection.bottom = longValue;
  } else if (sscanf(line, "Modifiers=%u", &unsignedValue) == 1) {
    settings.Modifiers = unsignedValue;
  } else if (sscanf(line, "Key=%u", &unsignedValue) == 1) {
    settings.Key = unsignedValue;
  } else {
    return false;
  }
  return true;
}

int ClampCaptureDelay(long long value) {
  if (value < kMinCaptureDelay) return kMinCaptureDelay;
  if (value > kMaxCaptureDelay) return kMaxCaptureDelay;
  return static_cast<int>(value);
}

std::string FormatSettings(const Settings& settings) {
  char buffer[512];
  int length = snprintf(buffer, sizeof buffer,
                        "[General]\n"
                        "AutoCopyLink=%d\n"
                        "CaptureCursor=%d\n"
                        "RememberSelection=%d\n"
                        "Language=%d\n"
                        "SaveHistory=%d\n"
                        "CaptureDelay=%d\n"
                        "\n[Selection]\n"
                        "Left=%ld\n"
                        "Top=%ld\n"
                        "Right=%ld\n"
                        "Bottom=%ld\n"
                        "\n[Hotkeys]\n"
                        "Modifiers=%u\n"
                        "Key=%u\n",
                        settings.AutoCopyLink ? 1 : 0, settings.CaptureCursor ? 1 : 0,
                        settings.RememberSelection ? 1 : 0, settings.Language,
                        settings.SaveHistory ? 1 : 0, ClampCaptureDelay(settings.CaptureDelay),
                        static_cast<long>(settings.Selection.left),
                        static_cast<long>(settings.Selection.top),
                        static_cast<long>(settings.Selection.right),
                        static_cast<long>(settings.Selection.bottom), settings.Modifiers,
                        settings.Key);
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
  std::string content(buffer, static_cast<size_t>(length));
  content += "\n[Upload]\n";
  content += kUploadUrlKey + OneLine(settings.UploadUrl) + "\n";
  content += kUploadTokenKey + OneLine(settings.UploadToken) + "\n";
  return content;
}

std::wstring GetSettingsFolder() {
  wchar_t folder[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return L".";
  }
  std::wstring path = folder;
  path += L"\\Snapwren";
  CreateDirectoryW(path.c_str(), nullptr);  // usually exists already
  return path;
}

std::wstring GetSettingsPath() { return GetSettingsFolder() + L"\\settings.ini"; }

bool LoadSettingsFrom(const std::wstring& path, Settings& settings) {
  UniqueStdFile file = OpenFile(path, L"r");
  if (!file) return false;
  char line[kLineBufferSize];
  for (bool first = true; fgets(line, kLineBufferSize, file.get()); first = false) {
    const size_t mark = sizeof kUtf8ByteOrderMark - 1;
    const bool marked = first && std::strncmp(line, kUtf8ByteOrderMark, mark) == 0;
    std::string whole = marked ? line + mark : line;
    if (IsTextSetting(whole.c_str())) {
      while (!EndsLine(whole) && fgets(line, kLineBufferSize, file.get())) whole += line;
    }
    ApplySettingsLine(whole.c_str(), settings);
  }
  return true;
}

// Writes beside the old file and swaps it in only once the new one is complete, so a full disk
// or a crash mid-write never leaves a truncated file behind.
bool ReplaceFileContent(const std::wstring& path, const std::string& content) {
  const std::wstring temporary = path + L".tmp";
  {
    UniqueStdFile file = OpenFile(temporary, L"w");
    if (!file) return false;
    bool written = fputs(content.c_str(), file.get()) >= 0 && fflush(file.get()) == 0;
    if (fclose(file.release()) != 0) written = false;
    if (!written) {
      DeleteFileW(temporary.c_str());
      return false;
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

std::string ReadFileStart(const std::wstring& path) {
  UniqueStdFile file = OpenFile(path, L"r");
  char line[kLineBufferSize] = {};
  if (!file || !fgets(line, kLineBufferSize, file.get())) return {};
  return line;
}

bool SaveSettingsTo(const std::wstring& path, const Settings& settings) {
  return ReplaceFileContent(path, FormatSettings(settings));
}

bool LoadSettings() { return LoadSettingsFrom(GetSettingsPath(), AppSettings); }

bool SaveSettings() { return SaveSettingsTo(GetSettingsPath(), AppSettings); }
