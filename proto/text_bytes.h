#pragma once
// Request texts go on the wire as their bytes.

#include <cstdint>
#include <span>
#include <string_view>

namespace plcburn {

inline std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace plcburn
