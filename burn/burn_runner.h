#pragma once
// Runs one burn at a time on a worker thread of its own, for every front end: it counts the
// elapsed seconds while the burn's timer runs, lets any thread stop the burn (its links are
// interrupted, its pauses and prompts cut short), and tells when the burn has ended and how.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "burn/burn_control.h"
#include "burn/start_burn.h"

namespace plcburn {

class BurnRunner {
 public:
  // `ui` shows the burn's messages and prompts; the runner keeps the timer and the pauses.
  // `second` is how long a second of the runner's lasts, for the elapsed-seconds count and the
  // burn's pauses alike (shorter in tests).
  BurnRunner(BurnState& state, Operator& ui,
             std::chrono::milliseconds second = std::chrono::seconds(1));
  // Stops a running burn and waits for its end: the worker must not outlive what it writes.
  ~BurnRunner();
  BurnRunner(const BurnRunner&) = delete;
  BurnRunner& operator=(const BurnRunner&) = delete;

  // What one burn works with; the caller keeps it alive until the burn has ended.
  struct Job {
    Selection& selection;
    LinkOpener& opener;
    ImageSource& image;
    BurnRecording* recording = nullptr;
  };
  using Ended = std::function<void(const BurnOutcome&)>;

  // Starts a burn; false while one runs. `ended` is called on the worker as the burn ends.
  bool Start(Job job, Ended ended = {});
  // Stops the running burn, if any: it ends through its normal end, as stopped.
  void Stop();
  bool Running() const;
  // Blocks until the burn started last has ended (at once when none runs); its outcome.
  std::optional<BurnOutcome> Wait();

 private:
  class TimedOperator;
  void Tick();
  void StopTimer();
  void Pause(std::uint32_t ms);
  bool CutShort() const;

  BurnState& state_;
  Operator& ui_;
  const std::chrono::milliseconds second_;
  std::unique_ptr<TimedOperator> timed_;
  BurnControl control_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;
  bool timerRunning_ = false;
  bool stopRequested_ = false;
  std::optional<BurnOutcome> outcome_;
  std::thread clock_;
  std::thread worker_;
};

}  // namespace plcburn
