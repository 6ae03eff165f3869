#pragma once
// SHA-256 of an image file's bytes (and of the burn log's lines), from libgcrypt.

#include <cstdint>
#include <span>
#include <string>

namespace plcburn {

// Lower-case hex, as sha256sum prints it.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace plcburn
