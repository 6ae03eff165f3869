#pragma once
// What plcsim prints for --help and --version; the man page plcsim(1) is made from them.

#include <string>

namespace plcburn {

std::string PlcsimHelpText();
std::string PlcsimVersionText();

}  // namespace plcburn
