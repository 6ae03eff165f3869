#pragma once
// The firmware image a run of plcburn-cli burns, read from a file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plcburn {

// The file's bytes, or why it cannot serve as an image. Anything but a regular file is refused
// before it is opened (a FIFO would wait for a writer, /dev/zero never ends), and at most
// `limit` + 1 bytes are read: enough for the size check to refuse a longer file.
struct ImageFile {
  std::optional<std::vector<std::uint8_t>> bytes;
  std::string error;
};

ImageFile ReadImageFile(const std::string& path, std::uint32_t limit);

}  // namespace plcburn
