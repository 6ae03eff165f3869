#include "link/port_list.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cstring>

#include "core/port_name.h"

namespace plcburn {

std::optional<std::string> ComPortFromFriendlyName(std::string_view friendlyName) {
  const std::size_t com = friendlyName.find("(COM");
  if (com == std::string_view::npos) return std::nullopt;
  const std::size_t begin = com + 1;
  const std::size_t end = friendlyName.rfind(')');
  if (end == std::string_view::npos || end < begin) return std::nullopt;
  if (end - begin > kPortNameMax) return std::nullopt;
  return std::string(friendlyName.substr(begin, end - begin));
}

std::optional<std::vector<std::string>> EnumComPort() {
  const HDEVINFO devices =
      SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (devices == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<std::string> ports;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    char buffer[1024] = {};
    // The terminator is kept inside the buffer so that a name of 1024 bytes stays a string.
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1,
                                           nullptr)) {
      continue;
    }
    if (auto port = ComPortFromFriendlyName(buffer)) ports.push_back(std::move(*port));
  }
  SetupDiDestroyDeviceInfoList(devices);
  return ports;
}

std::vector<std::string> PortList(bool usbModel) {
  if (usbModel) return {std::string(kUsbPort)};
  std::vector<std::string> ports = EnumComPort().value_or(std::vector<std::string>{});
  // The sorted combo box compares without regard to case; so does this.
  std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) < 0;
  });
  return ports;
}

}  // namespace plcburn
