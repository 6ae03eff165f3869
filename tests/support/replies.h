#pragma once
// PLC replies for protocol tests, built byte by byte so the tests do not depend on the code's own
// frame builder for what they expect.

#include <cstdint>
#include <string>

#include "proto/modbus_ascii.h"

namespace plcburn::testing {

inline std::string Hex(std::initializer_list<std::uint8_t> bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
    sum = static_cast<std::uint8_t>(sum + b);
  }
  const auto lrc = static_cast<std::uint8_t>(-sum);
  s += digits[lrc >> 4];
  s += digits[lrc & 15];
  return ":" + s + "\r\n";
}

// 19-character answer to a function-0x64 request.
inline std::string Answer(std::uint8_t code, std::uint8_t b5 = 0, std::uint8_t b6 = 0) {
  return Hex({0x00, 0x64, 0x01, 0x59, code, b5, b6});
}
inline std::string Nak(std::uint8_t errorClass, std::uint8_t flowState) {
  return Answer(0x15, errorClass, flowState);
}
// 15-character answer to a one-register read.
inline std::string Register(std::uint16_t value) {
  return Hex({0x00, 0x03, 0x02, static_cast<std::uint8_t>(value >> 8),
              static_cast<std::uint8_t>(value & 0xFF)});
}
inline std::string WithBadLrc(std::string frame) {
  frame[frame.size() - 3] = frame[frame.size() - 3] == '0' ? '1' : '0';
  return frame;
}

}  // namespace plcburn::testing
