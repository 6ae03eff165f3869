#pragma once
// The firmware image a run of plcburn-cli burns, read from a file, and the check that it gives
// the transfer something to write.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/catalogue.h"

namespace plcburn {

// The file's bytes, or why it cannot serve as an image. Anything but a regular file is refused
// before it is opened (a FIFO would wait for a writer, /dev/zero never ends), and at most
// `limit` + 1 bytes are read: enough for the size check to refuse a longer file.
struct ImageFile {
  std::optional<std::vector<std::uint8_t>> bytes;
  std::string error;
};

ImageFile ReadImageFile(const std::string& path, std::uint32_t limit);

// Whether an image that passes the model's size limits leaves the transfer no block to send: an
// empty one, or on a ZN500 one no longer than the tail that is never sent. The PLC would be
// erased and the burn would end "SUCCESSFUL" with nothing written.
bool LeavesNoDataBlock(const ModelRules& model, std::uint32_t length);

inline constexpr const char* kMsgNoDataBlock =
    "The file holds NO data to send: the PLC would be erased and nothing written";

}  // namespace plcburn
