#pragma once
// The PLC's USB vendor and product, and the same as Windows writes them in its device paths.

#include <cstdint>

namespace plcburn {

inline constexpr std::uint16_t kUsbVendor = 0x7e3a;
inline constexpr std::uint16_t kUsbProduct = 0x0001;
inline constexpr char kUsbMarker[] = "vid_7e3a&pid_0001";

}  // namespace plcburn
