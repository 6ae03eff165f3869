#pragma once
// Standard base64 with padding, as minisign writes it.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace plcburn {

// The bytes, or none when `text` is not canonical padded base64 (no spaces, no line breaks).
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

}  // namespace plcburn
