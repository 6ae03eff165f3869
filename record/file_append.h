#pragma once
// Appends text to a file in one write on a descriptor opened for appending, so that appends of
// several threads and processes never interleave. Creates the file and its folders when missing.

#include <filesystem>
#include <string>
#include <string_view>

namespace plcburn {

// False, with the reason in `error`, when the text could not be appended whole.
bool AppendWhole(const std::filesystem::path& path, std::string_view text, std::string& error);

}  // namespace plcburn
