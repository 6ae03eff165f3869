#pragma once
// What the programs built around the built-in image print for --version.

#include <string>

namespace plcburn {

// The version on the first line, then the built-in image: file name, model, size and the
// SHA-256 taken at build time, so that an operator can tell which firmware a program carries.
std::string VersionText();

}  // namespace plcburn
