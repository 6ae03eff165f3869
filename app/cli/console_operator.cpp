#include "app/cli/console_operator.h"

#include <unistd.h>

#include <chrono>
#include <iostream>

namespace plcburn {

namespace {

const char* PhaseWord(std::int32_t status) {
  switch (status) {
    case IDLE: return "Idle";
    case ERASE: return "Erasing";
    case PROGRAM: return "Programming";
    default: return "";
  }
}

}  // namespace

ConsoleOperator::ConsoleOperator(BurnState& state, std::string reconnectPrompt, bool answerYes,
                                 std::FILE* out, std::FILE* progressOut)
    : state_(state),
      reconnectPrompt_(std::move(reconnectPrompt)),
      answerYes_(answerYes),
      out_(out),
      progressOut_(progressOut),
      live_(isatty(fileno(progressOut)) != 0) {}

ConsoleOperator::~ConsoleOperator() { Finish(); }

void ConsoleOperator::Start() {
  {
    std::lock_guard lock(mutex_);
    timerRunning_ = true;
    finished_ = false;
  }
  reporter_ = std::thread([this] { Report(); });
}

void ConsoleOperator::Finish() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  wake_.notify_all();
  if (reporter_.joinable()) reporter_.join();
}

void ConsoleOperator::StopTimer() {
  std::lock_guard lock(mutex_);
  timerRunning_ = false;
}

void ConsoleOperator::WaitMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string ConsoleOperator::ProgressLine() const {
  char line[128];
  std::snprintf(line, sizeof line, "%-11s %3d%%  errors %d/%d  %ds",
                PhaseWord(state_.flashStatus.load()), state_.progress.load(),
                state_.errCounter.load(), state_.totalErrCounter.load(),
                state_.elapsedTime.load());
  return line;
}

// Counts the seconds while the timer runs and shows progress: a bar redrawn in place on a
// terminal, a line per change otherwise.
void ConsoleOperator::Report() {
  using Clock = std::chrono::steady_clock;
  auto nextSecond = Clock::now() + std::chrono::seconds(1);
  std::unique_lock lock(mutex_);
  while (!finished_) {
    wake_.wait_for(lock, std::chrono::milliseconds(200));
    if (timerRunning_ && Clock::now() >= nextSecond) {
      state_.elapsedTime.fetch_add(1);
      nextSecond += std::chrono::seconds(1);
    }
    const std::string line = ProgressLine();
    if (live_) {
      const int percent = state_.progress.load();
      const int filled = percent * 30 / 100;
      std::fprintf(progressOut_, "\r[%s%s] %s", std::string(filled, '#').c_str(),
                   std::string(30 - filled, '.').c_str(), line.c_str());
      std::fflush(progressOut_);
    } else if (line.substr(0, 17) != lastLine_.substr(0, 17)) {
      std::fprintf(progressOut_, "%s\n", line.c_str());
    }
    lastLine_ = line;
  }
  if (live_) std::fprintf(progressOut_, "\n");
}

void ConsoleOperator::ShowMessage(std::string_view caption, std::string_view text,
                                  MessageIcon icon) {
  lastIcon_ = icon;
  // A message is one line on stdout; a hint under it (permissions, a busy port) goes to stderr.
  const std::string_view first = text.substr(0, text.find('\n'));
  {
    std::lock_guard lock(mutex_);
    if (live_) std::fprintf(progressOut_, "\n");
    std::fprintf(out_, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(first.size()), first.data());
    std::fflush(out_);
    if (first.size() < text.size())
      std::fprintf(progressOut_, "%.*s\n", static_cast<int>(text.size() - first.size() - 1),
                   text.data() + first.size() + 1);
  }
  if (text == reconnectPrompt_ && !answerYes_) {
    std::string ignored;
    std::getline(std::cin, ignored);
  }
}

}  // namespace plcburn
