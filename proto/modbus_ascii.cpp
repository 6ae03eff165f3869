#include "proto/modbus_ascii.h"

namespace plcburn {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of an upper-case hex digit, or -1.
int HexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - 0x30;
  if (c >= 'A' && c <= 'F') return c - 0x37;
  return -1;
}

}  // namespace

std::uint8_t Lrc(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  return static_cast<std::uint8_t>(-sum);
}

std::string BuildFrame(std::span<const std::uint8_t> bytes) {
  std::string frame = ":";
  auto put = [&frame](std::uint8_t b) {
    frame += kHexDigits[b >> 4];
    frame += kHexDigits[b & 0x0F];
  };
  for (std::uint8_t b : bytes) put(b);
  put(Lrc(bytes));
  frame += "\r\n";
  return frame;
}

std::uint8_t CheckLRC(std::uint8_t* buf, int len) {
  // Whole pairs only: an odd count never reads past the `len` characters it was given.
  std::uint8_t count = static_cast<std::uint8_t>(len & 0xFE);
  std::uint8_t sum = 0;
  const std::uint8_t* read = buf;
  std::uint8_t* write = buf;
  while (count != 0) {
    const int high = HexValue(*read++);
    if (high < 0) return 1;
    const int low = HexValue(*read++);
    if (low < 0) return 1;
    const auto data = static_cast<std::uint8_t>((high << 4) | low);
    *write++ = data;
    sum = static_cast<std::uint8_t>(sum + data);
    count = static_cast<std::uint8_t>(count - 2);
  }
  return sum;
}

}  // namespace plcburn
