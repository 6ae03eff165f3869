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
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/enter_key.h"
#include "app/cli/json_events.h"
#include "core/burn_state.h"
#include "core/operator.h"

namespace plcburn {

class ConsoleBoard {
 public:
  ConsoleBoard(bool answerYes, std::FILE* out = stdout, std::FILE* progressOut = stderr);
  ~ConsoleBoard();

  // Registers a burn before Start; the label names it in front of its lines when there are several.
  // `stop`, if given, is called when the board stops; `refresh`, if given, before each look at
  // the burn's state (it brings the elapsed seconds up to date).
  std::size_t Add(std::string label, BurnState& state, std::function<void()> stop = {},
                  std::function<void()> refresh = {});
  // Before Start: messages, prompts and progress become events; nothing else is printed.
  void SendEventsTo(JsonEvents& events) { events_ = &events; }
  // Starts reporting progress; Finish stops it.
  void Start();
  void Finish();

  void PrintMessage(std::size_t burn, std::string_view caption, std::string_view text);
  // Shows the prompt once all running burns have reached it, and waits for Enter once.
  void Prompt(std::size_t burn, std::string_view caption, std::string_view text);
  void BurnEnded(std::size_t burn);

  // Stops every burn (safe from any thread, once is enough): their prompts return at once and
  // each burn is told to stop. `signal` is the signal that asked, 0 for none.
  void Stop(int signal);
  bool Stopped() const;
  // The signal that stopped the board, or 0.
  int StopSignal() const;

 private:
  struct Entry {
    std::string label;
    BurnState* state = nullptr;
    std::function<void()> stop;
    std::function<void()> refresh;
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
  ConsoleOperator(ConsoleBoard& board, std::size_t burn) : board_(board), burn_(burn) {}
  // For a burn whose row on the board is added after the operator is made (the row shows the
  // burn's state, which lives with the burn, which needs its operator first).
  explicit ConsoleOperator(ConsoleBoard& board) : board_(board) {}
  void ShowsRow(std::size_t burn) { burn_ = burn; }

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override;
  bool Prompt(const ReconnectPrompt& prompt) override;
  void SetStartEnabled(bool) override {}

  // True also when the burn showed no final message at all: only a success counts as one.
  bool EndedInError() const { return !finalShown_ || lastIcon_ == MessageIcon::Error; }
  const std::string& LastMessage() const { return lastMessage_; }

 private:
  ConsoleBoard& board_;
  std::size_t burn_ = 0;
  MessageIcon lastIcon_ = MessageIcon::Error;
  bool finalShown_ = false;
  std::string lastMessage_;
};

}  // namespace plcburn
