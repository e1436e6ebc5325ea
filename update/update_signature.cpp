#include "update/update_signature.h"

#include <cstring>

namespace {

constexpr NTSTATUS kStatusSuccess = 0;
constexpr ULONG kCoordinateBytes = 32;
constexpr size_t kSignatureBytes = 64;
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

UniqueBcryptAlgorithm OpenAlgorithm(LPCWSTR id) {
  UniqueBcryptAlgorithm algorithm;
  if (BCryptOpenAlgorithmProvider(algorithm.put(), id, nullptr, 0) != kStatusSuccess) return {};
  return algorithm;
}

// The public key as a BCRYPT_ECCPUBLIC_BLOB: its header, then X and Y, each big-endian.
UniqueBcryptKey ImportPublicKey(BCRYPT_ALG_HANDLE ecdsa, const std::vector<BYTE>& point) {
  const BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
  std::vector<BYTE> blob(sizeof header);
  std::memcpy(blob.data(), &header, sizeof header);
  blob.insert(blob.end(), point.begin(), point.end());
  UniqueBcryptKey key;
  if (BCryptImportKeyPair(ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob.data(),
                          static_cast<ULONG>(blob.size()), 0) != kStatusSuccess) {
    return {};
  }
  return key;
}

}  // namespace

Sha256::Sha256() : algorithm(OpenAlgorithm(BCRYPT_SHA256_ALGORITHM)) {
  // Without a buffer of ours, bcrypt keeps the hash object itself (Windows 7 and later).
  failed = !algorithm || BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0,
                                          0) != kStatusSuccess;
}

bool Sha256::Add(const void* data, DWORD size) {
  if (!failed) {
    failed = BCryptHashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0) !=
             kStatusSuccess;
  }
  return !failed;
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  if (failed || BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()),
                                 0) != kStatusSuccess) {
    return std::nullopt;
  }
  failed = true;  // a finished hash takes nothing more
  return digest;
}

std::string UpdateStatement(const SignedUpdate& update) {
  Sha256 hasher;
  hasher.Add(update.changelog.data(), static_cast<DWORD>(update.changelog.size()));
  const std::optional<Sha256Digest> notes = hasher.Finish();
  if (!notes) return {};
  return "snapwren-update 2\n" + update.version + "\n" + update.sha256Hex + "\n" + update.length +
         "\n" + update.url + "\n" + update.sequence + "\n" +
         EncodeHex(notes->data(), notes->size()) + "\n";
}

bool VerifyUpdateSignature(const SignedUpdate& update, const std::string& signatureBase64,
                           const std::string& publicKeyHex) {
  const std::optional<std::vector<BYTE>> point = DecodeHex(publicKeyHex);
  const std::optional<std::vector<BYTE>> signature = DecodeBase64(signatureBase64);
  const std::optional<std::vector<BYTE>> digestOfInstaller = DecodeHex(update.sha256Hex);
  // A line break inside a field would let one statement be read as another.
  const bool oneLineEach = (update.version + update.url).find('\n') == std::string::npos;
  if (!point || point->size() != 2 * kCoordinateBytes || !signature ||
      signature->size() != kSignatureBytes || !digestOfInstaller ||
      digestOfInstaller->size() != Sha256Digest().size() || !oneLineEach) {
    return false;
  }
  const std::string statement = UpdateStatement(update);
  Sha256 hasher;
  hasher.Add(statement.data(), static_cast<DWORD>(statement.size()));
  std::optional<Sha256Digest> digest = hasher.Finish();
  const UniqueBcryptAlgorithm ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (statement.empty() || !digest || !ecdsa) return false;
  const UniqueBcryptKey key = ImportPublicKey(ecdsa.get(), *point);
  // ECDSA takes the hash, not the statement; the signature is r then s, no DER around them.
  return key && BCryptVerifySignature(key.get(), nullptr, digest->data(),
                                      static_cast<ULONG>(digest->size()),
                                      const_cast<PUCHAR>(signature->data()),
                                      static_cast<ULONG>(signature->size()), 0) == kStatusSuccess;
}

std::string EncodeHex(const BYTE* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0xF];
  }
  return hex;
}

std::optional<std::vector<BYTE>> DecodeHex(const std::string& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<BYTE> bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int pair = 0;
    for (const char c : {hex[i], hex[i + 1]}) {
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return std::nullopt;
      pair = pair << 4 | digit;
    }
    bytes.push_back(static_cast<BYTE>(pair));
  }
  return bytes;
}

std::optional<std::vector<BYTE>> DecodeBase64(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  // At most two padding characters, and only at the very end.
  const size_t padding = text.size() - text.find_last_not_of('=') - 1;
  if (text.size() > 0 && (padding > 2 || text.find('=') < text.size() - padding)) {
    return std::nullopt;
  }
  std::vector<BYTE> bytes;
  uint32_t bits = 0;
  int pending = 0;
  for (size_t i = 0; i < text.size() - padding; ++i) {
    const char* found = text[i] ? std::strchr(kBase64Alphabet, text[i]) : nullptr;
    if (!found) return std::nullopt;
    bits = (bits << 6 | static_cast<uint32_t>(found - kBase64Alphabet)) & 0xFFFFFF;
    pending += 6;
    if (pending >= 8) {
      pending -= 8;
      bytes.push_back(static_cast<BYTE>(bits >> pending));
    }
  }
  return bytes;
}
