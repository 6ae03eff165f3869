#include "proto/boot_steps.h"

#include <array>
#include <span>
#include <string_view>

#include "core/result_codes.h"
#include "proto/exchange.h"
#include "proto/text_bytes.h"

namespace plcburn {

namespace {

constexpr std::uint32_t kBootTimeoutMs = 3000;

// ACK followed by two data bytes, all within one read.
template <typename Test>
bool ExchangeForAckAndWord(StepContext& ctx, Link& link, std::string_view command, Test test) {
  std::array<std::uint8_t, 3> rxBuf{};
  const Exchange exchange{Bytes(command),
                          rxBuf.size(),
                          [&test](std::uint8_t* rx, std::size_t got) {
                            return got == 3 && rx[0] == ACK &&
                                   test(static_cast<std::uint16_t>(rx[1] * 256 + rx[2]));
                          },
                          {}};
  return RunExchange(ctx, link, exchange, rxBuf.data());
}

}  // namespace

bool ExchangeForAck(StepContext& ctx, Link& link, const std::uint8_t* command, std::size_t length) {
  std::uint8_t rxChar = 0;
  const Exchange exchange{
      {command, length},
      1,
      [](std::uint8_t* rx, std::size_t got) { return got == 1 && rx[0] == ACK; },
      {}};
  return RunExchange(ctx, link, exchange, &rxChar);
}

std::uint8_t CheckID_B(StepContext& ctx, Link& hSerial) {
  hSerial.SetTimeouts(StepTimeouts(kBootTimeoutMs));
  const ModelRules& model = ctx.model;
  BurnRecord* const record = ctx.record;
  if (!ExchangeForAckAndWord(ctx, hSerial, "ID", [&model, record](std::uint16_t id) {
        if (record != nullptr) record->plc.bootIdentifier = id;
        return model.AcceptsBootId(id);
      }))
    return RC_FAIL;
  // The pair sharing 0x000C keeps the count of answers it turned down.
  if (model.bootIdRule != BootIdRule::TwelveOrThirteen) ctx.state.errCounter.store(0);
  return RC_OK;
}

std::uint8_t read_fu_version_B(StepContext& ctx) {
  Link& link = *ctx.hSerial;
  link.SetTimeouts(StepTimeouts(kBootTimeoutMs));
  std::uint16_t version = 0;
  if (!ExchangeForAckAndWord(ctx, link, "VERSION", [&version](std::uint16_t v) {
        version = v;
        return true;
      }))
    return RC_FAIL;
  if (ctx.record != nullptr) ctx.record->plc.bootVersion = version;
  ctx.state.errCounter.store(0);
  return RC_OK;
}

std::uint8_t SendErase_B(StepContext& ctx, Link& hSerial) {
  hSerial.SetTimeouts(StepTimeouts(kBootTimeoutMs));
  const std::uint16_t totalPages = ctx.model.TotalPages(ctx.fileLength);
  ctx.state.flashStatus.store(ERASE);
  ctx.state.progress.store(0);

  const auto erase = Bytes("ERASE");
  for (std::uint16_t page = 0; page < totalPages; ++page) {
    if (!ExchangeForAck(ctx, hSerial, erase.data(), erase.size())) return RC_FAIL;
    ctx.state.errCounter.store(0);
    ctx.state.progress.store(page * 100 / totalPages);
  }
  const std::uint8_t txChar = EOT;
  if (!ExchangeForAck(ctx, hSerial, &txChar, 1)) return RC_FAIL;
  ctx.state.errCounter.store(0);
  ctx.state.progress.store(100);
  return RC_OK;
}

std::uint8_t SendUpdate(StepContext& ctx, Link& hSerial) {
  hSerial.SetTimeouts(StepTimeouts(kBootTimeoutMs));
  const auto update = Bytes("UPDATE");
  if (!ExchangeForAck(ctx, hSerial, update.data(), update.size())) return RC_FAIL;
  hSerial.ApplyLineProfile(kBootProfile);
  ctx.state.errCounter.store(0);
  return RC_OK;
}

}  // namespace plcburn
