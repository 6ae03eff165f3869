#include "record/sha256.h"

#include <gcrypt.h>

#include <array>
#include <mutex>

namespace plcburn {

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  // libgcrypt is set up once before its first use, by whichever of its users comes first.
  static std::once_flag setUp;
  std::call_once(setUp, [] {
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      gcry_check_version(nullptr);
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
  });
  std::array<std::uint8_t, 32> digest{};
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), bytes.data(), bytes.size());
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace plcburn
