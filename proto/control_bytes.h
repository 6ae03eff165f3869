#pragma once
// Single bytes with a meaning on the wire: the boot loader's answers and block framing, and the
// answer codes of the application's replies.

#include <cstdint>

namespace plcburn {

inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t SUB = 0x1A;  // pads the last block

}  // namespace plcburn
