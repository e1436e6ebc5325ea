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

// What the publisher signs of one release, each field as version.json writes it.
struct SignedUpdate {
  std::string version;
  std::string sha256Hex;  // of the installer, 64 lower-case hex digits
  std::string length;     // of the installer in bytes, decimal
  std::string url;        // where it is fetched from
  std::string sequence;   // raised by each release, decimal
  std::string changelog;  // the change notes as the prompt shows them, in UTF-8
};

// "snapwren-update 2\n" and then, a line each, the version, the installer's SHA-256, its length,
// its address, the sequence number and the SHA-256 of the change notes (hex). Whatever the
// prompt shows and the download uses is in it, so that the update host can change none of it.
std::string UpdateStatement(const SignedUpdate& update);
// True only when `signatureBase64` (64 bytes, r then s) signs update's statement under
// `publicKeyHex` (128 hex digits, X then Y).
bool VerifyUpdateSignature(const SignedUpdate& update, const std::string& signatureBase64,
                           const std::string& publicKeyHex);
// Lower-case hex digits of `bytes`.
std::string EncodeHex(const BYTE* bytes, size_t size);
// Lower-case hex digits as bytes; nothing for any other text.
std::optional<std::vector<BYTE>> DecodeHex(const std::string& hex);
// Base64 with its padding (RFC 4648, section 4); nothing for any other text.
std::optional<std::vector<BYTE>> DecodeBase64(const std::string& text);
