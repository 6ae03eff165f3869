#pragma once
// The two primitives a minisign signature needs, from libgcrypt.

#include <array>
#include <cstdint>
#include <span>

namespace plcburn {

using Blake2b512 = std::array<std::uint8_t, 64>;

Blake2b512 Blake2b512Of(std::span<const std::uint8_t> data);

// Whether `signature` is `key`'s Ed25519 signature of `message`.
bool Ed25519Valid(std::span<const std::uint8_t, 32> key, std::span<const std::uint8_t> message,
                  std::span<const std::uint8_t, 64> signature);

}  // namespace plcburn
