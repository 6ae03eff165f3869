#pragma once
// plcburn-cli speaks UTF-8 on every system: its arguments arrive as UTF-8 and what it prints
// (paths among it) goes out as UTF-8. On Windows the arguments are taken from the wide command
// line, since the narrow one turns every letter outside the ANSI code page into "?".

#include <string>
#include <vector>

namespace plcburn {

// The arguments after the program's name.
std::vector<std::string> Utf8CommandLine(int argc, char** argv);
// A Windows console shows what is printed as UTF-8 (elsewhere nothing to do).
void UseUtf8Console();

}  // namespace plcburn
