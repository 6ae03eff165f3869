#include "app/cli/terminal_scans.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/cli/terminal.h"

namespace plcburn {

// Shared with the reading thread: on Windows a console read cannot be cut short, so the thread
// may outlive the object, and then calls no one.
struct TerminalScans::Reader {
  std::mutex mutex;
  OnLine onLine;
  std::atomic<bool> stop{false};
#ifndef _WIN32
  termios saved{};
  bool echoOff = false;
#endif

  void Line(const std::string& line) {
    std::lock_guard lock(mutex);
    if (onLine) onLine(line);
  }
};

TerminalScans::TerminalScans(OnLine onLine) {
  if (!IsTerminal(stdin)) return;
  reader_ = std::make_shared<Reader>();
  reader_->onLine = std::move(onLine);
#ifdef _WIN32
  std::thread([reader = reader_] {
    char buf[256];
    while (!reader->stop && std::fgets(buf, sizeof buf, stdin) != nullptr) {
      std::string line(buf);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      reader->Line(line);
    }
  }).detach();
#else
  termios quiet{};
  if (tcgetattr(STDIN_FILENO, &reader_->saved) == 0) {
    quiet = reader_->saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    reader_->echoOff = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  std::thread([reader = reader_] {
    std::string line;
    while (!reader->stop) {
      pollfd in{STDIN_FILENO, POLLIN, 0};
      if (poll(&in, 1, 200) <= 0) continue;
      char buf[256];
      const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // the terminal has gone
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') {
          if (line.size() < 256) line += buf[i];
          continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        reader->Line(line);
        line.clear();
      }
    }
  }).detach();
#endif
}

TerminalScans::~TerminalScans() {
  if (!reader_) return;
  reader_->stop = true;
  {
    std::lock_guard lock(reader_->mutex);
    reader_->onLine = nullptr;
  }
#ifndef _WIN32
  if (reader_->echoOff) tcsetattr(STDIN_FILENO, TCSANOW, &reader_->saved);
#endif
}

}  // namespace plcburn
