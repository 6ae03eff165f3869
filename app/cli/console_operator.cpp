#include "app/cli/console_operator.h"

#include <algorithm>
#include <chrono>

#include "app/cli/plain_progress.h"
#include "app/cli/terminal.h"
#include "core/message_help.h"

namespace plcburn {

ConsoleBoard::ConsoleBoard(bool answerYes, std::FILE* out, std::FILE* progressOut)
    : answerYes_(answerYes), out_(out), progressOut_(progressOut), live_(IsTerminal(progressOut)) {}

ConsoleBoard::~ConsoleBoard() {
  Finish();
}

std::size_t ConsoleBoard::Add(std::string label, BurnState& state, std::function<void()> stop,
                              std::function<void()> refresh) {
  Entry entry;
  entry.label = std::move(label);
  entry.state = &state;
  entry.stop = std::move(stop);
  entry.refresh = std::move(refresh);
  entries_.push_back(std::move(entry));
  return entries_.size() - 1;
}

void ConsoleBoard::Start() {
  reporter_ = std::thread([this] { Report(); });
}

void ConsoleBoard::Finish() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  wake_.notify_all();
  if (reporter_.joinable()) reporter_.join();
}

std::string ConsoleBoard::Prefix(const Entry& e) const {
  return entries_.size() > 1 ? e.label + ": " : std::string();
}

std::string ConsoleBoard::ProgressLine(const Entry& e) const {
  const BurnState& s = *e.state;
  return Prefix(e) + ProgressFigures(s.flashStatus.load(), s.progress.load(), s.errCounter.load(),
                                     s.totalErrCounter.load(), s.elapsedTime.load());
}

// Shows the progress of every burn five times a second.
void ConsoleBoard::Report() {
  std::unique_lock lock(mutex_);
  while (!finished_) {
    wake_.wait_for(lock, std::chrono::milliseconds(200));
    for (Entry& e : entries_)
      if (e.refresh && !e.finalShown) e.refresh();
    if (events_ != nullptr) {
      for (Entry& e : entries_)
        if (!e.finalShown) ReportEvent(e);
      continue;
    }
    if (live_ && linesDrawn_ > 1) std::fprintf(progressOut_, "\x1b[%dA", linesDrawn_ - 1);
    if (live_) std::fprintf(progressOut_, "\r");
    int drawn = 0;
    for (Entry& e : entries_) {
      // After its final message a burn only resets its panel values: nothing more to show.
      if (e.finalShown) continue;
      const std::string line = ProgressLine(e);
      if (live_) {
        const int percent = std::clamp(e.state->progress.load(), 0, 100);
        const int filled = percent * 30 / 100;
        std::fprintf(progressOut_, "%s[%s%s] %s\x1b[K", drawn > 0 ? "\n" : "",
                     std::string(filled, '#').c_str(), std::string(30 - filled, '.').c_str(),
                     line.c_str());
        ++drawn;
      } else if (PlainProgressChanged(line, e.lastLine)) {
        std::fprintf(progressOut_, "%s\n", line.c_str());
      }
      e.lastLine = line;
    }
    linesDrawn_ = drawn;
    std::fflush(progressOut_);
  }
  if (live_ && linesDrawn_ > 0) std::fprintf(progressOut_, "\n");
}

// A progress event when the phase, percent or counters changed, at most four a second.
void ConsoleBoard::ReportEvent(Entry& e) {
  const BurnState& s = *e.state;
  const std::string now =
      std::to_string(s.flashStatus.load()) + " " + std::to_string(s.progress.load()) + " " +
      std::to_string(s.errCounter.load()) + " " + std::to_string(s.totalErrCounter.load());
  const auto at = std::chrono::steady_clock::now();
  if (now == e.lastLine || at - e.lastEvent < std::chrono::milliseconds(250)) return;
  events_->Progress(e.label, s);
  e.lastLine = now;
  e.lastEvent = at;
}

