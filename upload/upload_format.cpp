#include "upload/upload_format.h"

#include <random>

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

// Only a top-level member counts: a reply may well carry other objects with links of their own
// (a thumbnail, a deletion page).
std::wstring ExtractUrlFromJson(const std::string& reply) {
  const std::optional<JsonMembers> members = ReadJsonObject(reply);
  if (!members) return {};
  const auto url = members->find("url");
  return url != members->end() && url->second ? Utf8ToUtf16(*url->second) : std::wstring();
}

std::wstring SendFailedText(DWORD error) {
  return L"Senden fehlgeschlagen (Fehlercode: " + std::to_wstring(error) + L")";
}

std::wstring StatusFailedText(DWORD status) {
  return L"Server antwortete mit Status " + std::to_wstring(status);
}
