#pragma once
// Reading a key or a signature file, which is small: anything else is refused unread.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace plcburn {

struct SmallFile {
  std::optional<std::string> text;
  std::string error;  // one line naming the file
};

// `what` names the file in the error ("trusted key", "signature"). A folder, a device or a file
// longer than `limit` is refused without reading it.
SmallFile ReadSmallFile(const std::filesystem::path& path, std::size_t limit,
                        const std::string& what);

// Big enough for any key or signature minisign writes, with its longest trusted comment.
inline constexpr std::size_t kMinisignFileLimit = 8192;

}  // namespace plcburn
