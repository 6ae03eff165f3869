#pragma once
// The burn's operator on a terminal: messages on stdout as "CAPTION: text", progress on stderr,
// reconnect prompts answered with Enter (or at once with --yes).

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "burn/burn_state.h"
#include "burn/operator.h"

namespace plcburn {

class ConsoleOperator : public Operator {
 public:
  ConsoleOperator(BurnState& state, std::string reconnectPrompt, bool answerYes,
                  std::FILE* out = stdout, std::FILE* progressOut = stderr);
  ~ConsoleOperator() override;

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override;
  void SetStartEnabled(bool) override {}
  void StopTimer() override;
  void WaitMs(std::uint32_t ms) override;

  // Starts counting seconds and reporting progress; Finish stops both.
  void Start();
  void Finish();
  bool EndedInError() const { return lastIcon_ == MessageIcon::Error; }

 private:
  void Report();
  std::string ProgressLine() const;

  BurnState& state_;
  const std::string reconnectPrompt_;
  const bool answerYes_;
  std::FILE* out_;
  std::FILE* progressOut_;
  const bool live_;
  MessageIcon lastIcon_ = MessageIcon::Information;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool timerRunning_ = false;
  bool finished_ = false;
  std::thread reporter_;
  std::string lastLine_;
};

}  // namespace plcburn
