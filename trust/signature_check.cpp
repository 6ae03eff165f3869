#include "trust/signature_check.h"

#include <algorithm>

#include "trust/ed25519.h"

namespace plcburn {

SignatureVerdict CheckSignature(std::span<const std::uint8_t> file,
                                const MinisignSignature& signature,
                                const std::vector<PublicKey>& trusted) {
  const auto key = std::find_if(trusted.begin(), trusted.end(),
                                [&](const PublicKey& k) { return k.id == signature.keyId; });
  if (key == trusted.end()) return SignatureVerdict::UntrustedKey;

  Blake2b512 digest{};
  if (signature.prehashed) digest = Blake2b512Of(file);
  const std::span<const std::uint8_t> signedBytes =
      signature.prehashed ? std::span<const std::uint8_t>(digest) : file;
  if (!Ed25519Valid(key->ed25519, signedBytes, signature.ofFile))
    return SignatureVerdict::FileChanged;

  std::vector<std::uint8_t> global(signature.ofFile.begin(), signature.ofFile.end());
  global.insert(global.end(), signature.trustedComment.begin(), signature.trustedComment.end());
  if (!Ed25519Valid(key->ed25519, global, signature.global))
    return SignatureVerdict::CommentAltered;
  return SignatureVerdict::Valid;
}

}  // namespace plcburn
