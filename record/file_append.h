#pragma once
// A file held for appending lines: opened (created, with its folders, when missing) and locked
// against every other FileAppender of it, threads and processes alike, so that reading its last
// lines and appending the next is one step. The lock is an advisory one on the open file (flock
// on Linux, LockFileEx on Windows), released when the FileAppender goes or its process dies.
// Each append is one write on a file opened for appending, so lines never interleave, locked or
// not.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plcburn {

class FileAppender {
 public:
  // Waits at most `lockWait` for the lock; a writer that holds it stuck cannot hold this one up
  // for longer.
  FileAppender(const std::filesystem::path& path, std::chrono::milliseconds lockWait);
  ~FileAppender();
  FileAppender(const FileAppender&) = delete;
  FileAppender& operator=(const FileAppender&) = delete;

  // False, with the reason in Error(), when the file could not be opened as a regular file.
  bool Opened() const { return opened_; }
  const std::string& Error() const { return error_; }
  // The lock was had within the wait.
  bool Locked() const { return locked_; }

  // The file's lines from its end back, one a call, without their newlines; the first may be an
  // unfinished one that lacks its newline. Lines longer than any record come as empty lines. None
  // at the start of the file, or once a read failed (then ReadFailed()). Reads blocks from the
  // end, never the whole file for its last line.
  std::optional<std::string> PreviousLine();
  bool ReadFailed() const { return readFailed_; }
  // The file's last byte is not a newline: its last line was cut off, or could not be read.
  bool EndsInsideALine();

  // Appends `text` in one write. False, with the reason in `error`, when not written whole.
  bool Append(std::string_view text, std::string& error);

 private:
  void WaitForLock(std::chrono::milliseconds wait);
  bool TryLock(bool& worthWaiting);
  bool Size(std::uint64_t& size);
  bool ReadAt(std::uint64_t offset, char* into, std::size_t length);
  std::nullopt_t Fail();

  std::intptr_t handle_;  // a descriptor on Linux, a HANDLE on Windows
  bool opened_ = false;
  bool locked_ = false;
  bool readFailed_ = false;
  std::string error_;
  std::optional<std::uint64_t> scanEnd_;  // where the line that PreviousLine returned began
};

}  // namespace plcburn
