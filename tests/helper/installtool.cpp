// installtool: what the installer tests look at inside the Wine prefix, through the same Win32
// calls that Windows' own tools use, printed as UTF-8 JSON lines.
//
//   installtool version <exe>        the file and product version of an executable's resource
//   installtool image <pid>          the program file of a running process
//   installtool regkey <HKCU subkey> every value of a key: {name, type, data}; exit 1 if missing
//   installtool regfind <text>       every key, value name or text value below HKCU that holds
//                                    <text> (case-insensitive): {key, value}
//   installtool shortcut <lnk>       a shortcut's target, arguments and working folder
//   installtool processes <name>     the running processes of that program file name: {pid}
//
// Exit codes: 0 done, 1 not found, 2 a Win32 call failed, 64 bad usage.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "../../app/win_handles.h"
#include "tool_output.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 64;

// The signature that opens VS_FIXEDFILEINFO.
constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;
// Registry key names are at most 255 characters; value names 16383.
constexpr DWORD kMaxKeyName = 256;
constexpr DWORD kMaxValueName = 16384;

std::wstring VersionText(DWORD high, DWORD low) {
  return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." +
         std::to_wstring(HIWORD(low)) + L"." + std::to_wstring(LOWORD(low));
}

// VS_VERSIONINFO starts with three WORDs and the key "VS_VERSION_INFO" (16 wide characters with
// its terminator); VS_FIXEDFILEINFO follows at the next 32-bit boundary.
const VS_FIXEDFILEINFO* FixedFileInfo(const BYTE* resource, DWORD size) {
  constexpr size_t kOffset = (3 * sizeof(WORD) + 16 * sizeof(wchar_t) + 3) & ~size_t{3};
  if (size < kOffset + sizeof(VS_FIXEDFILEINFO)) return nullptr;
  const auto* info = reinterpret_cast<const VS_FIXEDFILEINFO*>(resource + kOffset);
  return info->dwSignature == kFixedFileInfoSignature ? info : nullptr;
}

int CmdVersion(const std::wstring& path) {
  UniqueModule module(LoadLibraryExW(path.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module) return kExitFailed;
  HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  if (!found) return kExitNotFound;
  HGLOBAL loaded = LoadResource(module.get(), found);
  const auto* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  const VS_FIXEDFILEINFO* info = bytes ? FixedFileInfo(bytes, SizeofResource(module.get(), found))
                                       : nullptr;
  if (!info) return kExitNotFound;
  WriteLine("{\"file\":" + JsonString(VersionText(info->dwFileVersionMS, info->dwFileVersionLS)) +
            ",\"product\":" +
            JsonString(VersionText(info->dwProductVersionMS, info->dwProductVersionLS)) + "}");
  return kExitOk;
}

int CmdImage(const std::wstring& pidText) {
  const auto pid = static_cast<DWORD>(std::wcstoul(pidText.c_str(), nullptr, 0));
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return kExitNotFound;
  wchar_t path[MAX_PATH * 4] = {};
  DWORD length = static_cast<DWORD>(std::size(path));
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &length)) return kExitFailed;
  WriteLine("{\"path\":" + JsonString(std::wstring(path, length)) + "}");
  return kExitOk;
}

const wchar_t* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ:
      return L"REG_SZ";
    case REG_EXPAND_SZ:
      return L"REG_EXPAND_SZ";
    case REG_MULTI_SZ:
      return L"REG_MULTI_SZ";
    case REG_DWORD:
      return L"REG_DWORD";
    case REG_QWORD:
      return L"REG_QWORD";
    case REG_BINARY:
      return L"REG_BINARY";
    default:
      return L"other";
  }
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A text value without its terminator (the registry does not promise one); the strings of a
// REG_MULTI_SZ joined by line feeds.
std::wstring TextOf(const std::vector<BYTE>& data, DWORD size) {
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  for (wchar_t& c : text) {
    if (c == L'\0') c = L'\n';
  }
  return text;
}

// Calls `visit(name, type, data, size)` for every value of an open key.
bool ForEachValue(HKEY key,
                  const std::function<void(const std::wstring&, DWORD, const std::vector<BYTE>&,
                                           DWORD)>& visit) {
  DWORD maxData = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<wchar_t> name(kMaxValueName);
  std::vector<BYTE> data(maxData + sizeof(wchar_t));
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = kMaxValueName;
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size());
    const LONG status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                      data.data(), &size);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status != ERROR_SUCCESS) return false;
    visit(std::wstring(name.data(), nameLength), type, data, size);
  }
}

