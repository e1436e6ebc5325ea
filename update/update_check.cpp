#include "update/update_check.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "app/https.h"
#include "app/json.h"
#include "app/messages.h"
#include "app/text.h"
#include "app/worker.h"
#include "build_config.h"
#include "settings/settings.h"
#include "update/update_prompt.h"
#include "update/update_signature.h"
#include "update/version.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Snapwren-Updater/1.0";
constexpr wchar_t kVersionPath[] = L"/version.json";
constexpr DWORD kTimeoutMs = 10000;
constexpr DWORD kStatusOk = 200;
constexpr wchar_t kInvalidAnswer[] = L"Ungültige Serverantwort";
constexpr wchar_t kNotVerified[] =
    L"Das Update konnte nicht verifiziert werden: Die Signatur fehlt oder ist ungültig.";
constexpr wchar_t kReplayed[] =
    L"Das Update-Angebot ist älter als ein bereits erhaltenes und wurde abgelehnt.";
constexpr wchar_t kSequenceFile[] = L"\\update.ini";
constexpr char kSequenceKey[] = "Sequence=";
constexpr wchar_t kRequestFailed[] = L"Request erstellen fehlgeschlagen";
constexpr HttpsTexts kTexts = {L"WinHttpOpen fehlgeschlagen",    L"Verbindung fehlgeschlagen",
                               kRequestFailed,                   kRequestFailed,
                               L"Request senden fehlgeschlagen", L"Keine Antwort vom Server"};

// A member's text into `text` (left empty when the member is missing); false when the member is
// there but is not a string.
bool ReadMember(const JsonMembers& members, const char* name, std::string& text) {
  const auto found = members.find(name);
  if (found == members.end()) return true;
  if (!found->second) return false;
  text = *found->second;
  return true;
}

UpdateCheckGuard g_updateCheck;

// Frees the guard however the report ends: a throw must not leave every later check refused.
struct FinishCheckOnExit {
  ~FinishCheckOnExit() { g_updateCheck.Finish(); }
};

}  // namespace

std::string FetchVersionJson(std::wstring& error) {
  HttpsRequest request;
  request.userAgent = kUserAgent;
  request.target.host = kUpdateHost;
  request.target.path = kVersionPath;
  request.timeoutMs = kTimeoutMs;
  const HttpsExchange exchange = SendHttps(request);
  if (exchange.failed != HttpsStep::Done) {
    error = FailureText(exchange.failed, kTexts);
    return {};
  }
  if (exchange.status != kStatusOk) {
    error = L"HTTP Status: " + std::to_wstring(exchange.status);
    return {};
  }
  // What arrived before the body broke off is judged whole: the document then does not parse.
  std::string body;
  if (ReadBodyInto(exchange.request.get(), body, kMaxVersionJsonBytes) == BodyEnd::TooLarge) {
    // A body this large cannot be the version document; reading on would only fill memory.
    error = kInvalidAnswer;
    return {};
  }
  return body;
}

UpdateInfo ReadUpdateInfo(const std::string& body, const std::wstring& fetchError,
                          const std::string& publicKeyHex, uint64_t highestSequence) {
  UpdateInfo info;
  if (body.empty()) {
    info.error = fetchError.empty() ? L"Keine Antwort vom Update-Server" : fetchError;
    return info;
  }
  const std::optional<JsonMembers> members = ReadJsonObject(body);
  SignedUpdate update;
  std::string signature;
  if (!members || !ReadMember(*members, "version", update.version) ||
      !ReadMember(*members, "url", update.url) ||
      !ReadMember(*members, "changelog", update.changelog) ||
      !ReadMember(*members, "sha256", update.sha256Hex) ||
      !ReadMember(*members, "length", update.length) ||
      !ReadMember(*members, "sequence", update.sequence) ||
      !ReadMember(*members, "signature", signature) || update.version.empty()) {
    info.error = kInvalidAnswer;
    return info;
  }
  // Whoever controls the update host, or holds a certificate for its name, can write this
  // document: only the publisher's signature makes any of it count.
  const std::optional<uint64_t> length = ParseContentLength(Utf8ToUtf16(update.length));
  const std::optional<uint64_t> sequence = ParseContentLength(Utf8ToUtf16(update.sequence));
  if (!length || *length == 0 || !sequence || *sequence == 0 ||
      !VerifyUpdateSignature(update, signature, publicKeyHex)) {
    info.error = kNotVerified;
    return info;
  }
  // A host may not hide a release behind an older one that the publisher once signed. The same
  // number again is the same release, which may well be offered twice.
  if (*sequence < highestSequence) {
    info.error = kReplayed;
    return info;
  }
  const std::vector<BYTE> digest = *DecodeHex(update.sha256Hex);
  std::copy(digest.begin(), digest.end(), info.sha256.begin());
  info.length = *length;
  info.sequence = *sequence;
  info.version = Utf8ToUtf16(update.version);
  info.url = Utf8ToUtf16(update.url);
  info.changelog = Utf8ToUtf16(update.changelog);
  info.available = IsNewerVersion(kAppVersion, info.version);
  return info;
}

