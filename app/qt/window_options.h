#pragma once
// The window's own command-line options, --help and --version: answered before Qt starts, so
// that they need no display.

#include <optional>

namespace plcburn {

// The exit status when an option was answered, nothing when the window is to open.
std::optional<int> AnswerWindowOptions(int argc, char** argv);

}  // namespace plcburn