int CmdRegKey(const std::wstring& subkey) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) {
    return kExitNotFound;
  }
  UniqueRegistryKey key(raw);
  const bool ok = ForEachValue(key.get(), [](const std::wstring& name, DWORD type,
                                             const std::vector<BYTE>& data, DWORD size) {
    std::string value;
    if (IsText(type)) {
      value = JsonString(TextOf(data, size));
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
      DWORD number = 0;
      std::memcpy(&number, data.data(), sizeof number);
      value = std::to_string(number);
    } else {
      value = "null";
    }
    WriteLine("{\"name\":" + JsonString(name) + ",\"type\":" + JsonString(TypeName(type)) +
              ",\"data\":" + value + "}");
  });
  return ok ? kExitOk : kExitFailed;
}

bool Contains(const std::wstring& text, const std::wstring& lowerNeedle) {
  std::wstring lower = text;
  CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
  return lower.find(lowerNeedle) != std::wstring::npos;
}

void FindBelow(HKEY parent, const std::wstring& path, const std::wstring& needle) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return;
  UniqueRegistryKey key(raw);
  if (Contains(path, needle)) {
    WriteLine("{\"key\":" + JsonString(path) + ",\"value\":null}");
  }
  ForEachValue(key.get(), [&](const std::wstring& name, DWORD type,
                              const std::vector<BYTE>& data, DWORD size) {
    if (Contains(name, needle) || (IsText(type) && Contains(TextOf(data, size), needle))) {
      WriteLine("{\"key\":" + JsonString(path) + ",\"value\":" + JsonString(name) + "}");
    }
  });
  std::vector<std::wstring> children;
  wchar_t child[kMaxKeyName];
  for (DWORD index = 0;; ++index) {
    DWORD length = kMaxKeyName;
    if (RegEnumKeyExW(key.get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    children.emplace_back(child, length);
  }
  for (const std::wstring& name : children) {
    FindBelow(HKEY_CURRENT_USER, path.empty() ? name : path + L"\\" + name, needle);
  }
}

int CmdRegFind(const std::wstring& text) {
  std::wstring needle = text;
  CharLowerBuffW(needle.data(), static_cast<DWORD>(needle.size()));
  FindBelow(HKEY_CURRENT_USER, L"", needle);
  return kExitOk;
}

int CmdShortcut(const std::wstring& path) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return kExitFailed;
  int result = kExitFailed;
  {
    IShellLinkW* rawLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IShellLinkW, reinterpret_cast<void**>(&rawLink)))) {
      UniqueCom<IShellLinkW> link(rawLink);
      IPersistFile* rawFile = nullptr;
      if (SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile,
                                               reinterpret_cast<void**>(&rawFile)))) {
        UniqueCom<IPersistFile> file(rawFile);
        if (FAILED(file.get()->Load(path.c_str(), STGM_READ))) {
          result = kExitNotFound;
        } else {
          wchar_t target[MAX_PATH] = {};
          wchar_t arguments[1024] = {};
          wchar_t folder[MAX_PATH] = {};
          link.get()->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
          link.get()->GetArguments(arguments, static_cast<int>(std::size(arguments)));
          link.get()->GetWorkingDirectory(folder, MAX_PATH);
          WriteLine("{\"target\":" + JsonString(target) + ",\"arguments\":" +
                    JsonString(arguments) + ",\"workdir\":" + JsonString(folder) + "}");
          result = kExitOk;
        }
      }
    }
  }
  CoUninitialize();
  return result;
}

int CmdProcesses(const std::wstring& name) {
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return kExitFailed;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (CompareStringOrdinal(entry.szExeFile, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL) {
      WriteLine("{\"pid\":" + std::to_string(entry.th32ProcessID) + "}");
    }
  }
  return kExitOk;
}

int Usage() {
  std::fputs(
      "usage: installtool version <exe> | image <pid> | regkey <HKCU subkey> | regfind <text>"
      " | shortcut <lnk> | processes <name>\n",
      stderr);
  return kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return Usage();
  const std::wstring command = argv[1];
  const std::wstring argument = argv[2];
  if (command == L"version") return CmdVersion(argument);
  if (command == L"image") return CmdImage(argument);
  if (command == L"regkey") return CmdRegKey(argument);
  if (command == L"regfind") return CmdRegFind(argument);
  if (command == L"shortcut") return CmdShortcut(argument);
  if (command == L"processes") return CmdProcesses(argument);
  return Usage();
}
