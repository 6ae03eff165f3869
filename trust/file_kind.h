#pragma once
// Files that are plainly not a raw firmware image: an image in a text format, an executable, an
// archive, a text.
//
// Each test asks for more than a short magic number, so that a raw image, which is binary data of
// any value, is not taken for one by accident: Intel HEX and S-records need a whole first record
// line of hex digits (at least ten), ELF and zip four fixed bytes, gzip three fixed bytes and zero
// reserved flags, PE/COFF both "MZ" and "PE\0\0" where the DOS header points, and a text needs
// every byte of the file printable or a line break, with at least one line break. A random image
// of 20 bytes or more is taken for one of them with a chance below 1 in 50 million (gzip's
// 1 in 134 million and text's 1 in 200 million weigh most), and a 1-byte image never is.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace plcburn {

// What the file looks like ("an Intel HEX file", "a zip archive", ...), or none for data that
// may be a raw image.
std::optional<std::string_view> NotARawImage(std::span<const std::uint8_t> file);

}  // namespace plcburn
