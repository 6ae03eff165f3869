#include <chrono>

#include "link/link.h"

namespace plcburn {

std::uint64_t SteadyClockMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace plcburn
