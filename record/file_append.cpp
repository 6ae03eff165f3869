#include "record/file_append.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
// clang-format on
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <system_error>

namespace plcburn {

namespace {

// A FIFO or a device may block a write until someone reads, or take the record for good: the
// log is a file or nothing.
constexpr const char* kNotAFile = "it is not a regular file";

bool MakeFolder(const std::filesystem::path& path, std::string& error) {
  const std::filesystem::path folder = path.parent_path();
  if (folder.empty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) error = ec.message();
  return !ec;
}

bool ExistsAsOtherThanFile(const std::filesystem::path& path, std::string& error) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) return false;
  error = kNotAFile;
  return true;
}

}  // namespace

#ifdef _WIN32

bool AppendWhole(const std::filesystem::path& path, std::string_view text, std::string& error) {
  if (!MakeFolder(path, error) || ExistsAsOtherThanFile(path, error)) return false;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file, as the
  // system places it.
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = std::system_category().message(static_cast<int>(GetLastError()));
    return false;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    error = kNotAFile;
    return false;
  }
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  if (!ok) error = std::system_category().message(static_cast<int>(GetLastError()));
  CloseHandle(file);
  if (ok && written != text.size()) error = "the record was written in part";
  return ok && written == text.size();
}

#else

bool AppendWhole(const std::filesystem::path& path, std::string_view text, std::string& error) {
  if (!MakeFolder(path, error) || ExistsAsOtherThanFile(path, error)) return false;
  // Not blocking, should a FIFO take the file's place between the look and the open.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    error = errno == ENXIO ? kNotAFile : std::generic_category().message(errno);
    return false;
  }
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(fd);
    error = kNotAFile;
    return false;
  }
  ssize_t written = 0;
  do {
    written = write(fd, text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) error = std::generic_category().message(errno);
  close(fd);
  if (written >= 0 && static_cast<std::size_t>(written) != text.size())
    error = "the record was written in part";
  return written >= 0 && static_cast<std::size_t>(written) == text.size();
}

#endif

}  // namespace plcburn
