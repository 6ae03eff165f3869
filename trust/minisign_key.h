#pragma once
// A minisign public key file: an untrusted comment line, then the key in base64.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plcburn {

using KeyId = std::array<std::uint8_t, 8>;

struct PublicKey {
  KeyId id{};
  std::array<std::uint8_t, 32> ed25519{};
};

struct ParsedKey {
  std::optional<PublicKey> key;
  std::string error;  // one line, why the text is no key
};

ParsedKey ParsePublicKey(std::string_view text);

// The key id as minisign shows it in a public key's comment: the eight bytes as a little-endian
// number in upper-case hex, without leading zeros.
std::string KeyIdText(const KeyId& id);

}  // namespace plcburn
