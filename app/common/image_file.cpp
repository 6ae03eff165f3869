#include "app/common/image_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/utf8_text.h"

namespace plcburn {

ImageFile ReadImageFile(const std::string& path, std::uint32_t limit) {
  std::error_code ec;
  // The path as typed for the messages, the system's own form to open it.
  const std::filesystem::path file = PathFromUtf8(path);
  const auto status = std::filesystem::status(file, ec);
  if (ec) return {std::nullopt, "cannot read image " + path + ": " + ec.message()};
  if (!std::filesystem::is_regular_file(status))
    return {std::nullopt, "image " + path + " is not a regular file"};
  std::ifstream in(file, std::ios::binary);
  if (!in) return {std::nullopt, "cannot read image " + path};
  // In pieces, so that a station holding a small image does not keep the largest model's
  // limit allocated and touched for its whole life.
  const std::size_t most = std::size_t{limit} + 1;
  std::vector<std::uint8_t> bytes;
  constexpr std::size_t kPiece = 64 * 1024;
  while (bytes.size() < most && in) {
    const std::size_t had = bytes.size();
    bytes.resize(std::min(most, had + kPiece));
    in.read(reinterpret_cast<char*>(bytes.data() + had),
            static_cast<std::streamsize>(bytes.size() - had));
    bytes.resize(had + static_cast<std::size_t>(in.gcount()));
  }
  if (!in && !in.eof()) return {std::nullopt, "cannot read image " + path};
  bytes.shrink_to_fit();
  return {std::move(bytes), ""};
}

}  // namespace plcburn
