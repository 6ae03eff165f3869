#include "app/common/stop_signals.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include <csignal>
#include <mutex>
#else
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#endif

namespace plcburn {

#ifdef _WIN32

namespace {

std::mutex handlerMutex;
std::function<void(int)>* handlerTarget = nullptr;
HANDLE burnsEnded = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  {
    std::lock_guard lock(handlerMutex);
    if (handlerTarget != nullptr) (*handlerTarget)(event == CTRL_CLOSE_EVENT ? SIGTERM : SIGINT);
  }
  // Windows ends the process once this returns from a close: give the burns their end first.
  if (event == CTRL_CLOSE_EVENT && burnsEnded != nullptr) WaitForSingleObject(burnsEnded, 4000);
  return TRUE;
}

}  // namespace

StopSignals::StopSignals(std::function<void(int)> onStop) : onStop_(std::move(onStop)) {
  std::lock_guard lock(handlerMutex);
  handlerTarget = &onStop_;
  burnsEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (burnsEnded == nullptr || !SetConsoleCtrlHandler(OnConsoleEvent, TRUE))
    error_ = std::system_category().message(static_cast<int>(GetLastError()));
  wchar_t name[256] = {};
  const DWORD length = GetEnvironmentVariableW(L"PLCBURN_STOP_EVENT", name, 256);
  if (length == 0 || length >= 256) return;
  stopEvent_ = OpenEventW(SYNCHRONIZE, FALSE, name);
  quitEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stopEvent_ == nullptr || quitEvent_ == nullptr) {
    error_ = "cannot watch the service's stop: " +
             std::system_category().message(static_cast<int>(GetLastError()));
    return;
  }
  watcher_ = std::thread([this] {
    const HANDLE events[] = {stopEvent_, quitEvent_};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) onStop_(SIGTERM);
  });
}

StopSignals::~StopSignals() {
  if (watcher_.joinable()) {
    SetEvent(quitEvent_);
    watcher_.join();
  }
  for (void* event : {stopEvent_, quitEvent_})
    if (event != nullptr) CloseHandle(event);
  std::lock_guard lock(handlerMutex);
  handlerTarget = nullptr;
  if (burnsEnded != nullptr) SetEvent(burnsEnded);
}

void IgnoreBrokenPipes() {}

#else

namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

StopSignals::StopSignals(std::function<void(int)> onStop) : onStop_(std::move(onStop)) {
  // Blocked here, inherited by every thread started later: only the watcher takes them.
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
  if (signalFd_ >= 0) quitFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (signalFd_ < 0 || quitFd_ < 0) {
    const int err = errno;
    error_ = std::generic_category().message(err) + " (error " + std::to_string(err) + ")";
    return;
  }
  watcher_ = std::thread([this] {
    for (;;) {
      pollfd fds[2] = {{signalFd_, POLLIN, 0}, {quitFd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      signalfd_siginfo info{};
      if (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        onStop_(static_cast<int>(info.ssi_signo));
    }
  });
}

StopSignals::~StopSignals() {
  if (watcher_.joinable()) {
    const std::uint64_t one = 1;
    (void)!::write(quitFd_, &one, sizeof one);
    watcher_.join();
  }
  if (signalFd_ >= 0) ::close(signalFd_);
  if (quitFd_ >= 0) ::close(quitFd_);
  // The signals stay blocked: one that comes now, after the burns, has nothing left to stop,
  // and must not turn a finished run into a killed one.
}

void IgnoreBrokenPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

#endif

}  // namespace plcburn
