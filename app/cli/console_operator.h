#pragma once
// Burns run from a terminal: messages on stdout as "CAPTION: text", an error's hint under it and
// progress on stderr (a live bar on a terminal, plain lines otherwise), reconnect prompts
// answered with Enter or --yes.
// Several burns at once (one per port) share one board: one progress line per port, and a
// reconnect prompt asked once for all ports that need it. Stopping the board stops every burn:
// each ends through its normal end path with the one message that it was stopped. With --json
// the board sends its messages, prompts and progress to the event stream instead.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/enter_key.h"
#include "app/cli/json_events.h"
#include "burn/burn_control.h"
#include "core/burn_state.h"
#include "core/operator.h"

namespace plcburn {

class ConsoleBoard {
 public:
  ConsoleBoard(bool answerYes, std::FILE* out = stdout, std::FILE* progressOut = stderr);
  ~ConsoleBoard();

  // Registers a burn before Start; the label names it in front of its lines when there are several.
  // `control`, if given, is cancelled when the board stops.
  std::size_t Add(std::string label, BurnState& state, BurnControl* control = nullptr);
  // Before Start: messages, prompts and progress become events; nothing else is printed.
  void SendEventsTo(JsonEvents& events) { events_ = &events; }
  // Starts counting seconds and reporting progress; Finish stops both.
  void Start();
  void Finish();

  void StopTimer(std::size_t burn);
  void PrintMessage(std::size_t burn, std::string_view caption, std::string_view text);
  // Shows the prompt once all running burns have reached it, and waits for Enter once.
  void Prompt(std::size_t burn, std::string_view caption, std::string_view text);
  void BurnEnded(std::size_t burn);
  // A pause of the burn that Stop cuts short.
  void Pause(std::uint32_t ms);

  // Stops every burn (safe from any thread, once is enough): their prompts and pauses return at
  // once and their links are interrupted. `signal` is the signal that asked, 0 for none.
  void Stop(int signal);
  bool Stopped() const;
  // The signal that stopped the board, or 0.
  int StopSignal() const;

 private:
  struct Entry {
    std::string label;
    BurnState* state = nullptr;
    BurnControl* control = nullptr;
    bool timerRunning = true;
    bool ended = false;
    bool atPrompt = false;
    bool finalShown = false;
    std::string lastLine;
    std::chrono::steady_clock::time_point lastEvent;
  };
  void Report();
  void ReportEvent(Entry& e);
  std::string ProgressLine(const Entry& e) const;
  std::string Prefix(const Entry& e) const;
  bool EveryRunningBurnAtPrompt() const;
  void AskAndRelease(std::unique_lock<std::mutex>& lock);

  const bool answerYes_;
  std::FILE* out_;
  std::FILE* progressOut_;
  const bool live_;
  JsonEvents* events_ = nullptr;
  std::vector<Entry> entries_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;
  bool stopped_ = false;
  int stopSignal_ = 0;
  EnterKey enterKey_;
  int promptGeneration_ = 0;
  std::string promptCaption_, promptText_;
  int linesDrawn_ = 0;
  std::thread reporter_;
};

class ConsoleOperator : public Operator {
 public:
  ConsoleOperator(ConsoleBoard& board, std::size_t burn, std::string reconnectPrompt)
      : board_(board), burn_(burn), reconnectPrompt_(std::move(reconnectPrompt)) {}

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override;
  void SetStartEnabled(bool) override {}
  void StopTimer() override { board_.StopTimer(burn_); }
  void WaitMs(std::uint32_t ms) override;

  // True also when the burn showed no final message at all: only a success counts as one.
  bool EndedInError() const { return !finalShown_ || lastIcon_ == MessageIcon::Error; }
  const std::string& LastMessage() const { return lastMessage_; }

 private:
  ConsoleBoard& board_;
  const std::size_t burn_;
  const std::string reconnectPrompt_;
  MessageIcon lastIcon_ = MessageIcon::Error;
  bool finalShown_ = false;
  std::string lastMessage_;
};

}  // namespace plcburn
