#include "trust/minisign_key.h"

#include <algorithm>

#include "trust/base64.h"
#include "trust/minisign_lines.h"

namespace plcburn {

namespace {

constexpr std::size_t kKeyBytes = 2 + 8 + 32;  // algorithm, key id, Ed25519 key

}  // namespace

ParsedKey ParsePublicKey(std::string_view text) {
  const MinisignLines lines = SplitMinisignLines(text, 2);
  if (!lines.error.empty()) return {std::nullopt, lines.error};
  if (!lines.at[0].starts_with(kUntrustedCommentPrefix))
    return {std::nullopt, "the first line is not an untrusted comment"};
  const auto bytes = DecodeBase64(lines.at[1]);
  if (!bytes) return {std::nullopt, "the key is not valid base64"};
  if (bytes->size() != kKeyBytes)
    return {std::nullopt, "the key has " + std::to_string(bytes->size()) + " bytes, not 42"};
  if ((*bytes)[0] != 'E' || (*bytes)[1] != 'd')
    return {std::nullopt, "the key is not an Ed25519 key"};
  PublicKey key;
  std::copy_n(bytes->begin() + 2, key.id.size(), key.id.begin());
  std::copy_n(bytes->begin() + 10, key.ed25519.size(), key.ed25519.begin());
  return {key, ""};
}

std::string KeyIdText(const KeyId& id) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (auto b = id.rbegin(); b != id.rend(); ++b) {
    text += kHex[*b >> 4];
    text += kHex[*b & 0x0F];
  }
  const std::size_t first = std::min(text.find_first_not_of('0'), text.size() - 1);
  return text.substr(first);
}

}  // namespace plcburn
