#include "metrics/metrics_address.h"

#include <charconv>

namespace plcburn {

namespace {

ParsedMetricsAddress Refuse(std::string_view text, std::string_view why) {
  return {std::nullopt, "--metrics " + std::string(text) + ": " + std::string(why) +
                            " (ADDRESS:PORT, such as 127.0.0.1:9464)"};
}

}  // namespace

ParsedMetricsAddress ParseMetricsAddress(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return Refuse(text, "no port");
  std::string_view host = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return Refuse(text, "an IPv6 address goes in brackets");
  }
  if (host.empty()) return Refuse(text, "no address");
  if (host.find_first_of(" \t[]/") != std::string_view::npos) return Refuse(text, "not an address");
  int number = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || ec != std::errc{} || end != port.data() + port.size() || number < 1 ||
      number > 65535)
    return Refuse(text, "the port is a number from 1 to 65535");
  return {MetricsAddress{std::string(host), number}, {}};
}

}  // namespace plcburn
