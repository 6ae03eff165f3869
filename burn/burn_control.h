#pragma once
// Lets another thread stop a running burn: the link in use is interrupted, and so is every link
// the burn opens afterwards, so each step fails at once and the burn runs to its end quickly.

#include <atomic>
#include <mutex>

#include "link/link.h"

namespace plcburn {

class BurnControl {
 public:
  void Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_.store(true);
    if (link_ != nullptr) link_->Interrupt();
  }
  bool Cancelled() const { return cancelled_.load(); }
  // Clears a cancellation left from an earlier burn.
  void Reset() { cancelled_.store(false); }

  void Attach(Link* link) {
    std::lock_guard lock(mutex_);
    link_ = link;
    if (link_ != nullptr && cancelled_.load()) link_->Interrupt();
  }
  void Detach() { Attach(nullptr); }

 private:
  std::mutex mutex_;
  Link* link_ = nullptr;
  std::atomic<bool> cancelled_{false};
};

}  // namespace plcburn
