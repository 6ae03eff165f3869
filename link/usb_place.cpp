#include "link/usb_place.h"

#include <algorithm>
#include <cctype>

#include "core/port_name.h"

namespace plcburn {

namespace {

// `text` begins with `word` and digits; what follows them.
std::optional<std::string_view> AfterNumbered(std::string_view text, std::string_view word) {
  if (!text.starts_with(word)) return std::nullopt;
  text.remove_prefix(word.size());
  const auto digits = std::find_if_not(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
  if (digits == text.begin()) return std::nullopt;
  return text.substr(static_cast<std::size_t>(digits - text.begin()));
}

// "Port_#0002.Hub_#0003", as the USB hub driver writes a device's place.
bool IsHubAndPort(std::string_view text) {
  const auto hub = AfterNumbered(text, "Port_#");
  if (!hub || !hub->starts_with('.')) return false;
  const auto rest = AfterNumbered(hub->substr(1), "Hub_#");
  return rest && rest->empty();
}

}  // namespace

std::optional<std::string> UsbPlaceName(std::string_view locationInformation,
                                        const std::vector<std::string>& locationPaths) {
  const std::string prefix(kUsbPlacePrefix);
  if (IsHubAndPort(locationInformation)) return prefix + std::string(locationInformation);
  for (const std::string& path : locationPaths)
    if (path.find("#USBROOT(") != std::string::npos) return prefix + path;
  return std::nullopt;
}

}  // namespace plcburn
