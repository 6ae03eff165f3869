#pragma once
// The one exchange discipline every step follows: write the request, read a reply of fixed
// length, retry while fewer than six writes and fewer than six reads have failed, keeping
// errCounter and totalErrCounter up to date.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "proto/step_context.h"

namespace plcburn {

struct Exchange {
  std::span<const std::uint8_t> request;
  std::size_t replyLength = 0;
  // Judges a read: the buffer as read and the count that came. The reply is the caller's
  // buffer, cleared over replyLength before each read and left as the last read made it.
  std::function<bool(std::uint8_t* rxBuf, std::size_t got)> accept;
  // Optional work after an accepted reply; returning false counts as a failed write and the
  // exchange starts again with the request.
  std::function<bool()> afterAccept;
};

// Returns true when a reply was accepted (and afterAccept, if any, succeeded); false once either
// failure counter reached 6.
bool RunExchange(StepContext& ctx, Link& link, const Exchange& exchange, std::uint8_t* rxBuf);

// Counts one failed write or read of the exchange in progress.
void CountFailure(StepContext& ctx, std::uint8_t& counter);

}  // namespace plcburn
