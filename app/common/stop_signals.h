#pragma once
// Turns the requests to stop a running plcburn-cli into one call on a thread of its own, so that
// the burns end through their normal end path (one message, the port given back) instead of
// dying with the process: SIGINT, SIGTERM and SIGHUP, or on Windows Ctrl+C, Ctrl+Break,
// closing the console and the event named by PLCBURN_STOP_EVENT (set by the Windows service that
// runs the station), which stands for SIGTERM.

#include <functional>
#include <string>
#include <thread>

namespace plcburn {

class StopSignals {
 public:
  // Must be made before any other thread starts: the signals are blocked for every thread and
  // taken by the watcher alone. `onStop` gets the signal's number, once per signal.
  explicit StopSignals(std::function<void(int signal)> onStop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Why the signals cannot be watched (no descriptors left, say), or empty when they are. A
  // program that cannot be stopped cleanly must not start a burn.
  const std::string& Error() const { return error_; }

 private:
  std::string error_;
  std::function<void(int)> onStop_;
  int signalFd_ = -1;
  int quitFd_ = -1;
  void* stopEvent_ = nullptr;  // Windows: the service's stop, and the watcher's own end
  void* quitEvent_ = nullptr;
  std::thread watcher_;
};

// A reader that went away (plcburn-cli ... | head) must not end a burn: writes to it fail and
// the burn goes on.
void IgnoreBrokenPipes();

}  // namespace plcburn
