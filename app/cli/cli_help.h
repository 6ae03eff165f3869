#pragma once
// What plcburn-cli --help prints; the man page plcburn-cli(1) is made from it.

#include <string>

namespace plcburn {

std::string CliHelpText();

}  // namespace plcburn
