#include "upload/upload_format.h"

#include <random>

namespace {

constexpr char kDispositionLine[] =
    "Content-Disposition: form-data; name=\"image\"; filename=\"capture.png\"\r\n";
constexpr char kPartTypeLines[] = "Content-Type: image/png\r\n\r\n";
constexpr wchar_t kContentTypePrefix[] = L"Content-Type: multipart/form-data; boundary=";

// Tried in this order; the first spelling with a closing quote after it decides.
constexpr const char* kUrlKeyPatterns[] = {"\"url\":\"", "\"url\": \"", "\"url\" :\"",
                                           "\"url\" : \""};

void Append(std::vector<BYTE>& body, const std::string& text) {
  body.insert(body.end(), text.begin(), text.end());
}

// Only "\/" is undone: JSON encoders escape slashes, and links hold nothing else worth undoing.
std::string UnescapeSlashes(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == '/') {
      out += '/';
      ++i;
    } else {
      out += value[i];
    }
  }
  return out;
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
  return kContentTypePrefix + std::wstring(boundary.begin(), boundary.end());
}

std::wstring ExtractUrlFromJson(const std::string& reply) {
  for (const char* pattern : kUrlKeyPatterns) {
    const size_t at = reply.find(pattern);
    if (at == std::string::npos) continue;
    const size_t start = at + std::char_traits<char>::length(pattern);
    const size_t end = reply.find('"', start);
    if (end == std::string::npos) continue;
    return WidenLink(UnescapeSlashes(reply.substr(start, end - start)));
  }
  return {};
}

std::wstring WidenLink(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (units <= 0) {
    std::wstring latin1;
    for (const char c : bytes) latin1 += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return latin1;
  }
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data(), units);
  return wide;
}

std::wstring SendFailedText(DWORD error) {
  return L"Senden fehlgeschlagen (Fehlercode: " + std::to_wstring(error) + L")";
}

std::wstring StatusFailedText(DWORD status) {
  return L"Server antwortete mit Status " + std::to_wstring(status);
}
