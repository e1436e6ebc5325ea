// The bytes of an upload: boundary, multipart body, and the link in the server's JSON reply.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr char kBoundaryPrefix[] = "----SnapwrenBoundary";
constexpr char kBoundaryAlphabet[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr size_t kBoundaryRandomLength = 16;

// Lemire's multiply-and-reject: index = high half of r * 62, redrawing while the low half falls
// below 2^32 mod 62, so that every index is equally likely.
template <typename Generator>
char DrawBoundaryChar(Generator& generator) {
  constexpr uint64_t kCount = sizeof kBoundaryAlphabet - 1;
  constexpr uint32_t kRejectBelow = static_cast<uint32_t>((uint64_t{1} << 32) % kCount);
  uint64_t product = static_cast<uint64_t>(static_cast<uint32_t>(generator())) * kCount;
  while (static_cast<uint32_t>(product) < kRejectBelow) {
    product = static_cast<uint64_t>(static_cast<uint32_t>(generator())) * kCount;
  }
  return kBoundaryAlphabet[product >> 32];
}

template <typename Generator>
std::string MakeBoundaryWith(Generator& generator) {
  std::string boundary = kBoundaryPrefix;
  for (size_t i = 0; i < kBoundaryRandomLength; ++i) boundary += DrawBoundaryChar(generator);
  return boundary;
}

// A fresh boundary from a generator seeded by the system's random source.
std::string MakeBoundary();

// The whole multipart/form-data body with the one field "image" holding png as capture.png.
std::vector<BYTE> BuildMultipartBody(const std::vector<BYTE>& png, const std::string& boundary);
std::wstring ContentTypeHeader(const std::string& boundary);
// "\r\nAuthorization: Bearer <key>" to follow another header, or "" without a key.
std::wstring AuthorizationHeader(const std::wstring& key);

// The link in the string member "url" of the reply's JSON object, or "" when there is none.
std::wstring ExtractUrlFromJson(const std::string& reply);
// The reply's "delete_url" when it is an https:// address, "" otherwise.
std::wstring ExtractDeleteUrlFromJson(const std::string& reply);

std::wstring SendFailedText(DWORD error);
std::wstring StatusFailedText(DWORD status);
