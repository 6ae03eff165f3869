#pragma once
// Whether a file's minisign signature was made by one of the trusted keys, over exactly these
// bytes, with the trusted comment it shows.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "trust/minisign_key.h"
#include "trust/minisign_signature.h"

namespace plcburn {

enum class SignatureVerdict {
  Valid,
  UntrustedKey,    // made by a key that is not among the trusted ones
  FileChanged,     // the signature does not match the bytes: the file or the signature changed
  CommentAltered,  // the file matches, the trusted comment does not
};

SignatureVerdict CheckSignature(std::span<const std::uint8_t> file,
                                const MinisignSignature& signature,
                                const std::vector<PublicKey>& trusted);

}  // namespace plcburn
