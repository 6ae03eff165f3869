#include "trust/small_file.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace plcburn {

SmallFile ReadSmallFile(const std::filesystem::path& path, std::size_t limit,
                        const std::string& what) {
  const std::string name = what + " " + path.string();
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec) return {std::nullopt, "cannot read " + name + ": " + ec.message()};
  if (!std::filesystem::is_regular_file(status))
    return {std::nullopt, name + " is not a regular file"};
  std::ifstream in(path, std::ios::binary);
  std::string text(limit + 1, '\0');
  if (in) in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (!in && !in.eof()) return {std::nullopt, "cannot read " + name};
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > limit) {
    return {std::nullopt,
            name + " is longer than " + std::to_string(limit) + " bytes: no minisign file is"};
  }
  return {std::move(text), ""};
}

}  // namespace plcburn
