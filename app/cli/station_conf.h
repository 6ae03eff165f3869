#pragma once
// A station's settings file, station.conf, as the Windows service reads it: the keys SLOTS and
// OPTIONS of the Linux unit's file, each split into words at spaces, turned into the arguments
// of plcburn-cli --watch with the service's own --log.

#include <string>
#include <string_view>
#include <vector>

namespace plcburn {

struct StationConfArgs {
  std::vector<std::string> args;  // --watch SLOTS... --log LOG OPTIONS...
  std::string error;              // what is wrong with the file, by its line; empty when none
};

// Blank lines and lines beginning with "#" or ";" are comments; a value may be quoted whole.
StationConfArgs StationConfToArgs(std::string_view text, const std::string& logPath);

}  // namespace plcburn
