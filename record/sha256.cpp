#include "record/sha256.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#else
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <array>

namespace plcburn {

namespace {

std::string Hex(std::span<const std::uint8_t> digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace

#ifdef _WIN32

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kDigestLength = 32;
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return {};
  std::array<std::uint8_t, kDigestLength> digest{};
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  // BCryptHashData takes at most a ULONG at a time.
  constexpr std::size_t kChunk = 1u << 30;
  for (std::size_t done = 0; ok && done < bytes.size(); done += kChunk) {
    const std::size_t n = std::min(kChunk, bytes.size() - done);
    ok = BCRYPT_SUCCESS(
        BCryptHashData(hash, const_cast<PUCHAR>(bytes.data() + done), static_cast<ULONG>(n), 0));
  }
  ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), kDigestLength, 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok ? Hex(digest) : std::string();
}

#else

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
    return {};
  return Hex({digest.data(), length});
}

#endif

}  // namespace plcburn
