#pragma once
// Modbus ASCII framing: ':' + upper-case hex pairs + LRC + CR LF.

#include <cstdint>
#include <span>
#include <string>

namespace plcburn {

// Two's complement of the 8-bit sum of `bytes`.
std::uint8_t Lrc(std::span<const std::uint8_t> bytes);

// The frame text for `bytes` (the LRC is appended here).
std::string BuildFrame(std::span<const std::uint8_t> bytes);

// Decodes `len` hex characters of `buf` in place into len/2 bytes and returns their 8-bit sum;
// returns 1 at the first character that is not '0'-'9' or 'A'-'F'. Only the low 8 bits of `len`
// count. Pairs before a bad character stay decoded.
std::uint8_t CheckLRC(std::uint8_t* buf, int len);

}  // namespace plcburn