void ConsoleBoard::PrintMessage(std::size_t burn, std::string_view caption, std::string_view text) {
  std::lock_guard lock(mutex_);
  if (events_ != nullptr) {
    entries_[burn].finalShown = true;
    events_->Message(entries_[burn].label, caption, text);
    return;
  }
  // A message is one line on stdout; a reason under it (permissions, a busy port) goes to stderr.
  const std::string_view first = text.substr(0, text.find('\n'));
  if (live_ && linesDrawn_ > 0) {
    std::fprintf(progressOut_, "\n");
    linesDrawn_ = 0;
  }
  entries_[burn].finalShown = true;  // errors and success both end a burn
  const std::string prefix = Prefix(entries_[burn]);
  std::fprintf(out_, "%s%.*s: %.*s\n", prefix.c_str(), static_cast<int>(caption.size()),
               caption.data(), static_cast<int>(first.size()), first.data());
  std::fflush(out_);
  if (first.size() < text.size())
    std::fprintf(progressOut_, "%s%.*s\n", prefix.c_str(),
                 static_cast<int>(text.size() - first.size() - 1), text.data() + first.size() + 1);
  // What to do about an error, in one line from the troubleshooting guide's table.
  if (const std::string_view hint = HintFor(text); !hint.empty())
    std::fprintf(progressOut_, "%s%.*s\n", prefix.c_str(), static_cast<int>(hint.size()),
                 hint.data());
}

bool ConsoleBoard::EveryRunningBurnAtPrompt() const {
  return std::all_of(entries_.begin(), entries_.end(),
                     [](const Entry& e) { return e.ended || e.atPrompt; });
}

void ConsoleBoard::Prompt(std::size_t burn, std::string_view caption, std::string_view text) {
  std::unique_lock lock(mutex_);
  if (stopped_) return;
  entries_[burn].atPrompt = true;
  promptCaption_ = caption;
  promptText_ = text;
  const int generation = promptGeneration_;
  if (EveryRunningBurnAtPrompt()) AskAndRelease(lock);
  wake_.wait(lock, [&] { return promptGeneration_ != generation || stopped_; });
  entries_[burn].atPrompt = false;
}

void ConsoleBoard::BurnEnded(std::size_t burn) {
  std::unique_lock lock(mutex_);
  entries_[burn].ended = true;
  // The burn that ends may be the one the others were waiting for.
  const bool someoneWaits =
      std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.atPrompt; });
  if (someoneWaits && EveryRunningBurnAtPrompt()) AskAndRelease(lock);
}

// Asks once for every burn waiting at the prompt, then lets them all go on.
void ConsoleBoard::AskAndRelease(std::unique_lock<std::mutex>& lock) {
  std::string ports;
  for (const Entry& e : entries_) {
    if (e.atPrompt && events_ != nullptr) events_->Prompt(e.label, promptCaption_, promptText_);
    if (e.atPrompt && entries_.size() > 1) ports += (ports.empty() ? "" : ", ") + e.label;
  }
  if (live_ && linesDrawn_ > 0) {
    std::fprintf(progressOut_, "\n");
    linesDrawn_ = 0;
  }
  if (events_ == nullptr) {
    std::fprintf(out_, "%s%s%s: %s\n", ports.c_str(), ports.empty() ? "" : ": ",
                 promptCaption_.c_str(), promptText_.c_str());
    std::fflush(out_);
  }
  if (!answerYes_) {
    lock.unlock();
    // Nobody left to confirm (Ctrl+D, a closed pipe) is no confirmation: the PLC was never
    // power-cycled or re-plugged, so the burns stop.
    if (enterKey_.Wait() == EnterKey::Answer::EndOfInput) Stop(0);
    lock.lock();
  }
  for (Entry& e : entries_) e.atPrompt = false;
  ++promptGeneration_;
  wake_.notify_all();
}

void ConsoleBoard::Stop(int signal) {
  std::vector<std::function<void()>> stops;
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    stopSignal_ = signal;
    for (const Entry& e : entries_)
      if (e.stop) stops.push_back(e.stop);
  }
  wake_.notify_all();
  enterKey_.Cancel();
  for (const auto& stop : stops) stop();
}

bool ConsoleBoard::Stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

int ConsoleBoard::StopSignal() const {
  std::lock_guard lock(mutex_);
  return stopSignal_;
}

void ConsoleOperator::ShowMessage(std::string_view caption, std::string_view text,
                                  MessageIcon icon) {
  lastIcon_ = icon;
  finalShown_ = true;
  lastMessage_ = std::string(text.substr(0, text.find('\n')));
  board_.PrintMessage(burn_, caption, text);
}

// Nobody confirmed when the board was stopped meanwhile (Ctrl+C, end of input).
bool ConsoleOperator::Prompt(const ReconnectPrompt& prompt) {
  board_.Prompt(burn_, prompt.caption, prompt.text);
  return !board_.Stopped();
}

}  // namespace plcburn
