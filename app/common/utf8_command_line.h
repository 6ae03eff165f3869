#pragma once
// The program's arguments as UTF-8 on every system. On Windows they are taken from the wide
// command line, since the narrow one turns every letter outside the ANSI code page into "?".

#include <string>
#include <vector>

namespace plcburn {

// The arguments after the program's name.
std::vector<std::string> Utf8CommandLine(int argc, char** argv);

}  // namespace plcburn
