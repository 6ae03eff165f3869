#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "core/port_name.h"
#include "link/port_list.h"

namespace plcburn {

namespace {

namespace fs = std::filesystem;

// The 8250 driver registers every ttyS it could have, with or without a UART behind it. The
// serial core names the UART's type in sysfs (0: none); a port without that entry counts when a
// driver is bound to its device. Opening a port to find out would pulse DTR and RTS on it.
bool UartPresent(const fs::path& entry) {
  std::ifstream typeFile(entry / "type");
  int type = 0;
  if (typeFile >> type) return type != 0;
  std::error_code missing;
  return fs::exists(entry / "device" / "driver", missing);
}

}  // namespace

std::vector<std::string> EnumComPort(const std::string& sysRoot) {
  std::vector<std::string> ports;
  std::error_code ec;
  for (fs::directory_iterator it(sysRoot, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& entry = it->path();
    const std::string name = entry.filename().string();
    if (name.size() > kPortNameMax) continue;
    // Virtual consoles, ptys and the like have no device link.
    std::error_code missing;
    if (!fs::exists(fs::symlink_status(entry / "device", missing))) continue;
    if (name.starts_with("ttyS") && !UartPresent(entry)) continue;
    ports.push_back(name);
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

std::vector<std::string> PortList(bool usbModel, const std::string& sysRoot) {
  std::vector<std::string> ports =
      usbModel ? std::vector<std::string>{std::string(kUsbPort)} : EnumComPort(sysRoot);
  const char* extra = std::getenv("PLCBURN_EXTRA_PORTS");
  std::string_view rest = extra ? extra : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view item = rest.substr(0, colon);
    if (!item.empty()) ports.emplace_back(item);
    rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
  }
  return ports;
}

}  // namespace plcburn
