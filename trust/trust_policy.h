#pragma once
// Which keys an image must be signed by: the minisign public keys (*.pub) installed in the
// trusted-keys folder and those named on the command line. With none, images need no signature.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "trust/minisign_key.h"

namespace plcburn {

struct TrustPolicy {
  std::vector<PublicKey> keys;
  // Every image's signature must bind it to a model (a model= word in its trusted comment).
  bool requireModel = false;
  bool Enforced() const { return !keys.empty(); }
};

struct LoadedPolicy {
  std::optional<TrustPolicy> policy;
  std::string error;  // one line: a key that cannot be read or is no key
};

// A folder that does not exist holds no keys; one key that cannot be used refuses the policy
// whole, rather than burning under fewer keys than the plant installed.
LoadedPolicy LoadTrustPolicy(const std::filesystem::path& folder,
                             const std::vector<std::string>& keyFiles);

// /etc/plcburn/trusted-keys, or %ProgramData%\plcburn\trusted-keys on Windows.
std::filesystem::path DefaultTrustedKeysFolder();

}  // namespace plcburn
