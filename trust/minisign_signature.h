#pragma once
// A minisign signature file (NAME.minisig): an untrusted comment, the signature of the file, a
// trusted comment, and the global signature over the signature and the trusted comment.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "trust/minisign_key.h"

namespace plcburn {

using Ed25519Signature = std::array<std::uint8_t, 64>;

struct MinisignSignature {
  bool prehashed = true;  // signs the file's BLAKE2b-512 rather than the file itself
  KeyId keyId{};
  Ed25519Signature ofFile{};
  std::string trustedComment;  // without its "trusted comment: " prefix
  Ed25519Signature global{};   // over `ofFile` followed by `trustedComment`
};

struct ParsedSignature {
  std::optional<MinisignSignature> signature;
  std::string error;  // one line, why the text is no signature
};

ParsedSignature ParseSignature(std::string_view text);

}  // namespace plcburn
