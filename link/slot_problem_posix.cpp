// Which slots a station on Linux or another POSIX system can watch.

#include <filesystem>
#include <string_view>

#include "core/port_name.h"
#include "link/slot_paths.h"
#include "link/slot_watch.h"

namespace plcburn {

namespace {

bool HasGlob(std::string_view text) {
  return text.find_first_of("*?[") != std::string_view::npos;
}

}  // namespace

std::string SlotProblem(const std::string& slot) {
  if (slot == kUsbPort) return {};
  if (slot.empty() || slot.front() != '/')
    return "slot " + slot + ": give an absolute path or glob of device nodes, or USB";
  const std::string name = std::filesystem::path(slot).filename().string();
  if (name.empty()) return "slot " + slot + ": names a folder, not device nodes";
  const std::string folder = SlotFolder(slot);
  if (HasGlob(folder)) return "slot " + slot + ": only the last part of a slot may be a pattern";
  std::error_code ec;
  // udev makes folders under /dev as devices come; nothing makes others.
  if (!std::filesystem::is_directory(folder, ec) && !folder.starts_with("/dev/"))
    return "slot " + slot + ": folder " + folder + " does not exist";
  return {};
}

}  // namespace plcburn
