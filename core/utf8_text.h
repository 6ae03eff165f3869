#pragma once
// Text inside the program is UTF-8, paths included, so that a path is shown as typed. These turn
// it into the system's own form and back: the path as the file functions take it, and the wide
// (UTF-16) text of the Windows interfaces.

#include <filesystem>
#include <string>
#include <string_view>

namespace plcburn {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

// Text that is not UTF-8 keeps its bytes below 0x80 and shows each other byte as U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace plcburn
