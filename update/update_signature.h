// Checking that an update comes from Snapwren's publisher: SHA-256 and ECDSA on P-256 through
// the operating system's own bcrypt.dll.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/win_handles.h"

struct BcryptAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { BCryptCloseAlgorithmProvider(value, 0); }
};
struct BcryptHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { BCryptDestroyHash(value); }
};
struct BcryptKeyTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { BCryptDestroyKey(value); }
};
using UniqueBcryptAlgorithm = UniqueResource<BcryptAlgorithmTraits>;
using UniqueBcryptHash = UniqueResource<BcryptHashTraits>;
using UniqueBcryptKey = UniqueResource<BcryptKeyTraits>;

using Sha256Digest = std::array<BYTE, 32>;

// A SHA-256 fed piece by piece, so that a download is hashed as it arrives. Declared algorithm
// first, so that the hash is destroyed before its provider is closed.
struct Sha256 {
  Sha256();
  bool Add(const void* data, DWORD size);
  // The digest of everything added; nothing when bcrypt failed on the way.
  std::optional<Sha256Digest> Finish();

  UniqueBcryptAlgorithm algorithm;
  UniqueBcryptHash hash;
  bool failed = false;
};

// "snapwren-update 1\n<version>\n<sha256>\n": what the publisher signs. The version is part of it,
// so that an older signed installer cannot be offered as a newer version.
std::string UpdateStatement(const std::string& version, const std::string& sha256Hex);
// True only when `signatureBase64` (64 bytes, r then s) signs the statement of `version` and
// `sha256Hex` (64 lower-case hex digits) under `publicKeyHex` (128 hex digits, X then Y).
bool VerifyUpdateSignature(const std::string& version, const std::string& sha256Hex,
                           const std::string& signatureBase64, const std::string& publicKeyHex);
// Lower-case hex digits as bytes; nothing for any other text.
std::optional<std::vector<BYTE>> DecodeHex(const std::string& hex);
// Base64 with its padding (RFC 4648, section 4); nothing for any other text.
std::optional<std::vector<BYTE>> DecodeBase64(const std::string& text);
