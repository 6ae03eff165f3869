#include <gcrypt.h>

#include <mutex>

#include "trust/ed25519.h"

namespace plcburn {

namespace {

// libgcrypt must be set up once before its first use. Nothing here is secret, so no secure memory.
void InitGcrypt() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      gcry_check_version(nullptr);
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
  });
}

// An S-expression released at the end of its scope.
struct Sexp {
  gcry_sexp_t value = nullptr;
  ~Sexp() { gcry_sexp_release(value); }
};

}  // namespace

Blake2b512 Blake2b512Of(std::span<const std::uint8_t> data) {
  InitGcrypt();
  Blake2b512 digest{};
  gcry_md_hash_buffer(GCRY_MD_BLAKE2B_512, digest.data(), data.data(), data.size());
  return digest;
}

bool Ed25519Valid(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t> message,
                  std::span<const std::uint8_t, 64> signature) {
  InitGcrypt();
  Sexp k, s, d;
  const int keyLength = static_cast<int>(key.size());
  const int messageLength = static_cast<int>(message.size());
  if (gcry_sexp_build(&k.value, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      keyLength, key.data()) != 0 ||
      gcry_sexp_build(&s.value, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(),
                      32, signature.data() + 32) != 0 ||
      gcry_sexp_build(&d.value, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      messageLength, message.data()) != 0) {
    return false;
  }
  return gcry_pk_verify(s.value, d.value, k.value) == 0;
}

}  // namespace plcburn
