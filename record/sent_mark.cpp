#include "record/sent_mark.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace plcburn {

namespace {
// One line: a person looking at the state folder can tell what it is.
constexpr const char* kHead = "plcburn-sent-mark 1";
}  // namespace

std::filesystem::path SentMarkPath(const std::filesystem::path& log) {
  std::filesystem::path mark = log;
  mark += ".sent";
  return mark;
}

std::optional<SentMark> ReadSentMark(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string head, rest;
  if (!std::getline(in, head) || head != kHead || !std::getline(in, rest)) return std::nullopt;
  std::istringstream fields(rest);
  SentMark mark;
  if (!(fields >> mark.end >> mark.length >> mark.records >> mark.lineSha256)) return std::nullopt;
  if (mark.lineSha256 == "-") mark.lineSha256.clear();
  if (mark.length > mark.end || (mark.end > 0 && mark.lineSha256.size() != 64)) return std::nullopt;
  return mark;
}

bool WriteSentMark(const std::filesystem::path& file, const SentMark& mark, std::string& error) {
  std::filesystem::path temporary = file;
#ifdef _WIN32
  temporary += ".new";
#else
  temporary += ".new" + std::to_string(::getpid());  // two senders of one log never share it
#endif
  const std::string text = std::string(kHead) + "\n" + std::to_string(mark.end) + " " +
                           std::to_string(mark.length) + " " + std::to_string(mark.records) + " " +
                           (mark.lineSha256.empty() ? "-" : mark.lineSha256) + "\n";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      error = "cannot write " + temporary.string() + ": " + std::generic_category().message(errno);
      return false;
    }
  }
#ifndef _WIN32
  // On the disk before the rename, or a power loss could leave an empty mark behind.
  if (const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#endif
  std::error_code ec;
  std::filesystem::rename(temporary, file, ec);
  if (ec) {
    error = "cannot replace " + file.string() + ": " + ec.message();
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace plcburn
