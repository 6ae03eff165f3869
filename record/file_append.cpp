#include "record/file_append.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
// clang-format on
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <system_error>
#include <thread>

namespace plcburn {

namespace {

// A FIFO or a device may block a write until someone reads, or take the record for good: the
// log is a file or nothing.
constexpr const char* kNotAFile = "it is not a regular file";

constexpr std::size_t kBlock = 8192;
// Far longer than any record: a longer line is no record, and is not kept whole in memory.
constexpr std::size_t kLongestLine = 1 << 20;

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

namespace {

HANDLE Handle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::string LastError() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

// The lock is on one byte far past any end the file will have: Windows locks keep others from
// reading and writing the bytes they cover, and the log's readers must not be.
OVERLAPPED LockedByte() {
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFFE;
  at.OffsetHigh = 0x7FFFFFFF;
  return at;
}

}  // namespace

FileAppender::FileAppender(const std::filesystem::path& path, std::chrono::milliseconds lockWait)
    : handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
  if (!MakeFolder(path, error_) || ExistsAsOtherThanFile(path, error_)) return;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file, as the
  // system places it.
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = LastError();
    return;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  if (GetFileType(file) != FILE_TYPE_DISK) {
    error_ = kNotAFile;
    return;
  }
  opened_ = true;
  WaitForLock(lockWait);
}

FileAppender::~FileAppender() {
  const HANDLE file = Handle(handle_);
  if (file == INVALID_HANDLE_VALUE) return;
  if (locked_) {
    OVERLAPPED at = LockedByte();
    UnlockFileEx(file, 0, 1, 0, &at);
  }
  CloseHandle(file);
}

bool FileAppender::TryLock(bool& worthWaiting) {
  OVERLAPPED at = LockedByte();
  if (LockFileEx(Handle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &at))
    return true;
  const DWORD error = GetLastError();
  worthWaiting = error == ERROR_LOCK_VIOLATION;
  return false;
}

bool FileAppender::Size(std::uint64_t& size) {
  LARGE_INTEGER bytes{};
  if (!GetFileSizeEx(Handle(handle_), &bytes)) return false;
  size = static_cast<std::uint64_t>(bytes.QuadPart);
  return true;
}

bool FileAppender::ReadAt(std::uint64_t offset, char* into, std::size_t length) {
  while (length > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(Handle(handle_), into, static_cast<DWORD>(length), &read, &at) || read == 0)
      return false;
    offset += read;
    into += read;
    length -= read;
  }
  return true;
}

bool FileAppender::Append(std::string_view text, std::string& error) {
  // All ones: at the end of the file, whatever another reader moved.
  OVERLAPPED atEnd{};
  atEnd.Offset = 0xFFFFFFFF;
  atEnd.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  if (!WriteFile(Handle(handle_), text.data(), static_cast<DWORD>(text.size()), &written, &atEnd)) {
    error = LastError();
    return false;
  }
  if (written != text.size()) error = "the record was written in part";
  return written == text.size();
}

#else

FileAppender::FileAppender(const std::filesystem::path& path, std::chrono::milliseconds lockWait)
    : handle_(-1) {
  if (!MakeFolder(path, error_) || ExistsAsOtherThanFile(path, error_)) return;
  // Not blocking, should a FIFO take the file's place between the look and the open.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    error_ = errno == ENXIO ? kNotAFile : std::generic_category().message(errno);
    return;
  }
  handle_ = fd;
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    error_ = kNotAFile;
    return;
  }
  opened_ = true;
  WaitForLock(lockWait);
}

FileAppender::~FileAppender() {
  // Closing the last descriptor of the open file releases its lock.
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool FileAppender::TryLock(bool& worthWaiting) {
  // flock, not fcntl: its lock belongs to the open file, so the threads of one process, each
  // with its own, exclude each other as processes do.
  int result = 0;
  do {
    result = flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  worthWaiting = result != 0 && errno == EWOULDBLOCK;
  return result == 0;
}

bool FileAppender::Size(std::uint64_t& size) {
  struct stat now {};
  if (fstat(static_cast<int>(handle_), &now) != 0) return false;
  size = static_cast<std::uint64_t>(now.st_size);
  return true;
}

bool FileAppender::ReadAt(std::uint64_t offset, char* into, std::size_t length) {
  while (length > 0) {
    const ssize_t n = pread(static_cast<int>(handle_), into, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    offset += static_cast<std::uint64_t>(n);
    into += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FileAppender::Append(std::string_view text, std::string& error) {
  ssize_t written = 0;
  do {
    written = write(static_cast<int>(handle_), text.data(), text.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    error = std::generic_category().message(errno);
    return false;
  }
  if (static_cast<std::size_t>(written) != text.size()) error = "the record was written in part";
  return static_cast<std::size_t>(written) == text.size();
}

#endif

void FileAppender::WaitForLock(std::chrono::milliseconds wait) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + wait;
  std::chrono::milliseconds pause(1);
  bool worthWaiting = true;
  // Polled: neither system offers a lock call that waits with a bound.
  while (!(locked_ = TryLock(worthWaiting)) && worthWaiting && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - Clock::now()));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

std::nullopt_t FileAppender::Fail() {
  readFailed_ = true;
  return std::nullopt;
}

std::optional<std::string> FileAppender::PreviousLine() {
  if (!opened_ || readFailed_) return std::nullopt;
  if (!scanEnd_) {
    std::uint64_t size = 0;
    if (!Size(size)) return Fail();
    scanEnd_ = size;
  }
  std::uint64_t end = *scanEnd_;
  if (end == 0) return std::nullopt;
  char last = 0;
  if (!ReadAt(end - 1, &last, 1)) return Fail();
  if (last == '\n') --end;
  std::string line;
  bool tooLong = false;
  std::uint64_t begin = end;
  std::string block;
  while (begin > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, begin));
    block.resize(n);
    if (!ReadAt(begin - n, block.data(), n)) return Fail();
    const std::size_t newline = block.rfind('\n');
    const std::size_t from = newline == std::string::npos ? 0 : newline + 1;
    if (!tooLong) {
      line.insert(0, block, from);
      tooLong = line.size() > kLongestLine;
      if (tooLong) line.clear();
    }
    begin -= n - from;
    if (newline != std::string::npos) break;
  }
  scanEnd_ = begin;
  return line;
}

bool FileAppender::EndsInsideALine() {
  std::uint64_t size = 0;
  char last = '\n';
  if (!opened_ || !Size(size)) return true;
  return size > 0 && (!ReadAt(size - 1, &last, 1) || last != '\n');
}

}  // namespace plcburn
