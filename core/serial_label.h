#pragma once
// A PLC's serial, as the operator gives it (a scanned label, or --serial): what the burn record
// and the plant's history know the PLC by. The protocol has no serial of its own.

#include <string>
#include <string_view>

namespace plcburn {

inline constexpr std::size_t kMaxSerialLength = 64;

// Why `text` cannot be a serial (empty, too long, holding control characters), or empty when it
// can.
inline std::string SerialProblem(std::string_view text) {
  if (text.empty()) return "an empty serial";
  if (text.size() > kMaxSerialLength)
    return "a serial longer than " + std::to_string(kMaxSerialLength) + " characters";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return "a serial with control characters";
  }
  return {};
}

}  // namespace plcburn
