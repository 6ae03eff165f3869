#pragma once
// The paragraphs that the --help of plcburn and plcburn-cli share.

#include <string>

namespace plcburn {

// "Environment:" (PLCBURN_EXTRA_PORTS) and, where udev rules apply, "Files:" (the udev rule).
std::string EnvironmentAndFilesHelp();

}  // namespace plcburn
