#pragma once
// A burn log named on the command line, opened for reading.

#include <fstream>
#include <string>

namespace plcburn {

// Opens `path` (UTF-8, as typed) into `in`. Empty, or why it cannot be read: missing, not a
// regular file, or refused by the system.
std::string OpenBurnLog(const std::string& path, std::ifstream& in);

}  // namespace plcburn
