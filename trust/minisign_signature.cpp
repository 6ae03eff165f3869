#include "trust/minisign_signature.h"

#include <algorithm>

#include "trust/base64.h"
#include "trust/minisign_lines.h"

namespace plcburn {

namespace {

constexpr std::string_view kTrustedCommentPrefix = "trusted comment: ";
constexpr std::size_t kSignatureBytes = 2 + 8 + 64;  // algorithm, key id, signature

}  // namespace

ParsedSignature ParseSignature(std::string_view text) {
  const MinisignLines lines = SplitMinisignLines(text, 4);
  if (!lines.error.empty()) return {std::nullopt, lines.error};
  if (!lines.at[0].starts_with(kUntrustedCommentPrefix))
    return {std::nullopt, "the first line is not an untrusted comment"};
  if (!lines.at[2].starts_with(kTrustedCommentPrefix))
    return {std::nullopt, "the third line is not a trusted comment"};

  const auto signature = DecodeBase64(lines.at[1]);
  if (!signature) return {std::nullopt, "the signature is not valid base64"};
  if (signature->size() != kSignatureBytes) {
    return {std::nullopt,
            "the signature has " + std::to_string(signature->size()) + " bytes, not 74"};
  }
  MinisignSignature s;
  const std::uint8_t a = (*signature)[0], b = (*signature)[1];
  if (a != 'E' || (b != 'd' && b != 'D'))
    return {std::nullopt, "the signature is not an Ed25519 signature"};
  s.prehashed = b == 'D';
  std::copy_n(signature->begin() + 2, s.keyId.size(), s.keyId.begin());
  std::copy_n(signature->begin() + 10, s.ofFile.size(), s.ofFile.begin());

  const auto global = DecodeBase64(lines.at[3]);
  if (!global) return {std::nullopt, "the global signature is not valid base64"};
  if (global->size() != s.global.size()) {
    return {std::nullopt,
            "the global signature has " + std::to_string(global->size()) + " bytes, not 64"};
  }
  std::copy(global->begin(), global->end(), s.global.begin());
  s.trustedComment = std::string(lines.at[2].substr(kTrustedCommentPrefix.size()));
  return {std::move(s), ""};
}

}  // namespace plcburn
