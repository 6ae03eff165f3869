#pragma once
// The paragraphs that the --help of plcburn and plcburn-cli share.

#include <string>

namespace plcburn {

// "Environment:" (PLCBURN_EXTRA_PORTS, not read on Windows) and, where the build installs a udev
// rule, "Files:" with its path.
std::string EnvironmentAndFilesHelp();

}  // namespace plcburn
