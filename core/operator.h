#pragma once
// What a burn needs from the front end that runs it: message boxes, the start control, the
// elapsed-seconds timer and a pause.

#include <cstdint>
#include <string_view>

namespace plcburn {

enum class MessageIcon { Error, Information };

class Operator {
 public:
  virtual ~Operator() = default;
  // Blocks until the operator has dismissed the message.
  virtual void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) = 0;
  virtual void SetStartEnabled(bool enabled) = 0;
  // Stops the elapsed-seconds count.
  virtual void StopTimer() = 0;
  virtual void WaitMs(std::uint32_t ms) = 0;
};

}  // namespace plcburn
