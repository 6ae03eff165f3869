#pragma once
// Runs one burn at a time on a worker thread of its own, for every front end: it keeps the
// burn's start so the elapsed seconds can be shown while the burn's timer runs, lets any thread
// stop the burn (its links are interrupted, its pauses and prompts cut short; a stop that comes
// before the start ends that burn at once), and tells when the burn has ended and how.

#include <chrono>
#include <condition_variable>
#include <cstdint>
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
  // `second` is how long a second of the runner's lasts, for the elapsed seconds and the burn's
  // pauses alike (shorter in tests).
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
  // Stops the running burn: it ends through its normal end, as stopped. With none running, the
  // next one started ends so at once, opening nothing: a stop is never lost to a race with the
  // start.
  void Stop();
  // Whole seconds since the burn started, until its timer stopped.
  std::int32_t ElapsedSeconds() const;
  // Shows them in the burn state's elapsed seconds while the timer runs; the front end calls it
  // as it repaints, as the window's one-second timer counted them.
  void ShowElapsed();
  bool Running() const;
  // Blocks until the burn started last has ended (at once when none runs); its outcome.
  std::optional<BurnOutcome> Wait();

 private:
  class TimedOperator;
  std::int32_t ElapsedLocked() const;
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
  bool stopBeforeStart_ = false;
  std::chrono::steady_clock::time_point startedAt_;
  std::int32_t elapsedAtStop_ = 0;
  std::optional<BurnOutcome> outcome_;
  std::thread worker_;
};

}  // namespace plcburn
