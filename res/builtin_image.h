#pragma once
// The firmware image built into the program, and the file name it was built from.

#include <cstdint>
#include <span>
#include <string_view>

namespace plcburn {

std::span<const std::uint8_t> BuiltinImage();
std::string_view BuiltinImageName();
// Lower-case hex, taken from the file when the program was built.
std::string_view BuiltinImageSha256();

}  // namespace plcburn
