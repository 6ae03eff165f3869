#pragma once
// Time that passes only when told to: links on it cost no real time when they time out.

#include <cstdint>

namespace plcburn {

class VirtualClock {
 public:
  std::uint64_t NowMs() const { return nowMs_; }
  void Advance(std::uint64_t ms) { nowMs_ += ms; }

 private:
  std::uint64_t nowMs_ = 0;
};

}  // namespace plcburn
