#pragma once
// A serial slot's folder: the part of its path before the pattern.

#include <filesystem>
#include <string>

namespace plcburn {

inline std::string SlotFolder(const std::string& slot) {
  return std::filesystem::path(slot).parent_path().string();
}

}  // namespace plcburn
