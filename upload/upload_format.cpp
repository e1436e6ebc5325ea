#include "upload/upload_format.h"

#include <random>

#include "app/https.h"
#include "app/json.h"
#include "app/text.h"

namespace {

constexpr char kDispositionLine[] =
    "Content-Disposition: form-data; name=\"image\"; filename=\"capture.png\"\r\n";
constexpr char kPartTypeLines[] = "Content-Type: image/png\r\n\r\n";
constexpr wchar_t kContentTypePrefix[] = L"Content-Type: multipart/form-data; boundary=";

void Append(std::vector<BYTE>& body, const std::string& text) {
  body.insert(body.end(), text.begin(), text.end());
}

}  // namespace

std::string MakeBoundary() {
  std::random_device device;
  std::mt19937 generator(static_cast<std::mt19937::result_type>(device()));
  return MakeBoundaryWith(generator);
}

std::vector<BYTE> BuildMultipartBody(const std::vector<BYTE>& png, const std::string& boundary) {
  const std::string head = "--" + boundary + "\r\n" + kDispositionLine + kPartTypeLines;
  const std::string tail = "\r\n--" + boundary + "--\r\n";
  std::vector<BYTE> body;
  body.reserve(head.size() + png.size() + tail.size());
  Append(body, head);
  body.insert(body.end(), png.begin(), png.end());
  Append(body, tail);
  return body;
}

std::wstring ContentTypeHeader(const std::string& boundary) {
  return kContentTypePrefix + Utf8ToUtf16(boundary);
}

std::wstring AuthorizationHeader(const std::wstring& key) {
  if (key.empty()) return {};
  return L"\r\nAuthorization: Bearer " + key;
}

// Only a top-level member counts: a reply may well carry other objects with links of their own
// (a thumbnail, a deletion page).
namespace {

std::wstring TopLevelString(const std::string& reply, const char* name) {
  const std::optional<JsonMembers> members = ReadJsonObject(reply);
  if (!members) return {};
  const auto member = members->find(name);
  return member != members->end() && member->second ? Utf8ToUtf16(*member->second)
                                                    : std::wstring();
}

}  // namespace

std::wstring ExtractUrlFromJson(const std::string& reply) { return TopLevelString(reply, "url"); }

// The key goes to this address when the user deletes: it must not leave in clear text.
std::wstring ExtractDeleteUrlFromJson(const std::string& reply) {
  std::wstring address = TopLevelString(reply, "delete_url");
  return SecureAddress(address) ? address : std::wstring();
}

std::wstring SendFailedText(DWORD error) {
  return L"Senden fehlgeschlagen (Fehlercode: " + std::to_wstring(error) + L")";
}

std::wstring StatusFailedText(DWORD status) {
  return L"Server antwortete mit Status " + std::to_wstring(status);
}
