#pragma once
// Burns run from a terminal: messages on stdout as "CAPTION: text", progress on stderr (a live
// bar on a terminal, plain lines otherwise), reconnect prompts answered with Enter or --yes.
// Several burns at once (one per port) share one board: one progress line per port, and a
// reconnect prompt asked once for all ports that need it.

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/burn_state.h"
#include "core/operator.h"

namespace plcburn {

class ConsoleBoard {
 public:
  ConsoleBoard(bool answerYes, std::FILE* out = stdout, std::FILE* progressOut = stderr);
  ~ConsoleBoard();

  // Registers a burn before Start; the label names it in front of its lines when there are several.
  std::size_t Add(std::string label, BurnState& state);
  // Starts counting seconds and reporting progress; Finish stops both.
  void Start();
  void Finish();

  void StopTimer(std::size_t burn);
  void PrintMessage(std::size_t burn, std::string_view caption, std::string_view text);
  // Shows the prompt once all running burns have reached it, and waits for Enter once.
  void Prompt(std::size_t burn, std::string_view caption, std::string_view text);
  void BurnEnded(std::size_t burn);

 private:
  struct Entry {
    std::string label;
    BurnState* state = nullptr;
    bool timerRunning = true;
    bool ended = false;
    bool atPrompt = false;
    bool finalShown = false;
    std::string lastLine;
  };
  void Report();
  std::string ProgressLine(const Entry& e) const;
  std::string Prefix(const Entry& e) const;
  bool EveryRunningBurnAtPrompt() const;
  void AskAndRelease(std::unique_lock<std::mutex>& lock);

  const bool answerYes_;
  std::FILE* out_;
  std::FILE* progressOut_;
  const bool live_;
  std::vector<Entry> entries_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;
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

  bool EndedInError() const { return lastIcon_ == MessageIcon::Error; }
  const std::string& LastMessage() const { return lastMessage_; }

 private:
  ConsoleBoard& board_;
  const std::size_t burn_;
  const std::string reconnectPrompt_;
  MessageIcon lastIcon_ = MessageIcon::Information;
  std::string lastMessage_;
};

}  // namespace plcburn
