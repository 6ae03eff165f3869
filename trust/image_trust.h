#pragma once
// Whether an image file may be burned: it is no other kind of file, and under a policy it carries
// a valid signature (NAME.minisig next to it) by a trusted key. The bytes checked are the ones
// given, which the caller then burns.

#include <cstdint>
#include <span>
#include <string>

#include "trust/trust_policy.h"

namespace plcburn {

struct ImageTrust {
  bool accepted = false;
  std::string error;  // one line, when refused
  // Of a signed image; empty when no policy asked for a signature.
  std::string keyId;
  std::string trustedComment;
};

ImageTrust CheckImageTrust(const std::string& imagePath, std::span<const std::uint8_t> image,
                           const TrustPolicy& policy);

}  // namespace plcburn
