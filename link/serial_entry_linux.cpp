#include "link/serial_entry_linux.h"

#include <libudev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace plcburn {

namespace {

std::string_view FileKind(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "no device node";
}

// The kernel's subsystem of a character device ("tty", "mem", ...), or empty where sysfs does not
// list it (a pseudo-terminal's slave side).
std::string CharSubsystem(dev_t rdev) {
  const std::string link = "/sys/dev/char/" + std::to_string(major(rdev)) + ":" +
                           std::to_string(minor(rdev)) + "/subsystem";
  char target[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  return std::filesystem::path(std::string(target, static_cast<std::size_t>(n)))
      .filename()
      .string();
}

// Serial lines are tty devices; pseudo-terminals (majors 136 to 143) are too, though sysfs does
// not list them.
bool IsSerialNode(dev_t rdev) {
  const std::string subsystem = CharSubsystem(rdev);
  if (!subsystem.empty()) return subsystem == "tty";
  return major(rdev) >= 136 && major(rdev) <= 143;
}

}  // namespace

void LookAtSerialEntry(std::size_t slot, const char* path, udev* udevContext, bool udevRuns,
                       SlotLook& look) {
  struct stat st {};
  char real[PATH_MAX];
  if (stat(path, &st) != 0 || realpath(path, real) == nullptr) return;
  if (!S_ISCHR(st.st_mode)) {
    look.misfits.push_back(
        {slot, path, "not a serial device: " + std::string(FileKind(st.st_mode))});
    return;
  }
  if (!IsSerialNode(st.st_rdev)) {
    const std::string subsystem = CharSubsystem(st.st_rdev);
    look.misfits.push_back(
        {slot, path,
         "not a serial device: a character device of " +
             (subsystem.empty() ? "major " + std::to_string(major(st.st_rdev)) : subsystem)});
    return;
  }
  const std::string number =
      std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  std::string instance;
  if (udevRuns) {
    // udev's own identity of this plug; a node it has not set up yet is not ready to open.
    if (udev_device* d = udev_device_new_from_devnum(udevContext, 'c', st.st_rdev)) {
      const bool ready = udev_device_get_is_initialized(d) != 0;
      const char* since = udev_device_get_property_value(d, "USEC_INITIALIZED");
      if (ready && since != nullptr) instance = number + "@" + since;
      udev_device_unref(d);
      if (!ready) return;
    }
  }
  // Where udev does not know the node, a new node has a new inode or, for a reused
  // pseudo-terminal number, a new change time.
  if (instance.empty())
    instance = number + "#" + std::to_string(st.st_ino) + "." + std::to_string(st.st_ctim.tv_sec) +
               "." + std::to_string(st.st_ctim.tv_nsec);
  struct stat entry {};
  std::int64_t made = 0;
  if (lstat(path, &entry) == 0)
    made = std::int64_t{entry.st_ctim.tv_sec} * 1000000000 + entry.st_ctim.tv_nsec;
  look.devices.push_back({slot, real, path, instance, false, made});
}

}  // namespace plcburn
