#include "app/cli/image_file.h"

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
  std::vector<std::uint8_t> bytes(std::size_t{limit} + 1);
  if (in)
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in && !in.eof()) return {std::nullopt, "cannot read image " + path};
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return {std::move(bytes), ""};
}

}  // namespace plcburn
