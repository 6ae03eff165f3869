#include "app/cli/enter_key.h"

#ifdef _WIN32
#include <iostream>
#include <string>
#else
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#endif

namespace plcburn {

#ifdef _WIN32

// A console read ends by itself on Ctrl+C, the only way to stop a run there.
EnterKey::EnterKey() = default;
EnterKey::~EnterKey() = default;

EnterKey::Answer EnterKey::Wait() {
  std::string line;
  return std::getline(std::cin, line) ? Answer::Enter : Answer::EndOfInput;
}

void EnterKey::Cancel() {}

#else

EnterKey::EnterKey() : cancelFd_(::eventfd(0, EFD_CLOEXEC)) {}

EnterKey::~EnterKey() {
  ::close(cancelFd_);
}

// Byte by byte from the descriptor: no buffer of standard input holds what comes after the line.
EnterKey::Answer EnterKey::Wait() {
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {cancelFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Answer::EndOfInput;
    }
    if (fds[1].revents != 0) return Answer::Cancelled;
    char c = 0;
    const ssize_t r = ::read(STDIN_FILENO, &c, 1);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (r <= 0) return Answer::EndOfInput;
    if (c == '\n') return Answer::Enter;
  }
}

void EnterKey::Cancel() {
  const std::uint64_t one = 1;
  (void)!::write(cancelFd_, &one, sizeof one);
}

#endif

}  // namespace plcburn
