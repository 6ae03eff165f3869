#pragma once
// The command line of plcburn-cli.

#include <optional>
#include <string>
#include <vector>

namespace plcburn {

struct CliOptions {
  std::vector<std::string> ports;  // empty: the first entry of the port list
  std::string model;               // with `image`: replaces the build's model and image
  std::string image;
  bool yes = false;  // answer reconnect prompts without waiting for Enter
  bool listPorts = false;
  bool buildModel = false;  // print the model this build serves
  bool help = false;
  bool version = false;
};

// The options, or the reason they are not usable.
struct ParsedCli {
  std::optional<CliOptions> options;
  std::string error;
};

ParsedCli ParseCli(const std::vector<std::string>& args);

inline constexpr const char* kCliUsage =
    "usage: plcburn-cli [--port PORT] [--model NAME --image FILE] [--yes] [--list-ports]\n"
    "  PORT  a listed name (ttyUSB0), a device path, or USB; default: the first listed port\n"
    "        --port repeated burns the same image into each PLC at once\n";

}  // namespace plcburn
