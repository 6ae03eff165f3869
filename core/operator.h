#pragma once
// What a burn needs from the front end that runs it: message boxes, the reconnect prompt, the
// start control, the elapsed-seconds timer and a pause.

#include <chrono>
#include <cstdint>
#include <string_view>
#include <thread>

namespace plcburn {

enum class MessageIcon { Error, Information };

// What the operator must do before a closed link can be opened again.
enum class ReconnectKind { Replug, PowerCycle };

// The prompt between the application's erase and the boot loader: which model, what to do, the
// text to show and the pause the burn makes once it is done.
struct ReconnectPrompt {
  std::string_view model;
  ReconnectKind kind = ReconnectKind::Replug;
  std::string_view caption;
  std::string_view text;
  std::uint32_t pauseMs = 0;
};

class Operator {
 public:
  virtual ~Operator() = default;
  // Blocks until the operator has dismissed the message.
  virtual void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) = 0;
  // Blocks until the operator has re-plugged or power-cycled the PLC; false when it was not done
  // (the burn then ends as if the PLC had not come back). Shown as a message by default.
  virtual bool Prompt(const ReconnectPrompt& prompt) {
    ShowMessage(prompt.caption, prompt.text, MessageIcon::Information);
    return true;
  }
  virtual void SetStartEnabled(bool enabled) = 0;
  // Stops the elapsed-seconds count. The burn runner keeps the count, so a front end has nothing
  // to do here.
  virtual void StopTimer() {}
  virtual void WaitMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

}  // namespace plcburn
