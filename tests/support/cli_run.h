#pragma once
// plcburn-cli in a process of its own for tests: its arguments, standard input and terminal as
// the row needs them, its output collected as it comes, its end waited for with a bound.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace plcburn::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

template <typename Check>
bool WaitUntil(milliseconds limit, Check check) {
  const auto end = Clock::now() + limit;
  while (!check()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

// Where plcburn-cli's standard input comes from.
enum class Input { DevNull, ClosedPipe };

// plcburn-cli (PLCBURN_CLI) in a process of its own; its output is collected as it comes.
class CliRun {
 public:
  struct Setup {
    std::vector<std::string> args;
    Input input = Input::DevNull;
    std::string controllingTerminal = {};  // made the program's terminal in a session of its own
    bool readerGoesAway = false;           // stdout and stderr closed by the reader at once
  };

  explicit CliRun(const Setup& setup) {
    std::vector<std::string> argv{PLCBURN_CLI};
    argv.insert(argv.end(), setup.args.begin(), setup.args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe2");
    }
    const char* terminal =
        setup.controllingTerminal.empty() ? nullptr : setup.controllingTerminal.c_str();
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      if (terminal != nullptr) {
        ::setsid();
        const int tty = ::open(terminal, O_RDWR);  // the first terminal a session leader opens
        if (tty >= 0) ::close(tty);
      }
      const int null = ::open("/dev/null", O_RDONLY);
      ::dup2(setup.input == Input::DevNull ? null : in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      ::execv(cargv[0], cargv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(in[1]);  // a pipe at its end at once
    ::close(out[1]);
    ::close(err[1]);
    if (setup.readerGoesAway) {
      ::close(out[0]);
      ::close(err[0]);
      return;
    }
    readers_.emplace_back([this, fd = out[0]] { Collect(fd, out_); });
    readers_.emplace_back([this, fd = err[0]] { Collect(fd, err_); });
  }
  ~CliRun() {
    if (!exited_) {
      ::kill(pid_, SIGKILL);
      WaitExit(milliseconds(5000));
    }
    for (std::thread& r : readers_)
      if (r.joinable()) r.join();
  }

  // Once it has exited, its output is all collected.
  bool WaitExit(milliseconds limit) {
    const bool exited = WaitUntil(limit, [&] {
      int status = 0;
      if (exited_ || ::waitpid(pid_, &status, WNOHANG) != pid_) return exited_;
      exited_ = true;
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      return true;
    });
    if (exited) {
      for (std::thread& r : readers_)
        if (r.joinable()) r.join();
    }
    return exited;
  }
  // Exit status, or minus the signal that killed it.
  int ExitStatus() const { return exitStatus_; }
  void Signal(int signal) const { ::kill(pid_, signal); }

  std::string Out() {
    std::lock_guard lock(mutex_);
    return out_;
  }
  std::string Err() {
    std::lock_guard lock(mutex_);
    return err_;
  }
  bool WaitForOut(const std::string& text, milliseconds limit = milliseconds(20000)) {
    return WaitUntil(limit, [&] { return Out().find(text) != std::string::npos; });
  }
  bool WaitForErr(const std::string& text, milliseconds limit = milliseconds(20000)) {
    return WaitUntil(limit, [&] { return Err().find(text) != std::string::npos; });
  }
  pid_t Pid() const { return pid_; }

 private:
  void Collect(int fd, std::string& into) {
    char buf[1024];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      std::lock_guard lock(mutex_);
      into.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
  }

  pid_t pid_ = -1;
  bool exited_ = false;
  int exitStatus_ = -1;
  std::mutex mutex_;
  std::string out_, err_;
  std::vector<std::thread> readers_;
};

}  // namespace plcburn::test
