#pragma once
// Where the metrics are served: --metrics ADDRESS:PORT.

#include <optional>
#include <string>
#include <string_view>

namespace plcburn {

struct MetricsAddress {
  std::string host;  // a name or an IPv4 address, or an IPv6 address without its brackets
  int port = 0;      // 0: any free port (for tests; the command line needs a real one)
};

// The address, or the reason it is not one, worded for a usage error.
struct ParsedMetricsAddress {
  std::optional<MetricsAddress> address;
  std::string error;
};

// "127.0.0.1:9464", "localhost:9464", "[::1]:9464", "0.0.0.0:9464".
ParsedMetricsAddress ParseMetricsAddress(std::string_view text);

}  // namespace plcburn
