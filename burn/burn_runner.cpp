#include "burn/burn_runner.h"

#include <chrono>

namespace plcburn {

// Passes the burn's calls on to the front end's operator, except the timer and the pauses, which
// the runner keeps so that a stop cuts them short.
class BurnRunner::TimedOperator : public Operator {
 public:
  explicit TimedOperator(BurnRunner& runner) : r_(runner) {}

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override {
    r_.ui_.ShowMessage(caption, text, icon);
  }
  bool Prompt(const ReconnectPrompt& prompt) override {
    return !r_.CutShort() && r_.ui_.Prompt(prompt) && !r_.CutShort();
  }
  void SetStartEnabled(bool enabled) override { r_.ui_.SetStartEnabled(enabled); }
  void StopTimer() override {
    r_.StopTimer();
    r_.ui_.StopTimer();
  }
  void WaitMs(std::uint32_t ms) override { r_.Pause(ms); }

 private:
  BurnRunner& r_;
};

BurnRunner::BurnRunner(BurnState& state, Operator& ui, std::chrono::milliseconds second)
    : state_(state), ui_(ui), second_(second), timed_(std::make_unique<TimedOperator>(*this)) {}

BurnRunner::~BurnRunner() {
  Stop();
  if (worker_.joinable()) worker_.join();
}

bool BurnRunner::Start(Job job, Ended ended) {
  std::unique_lock lock(mutex_);
  if (running_) return false;
  lock.unlock();
  if (worker_.joinable()) worker_.join();  // the last burn has ended: only its exit is left
  lock.lock();
  running_ = true;
  timerRunning_ = true;
  startedAt_ = std::chrono::steady_clock::now();
  elapsedAtStop_ = 0;
  stopRequested_ = stopBeforeStart_;
  stopBeforeStart_ = false;
  outcome_.reset();
  control_.Reset();
  if (stopRequested_) control_.Cancel();
  worker_ = std::thread([this, job, ended = std::move(ended)] {
    BurnSession session{state_,    job.selection, *timed_,      job.opener,
                        job.image, &control_,     job.recording};
    BurnOutcome outcome = StartBurn(session);
    StopTimer();
    if (ended) ended(outcome);
    {
      std::lock_guard guard(mutex_);
      outcome_ = std::move(outcome);
      running_ = false;
    }
    changed_.notify_all();
  });
  return true;
}

void BurnRunner::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!running_) {
      stopBeforeStart_ = true;
      return;
    }
    stopRequested_ = true;
  }
  changed_.notify_all();
  control_.Cancel();  // every step of the burn now fails at once
}

bool BurnRunner::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

std::optional<BurnOutcome> BurnRunner::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !running_; });
  return outcome_;
}

std::int32_t BurnRunner::ElapsedLocked() const {
  if (!timerRunning_) return elapsedAtStop_;
  return static_cast<std::int32_t>((std::chrono::steady_clock::now() - startedAt_) / second_);
}

std::int32_t BurnRunner::ElapsedSeconds() const {
  std::lock_guard lock(mutex_);
  return ElapsedLocked();
}

void BurnRunner::ShowElapsed() {
  std::lock_guard lock(mutex_);
  if (timerRunning_) state_.elapsedTime.store(ElapsedLocked());
}

// The count stops where the burn's timer stops: its final message shows the seconds it took.
void BurnRunner::StopTimer() {
  std::lock_guard lock(mutex_);
  if (!timerRunning_) return;
  elapsedAtStop_ = ElapsedLocked();
  state_.elapsedTime.store(elapsedAtStop_);
  timerRunning_ = false;
}

void BurnRunner::Pause(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  const auto scaled = std::chrono::duration_cast<std::chrono::microseconds>(second_) * ms / 1000;
  changed_.wait_for(lock, scaled, [this] { return stopRequested_; });
}

bool BurnRunner::CutShort() const {
  std::lock_guard lock(mutex_);
  return stopRequested_;
}

}  // namespace plcburn
