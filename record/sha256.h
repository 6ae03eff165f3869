#pragma once
// SHA-256 of an image file's bytes, from the system's cryptography: OpenSSL's libcrypto on
// Linux, CNG on Windows.

#include <cstdint>
#include <span>
#include <string>

namespace plcburn {

// Lower-case hex, as sha256sum prints it; empty if the system could not hash.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace plcburn