uint64_t LoadHighestSequence(const std::wstring& path) {
  std::string line = ReadFileStart(path);
  if (line.compare(0, sizeof kSequenceKey - 1, kSequenceKey) != 0) return 0;
  line = line.substr(sizeof kSequenceKey - 1);
  line.erase(line.find_last_not_of("\r\n") + 1);
  return ParseContentLength(Utf8ToUtf16(line)).value_or(0);
}

bool SaveHighestSequence(const std::wstring& path, uint64_t sequence) {
  return ReplaceFileContent(path, kSequenceKey + std::to_string(sequence) + "\n");
}

std::wstring HighestSequencePath() { return GetSettingsFolder() + kSequenceFile; }

UpdateInfo CheckForUpdate() {
  std::wstring error;
  const std::string body = FetchVersionJson(error);
  // Checks never overlap (UpdateCheckGuard), so the file has one writer at a time.
  const std::wstring path = HighestSequencePath();
  const uint64_t highest = LoadHighestSequence(path);
  UpdateInfo info = ReadUpdateInfo(body, error, kUpdateKey, highest);
  // Not remembered, the number would protect nothing after the next start. A file that cannot be
  // written leaves the next check knowing no more than this one did.
  if (info.error.empty() && info.sequence > highest) SaveHighestSequence(path, info.sequence);
  return info;
}

bool UpdateCheckGuard::Request(bool byUser) {
  userAsked_ = userAsked_ || byUser;
  if (running_) return false;
  running_ = true;
  return true;
}

void UpdateCheckGuard::Finish() {
  running_ = false;
  userAsked_ = false;
}

void StartUpdateCheck(HWND receiver, bool byUser) {
  if (!g_updateCheck.Request(byUser)) return;
  auto cell = std::make_unique<HWND>(receiver);
  if (StartWorker(UpdateCheckThread, cell)) return;
  // Without a thread the user who asked still gets the answer, at the cost of waiting for it;
  // at start-up Snapwren runs on without the check.
  if (byUser) {
    UpdateCheckThread(cell.release());
  } else {
    g_updateCheck.Finish();
  }
}

DWORD WINAPI UpdateCheckThread(LPVOID parameter) {
  std::unique_ptr<HWND> cell(static_cast<HWND*>(parameter));
  try {
    // Every outcome goes back, so that the UI thread knows the check has ended; what the user
    // hears of it is decided there.
    auto record = std::make_unique<UpdateInfo>(CheckForUpdate());
    if (PostMessageW(*cell, WM_UPDATE_AVAILABLE, 0, reinterpret_cast<LPARAM>(record.get()))) {
      (void)record.release();  // the tray window owns it from here on
    }
  } catch (...) {
    // Out of memory on a worker: nothing to report it with, Snapwren runs on.
  }
  return 0;
}

void OnUpdateCheckOutcome(HWND owner, LPARAM record) {
  // The checking thread hands the record over with the message; it is ours to free.
  const std::unique_ptr<UpdateInfo> info(reinterpret_cast<UpdateInfo*>(record));
  if (!info) return;
  // Held until the answer is closed, so that asking again meanwhile opens no second answer.
  const FinishCheckOnExit finish;
  if (g_updateCheck.UserAsked()) {
    ReportUpdateCheck(owner, *info);
  } else if (info->available) {
    // At start-up only good news is worth interrupting the user for; failures stay silent.
    ShowUpdatePrompt(owner, *info);
  }
}
