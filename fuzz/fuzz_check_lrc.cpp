// CheckLRC on arbitrary buffers: it must read only the characters it is given and agree with a
// plain decoding of them.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "proto/modbus_ascii.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int len = data[0];
  std::vector<std::uint8_t> buf(data + 1, data + size);
  if (buf.size() < static_cast<std::size_t>(len)) return 0;
  std::vector<std::uint8_t> exact(buf.begin(), buf.begin() + len);  // nothing beyond len
  const std::uint8_t result = plcburn::CheckLRC(exact.data(), len);

  std::uint8_t sum = 0;
  bool bad = false;
  for (int i = 0; i + 1 < len && !bad; i += 2) {
    auto value = [](std::uint8_t c) {
      return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    const int hi = value(buf[i]), lo = value(buf[i + 1]);
    bad = hi < 0 || lo < 0;
    if (!bad) sum = static_cast<std::uint8_t>(sum + (hi << 4 | lo));
  }
  if (result != (bad ? 1 : sum)) std::abort();
  return 0;
}
