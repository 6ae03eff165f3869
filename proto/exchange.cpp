#include "proto/exchange.h"

#include <algorithm>

namespace plcburn {

namespace {
constexpr std::uint8_t kMaxFailures = 5;  // the sixth failure of a kind ends the exchange
}

void CountFailure(StepContext& ctx, std::uint8_t& counter) {
  ++counter;
  ctx.state.errCounter.store(counter);
  ctx.state.totalErrCounter.fetch_add(1);
}

bool RunExchange(StepContext& ctx, Link& link, const Exchange& exchange, std::uint8_t* rxBuf) {
  std::uint8_t werrCounter = 0;
  std::uint8_t rerrCounter = 0;
  while (werrCounter <= kMaxFailures && rerrCounter <= kMaxFailures) {
    const std::size_t written = link.Write(exchange.request.data(), exchange.request.size());
    if (written != exchange.request.size()) {
      CountFailure(ctx, werrCounter);
      continue;
    }
    ctx.state.errCounter.store(rerrCounter);
    std::fill_n(rxBuf, exchange.replyLength, std::uint8_t{0});
    const std::size_t got = link.Read(rxBuf, exchange.replyLength);
    if (!exchange.accept(rxBuf, got)) {
      CountFailure(ctx, rerrCounter);
      continue;
    }
    if (exchange.afterAccept && !exchange.afterAccept()) {
      CountFailure(ctx, werrCounter);
      continue;
    }
    return true;
  }
  return false;
}

}  // namespace plcburn
