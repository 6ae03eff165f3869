#pragma once
// Standard output and standard error for a program whose threads must never wait for a reader:
// what they write is queued, up to a bound, and written by a thread of its own. What does not fit
// while a reader stalls is dropped, counted, and said once the reader takes output again. A live
// area (a terminal's lines that are redrawn) stays below what is written, its latest frame only.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plcburn {

class OutputQueue {
 public:
  enum class Stream { Out, Err };

  explicit OutputQueue(std::size_t maxBytes = std::size_t{1} << 20, std::FILE* out = stdout,
                       std::FILE* err = stderr);
  // Close with a second's grace.
  ~OutputQueue();
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  // Never blocks. `text` holds whole lines.
  void Post(Stream stream, std::string text);
  // The live area's lines on standard error; replaces the frame before it.
  void SetLive(std::vector<std::string> lines);
  // Lines dropped so far.
  std::size_t Dropped() const;
  // Waits at most `limit` for what is queued to be written, then lets the writer go: a reader
  // that never comes back cannot hold the program's end.
  void Close(std::chrono::milliseconds limit);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace plcburn
