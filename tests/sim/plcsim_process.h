#pragma once
// A plcsim program run by a test, with its standard output, on a real pseudo-terminal.

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

extern char** environ;

namespace plcburn {

// A running plcsim with its stdout; stopped if the test ends before it does.
class Plcsim {
 public:
  explicit Plcsim(std::vector<std::string> args) {
    args.insert(args.begin(), PLCSIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (posix_spawn(&pid, PLCSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out = fds[0];
  }
  // A SIGTERM that the sanitizers' runtime lets slip is followed by SIGKILL: a test never hangs.
  ~Plcsim() {
    if (pid > 0 && kill(pid, SIGTERM) == 0 && WaitExit() == -1 && pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(out);
  }
  // The exit status, or -1 when it does not exit within 3 s.
  int WaitExit() {
    for (int i = 0; i < 300; ++i, usleep(10'000)) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    }
    return -1;
  }

  pid_t pid = -1;
  int out = -1;
};

// Up to n bytes from fd (fewer once `stopAt` came), waiting at most 3 s in all.
inline std::string ReadSome(int fd, std::size_t n, char stopAt = '\0') {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (got.size() < n && std::chrono::steady_clock::now() < deadline &&
         !(stopAt && !got.empty() && got.back() == stopAt)) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1) break;
    got += c;
  }
  return got;
}

// The terminal's path, which plcsim prints first; empty when it printed none within 3 s.
inline std::string TerminalOf(Plcsim& sim) {
  std::string path = ReadSome(sim.out, 256, '\n');
  if (path.empty() || path.back() != '\n') return {};
  path.pop_back();
  return path;
}

}  // namespace plcburn
