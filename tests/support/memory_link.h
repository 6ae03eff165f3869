#pragma once
// An in-memory link for protocol tests: scripted replies, recorded writes, injected short
// writes, and time-outs that advance a virtual clock instead of sleeping.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/link.h"
#include "sim/virtual_clock.h"

namespace plcburn::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
inline std::string ToText(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

class MemoryLink : public Link {
 public:
  explicit MemoryLink(VirtualClock* clock = nullptr) : clock_(clock ? clock : &ownClock_) {}

  // Each complete write is answered by the next queued reply (an empty one is silence).
  void QueueReply(const Bytes& reply) { replies_.push_back(reply); }
  void QueueReply(const std::string& reply) { QueueReply(ToBytes(reply)); }
  void QueueReplies(const std::string& reply, int times) {
    for (int i = 0; i < times; ++i) QueueReply(reply);
  }
  // Bytes waiting before anything is written.
  void Preload(const std::string& bytes) {
    incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
  }
  // The next writes move at most these counts.
  void LimitNextWrite(std::size_t count) { writeLimits_.push_back(count); }
  // Replaces the queued replies with a responder of the test's own.
  std::function<Bytes(const Bytes& written)> responder;

  std::size_t Write(const std::uint8_t* data, std::size_t n) override {
    std::size_t moved = n;
    if (!writeLimits_.empty()) {
      moved = std::min(n, writeLimits_.front());
      writeLimits_.pop_front();
    }
    writes.emplace_back(data, data + moved);
    if (moved < n) {
      clock_->Advance(timeouts.WriteTotalTimeoutConstant);
      return moved;
    }
    Bytes reply;
    if (responder) {
      reply = responder(writes.back());
    } else if (!replies_.empty()) {
      reply = replies_.front();
      replies_.pop_front();
    }
    incoming_.insert(incoming_.end(), reply.begin(), reply.end());
    return moved;
  }

  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    ++readCount;
    const std::size_t got = std::min(n, incoming_.size());
    std::copy_n(incoming_.begin(), got, buf);
    incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(got));
    if (got < n) clock_->Advance(timeouts.ReadTotalTimeoutConstant);
    return got;
  }

  bool SetTimeouts(const CommTimeouts& t) override {
    timeouts = t;
    timeoutHistory.push_back(t.ReadTotalTimeoutConstant);
    return true;
  }
  bool ApplyLineProfile(const LineProfile& p) override {
    profiles.push_back(p);
    return true;
  }
  void Close() override { ++closeCount; }

  std::vector<std::string> WrittenTexts() const {
    std::vector<std::string> texts;
    for (const Bytes& w : writes) texts.push_back(ToText(w));
    return texts;
  }
  std::size_t Pending() const { return incoming_.size(); }
  const VirtualClock& Clock() const { return *clock_; }

  std::vector<Bytes> writes;
  std::vector<LineProfile> profiles;
  std::vector<std::uint32_t> timeoutHistory;
  CommTimeouts timeouts;
  int readCount = 0;
  int closeCount = 0;

 private:
  VirtualClock ownClock_;
  VirtualClock* clock_;
  std::deque<Bytes> replies_;
  std::deque<std::uint8_t> incoming_;
  std::deque<std::size_t> writeLimits_;
};

}  // namespace plcburn::testing
