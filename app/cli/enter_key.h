#pragma once
// Waits for the operator to press Enter on standard input; another thread can call the wait off.

namespace plcburn {

class EnterKey {
 public:
  enum class Answer { Enter, EndOfInput, Cancelled };

  EnterKey();
  ~EnterKey();
  EnterKey(const EnterKey&) = delete;
  EnterKey& operator=(const EnterKey&) = delete;

  Answer Wait();
  // Ends the wait in progress, and every later one, with Cancelled.
  void Cancel();

 private:
  int cancelFd_ = -1;
};

}  // namespace plcburn
