#include "proto/app_steps.h"

#include <array>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "core/result_codes.h"
#include "proto/control_bytes.h"
#include "proto/exchange.h"
#include "proto/modbus_ascii.h"
#include "proto/text_bytes.h"

namespace plcburn {

namespace {

constexpr std::uint32_t kDummyTimeoutMs = 200;
constexpr std::uint32_t kStepTimeoutMs = 3000;
constexpr std::size_t kLongReply = 19;   // 8 bytes: answers to function 0x64
constexpr std::size_t kShortReply = 15;  // 6 bytes: one register
constexpr std::size_t kDummyReply = 11;

// Decoded reply bytes sit one position behind the colon.
constexpr std::size_t kAnswerCode = 5;  // byte 4
constexpr std::size_t kHighByte = 6;    // byte 5: identifier high, or NAK class
constexpr std::size_t kLowByte = 7;     // byte 6: identifier low, or NAK flow state

std::string Frame(std::initializer_list<std::uint8_t> bytes) {
  const std::vector<std::uint8_t> v(bytes);
  return BuildFrame(v);
}

std::string Command(std::uint8_t subByte, std::initializer_list<std::uint8_t> payload) {
  std::vector<std::uint8_t> v{0x00, 0x64, 0x01, subByte};
  v.insert(v.end(), payload);
  return BuildFrame(v);
}

// Length first, then the LRC (which decodes the reply in place), then the step's own test.
template <typename Test>
auto ModbusReply(std::size_t length, Test test) {
  return [length, test](std::uint8_t* rx, std::size_t got) {
    return got == length && CheckLRC(rx + 1, static_cast<int>(length - 3)) == 0 && test(rx);
  };
}

void ApplyAppProfileOnCom(const StepContext& ctx, Link& link) {
  if (!ctx.model.IsUsb()) link.ApplyLineProfile(kAppProfile);
}

std::uint16_t Word(std::uint8_t high, std::uint8_t low) {
  return static_cast<std::uint16_t>(high * 256 + low);
}

enum class Classifier { Probe, Identity, Erase };

// What the last reply of an exhausted step says, as its result code.
std::uint8_t Classify(Classifier step, const std::uint8_t* rx) {
  if (rx[kAnswerCode] != NAK) return RC_NO_RESPONSE;
  const std::uint8_t errorClass = rx[kHighByte];
  const std::uint8_t flowState = rx[kLowByte];
  if (errorClass == 1 && step == Classifier::Probe) return RC_RUN_MODE;
  if (errorClass != 2) return RC_UNKNOWN_CODE;
  switch (step) {
    case Classifier::Probe:
      if (flowState == 1) return RC_FLOW_STATE1;
      if (flowState == 2) return RC_FLOW_STATE2;
      break;
    case Classifier::Identity:
      if (flowState == 2) return RC_FLOW_STATE2;
      if (flowState == 3) return RC_FLOW_STATE3;
      break;
    case Classifier::Erase:
      if (flowState == 3) return RC_FLOW_STATE3;
      if (flowState == 4) return RC_FLOW_STATE4;
      break;
  }
  return RC_FLOW_UNKNOWN;
}

// The register's value; none when the retries ran out.
std::optional<std::uint16_t> ReadRegister(StepContext& ctx, Link& link,
                                          const std::string& request) {
  link.SetTimeouts(StepTimeouts(kStepTimeoutMs));
  std::array<std::uint8_t, kLongReply> rxBuf{};
  const Exchange exchange{Bytes(request),
                          kShortReply,
                          ModbusReply(kShortReply, [](const std::uint8_t*) { return true; }),
                          {}};
  if (!RunExchange(ctx, link, exchange, rxBuf.data())) return std::nullopt;
  return Word(rxBuf[4], rxBuf[5]);
}

// Notes what the PLC answered in the burn's record, if the burn keeps one.
template <typename T>
void Note(std::optional<T> BurnRecord::Plc::*field, const StepContext& ctx, T value) {
  if (ctx.record != nullptr) ctx.record->plc.*field = value;
}

}  // namespace

std::string DummyRequest() {
  return Frame({0x00, 0x7F});
}
std::string ProbeRequest(const ModelRules& m) {
  return Command(m.subByte, {0x01});
}
std::string IdentityRequest(const ModelRules& m) {
  return Command(m.subByte, {'I', 'D'});
}
std::string ReadD1386Request() {
  return Frame({0x00, 0x03, 0x15, 0x6A, 0x00, 0x01});
}
std::string ReadD1148Request() {
  return Frame({0x00, 0x03, 0x14, 0x7C, 0x00, 0x01});
}
// The version request keeps 01 59 for every model.
std::string VersionRequestA() {
  return Command(0x59, {0x05});
}
std::string EraseRequestA(const ModelRules& m) {
  return Command(m.subByte, {'E', 'R', 'A', 'S', 'E'});
}
std::string EraseAckRequestA(const ModelRules& m) {
  return Command(m.subByte, {ACK});
}

void DummyComm(StepContext& ctx, Link& hSerial) {
  ApplyAppProfileOnCom(ctx, hSerial);
  hSerial.SetTimeouts(StepTimeouts(kDummyTimeoutMs));
  const std::string request = DummyRequest();
  std::array<std::uint8_t, kDummyReply> rxBuf{};
  // Whatever comes back is drained and ignored: this only clears the line.
  for (int i = 0; i < 5; ++i) {
    hSerial.Write(Bytes(request).data(), request.size());
    hSerial.Read(rxBuf.data(), rxBuf.size());
  }
  for (int i = 0; i < 5; ++i) hSerial.Read(rxBuf.data(), rxBuf.size());
}

std::uint8_t ConfirmComm(StepContext& ctx, Link& hSerial) {
  ApplyAppProfileOnCom(ctx, hSerial);
  hSerial.SetTimeouts(StepTimeouts(kStepTimeoutMs));
  const std::string request = ProbeRequest(ctx.model);
  std::array<std::uint8_t, kLongReply> rxBuf{};
  const Exchange exchange{Bytes(request),
                          kLongReply,
                          ModbusReply(kLongReply,
                                      [](const std::uint8_t* rx) {
                                        return rx[kAnswerCode] == RC_APP_MODE ||
                                               rx[kAnswerCode] == RC_BOOT_MODE;
                                      }),
                          {}};
  if (RunExchange(ctx, hSerial, exchange, rxBuf.data())) {
    ctx.state.errCounter.store(0);
    return rxBuf[kAnswerCode];
  }
  return Classify(Classifier::Probe, rxBuf.data());
}

std::uint8_t CheckID_A(StepContext& ctx, Link& hSerial) {
  hSerial.SetTimeouts(StepTimeouts(kStepTimeoutMs));
  const std::string request = IdentityRequest(ctx.model);
  std::array<std::uint8_t, kLongReply> rxBuf{};
  const ModelRules& model = ctx.model;
  const Exchange exchange{Bytes(request),
                          kLongReply,
                          ModbusReply(kLongReply,
                                      [&model, &ctx](const std::uint8_t* rx) {
                                        if (rx[kAnswerCode] != ACK) return false;
                                        const std::uint16_t id = Word(rx[kHighByte], rx[kLowByte]);
                                        Note(&BurnRecord::Plc::identifier, ctx, id);
                                        return model.AcceptsAppId(id);
                                      }),
                          {}};
  if (RunExchange(ctx, hSerial, exchange, rxBuf.data())) return RC_OK;
  return Classify(Classifier::Identity, rxBuf.data());
}

std::uint16_t READ_D1386(StepContext& ctx, Link& hSerial) {
  const std::optional<std::uint16_t> D1386 = ReadRegister(ctx, hSerial, ReadD1386Request());
  if (D1386) Note(&BurnRecord::Plc::d1386, ctx, *D1386);
  return D1386.value_or(0);
}

std::uint16_t READ_D1148(StepContext& ctx, Link& hSerial) {
  const std::optional<std::uint16_t> D1148 = ReadRegister(ctx, hSerial, ReadD1148Request());
  if (D1148) Note(&BurnRecord::Plc::d1148, ctx, *D1148);
  return D1148.value_or(0);
}

std::uint8_t read_fu_version_A(StepContext& ctx) {
  Link& link = *ctx.hSerial;
  link.SetTimeouts(StepTimeouts(kStepTimeoutMs));
  const std::string request = VersionRequestA();
  std::array<std::uint8_t, kLongReply> rxBuf{};
  const Exchange exchange{Bytes(request),
                          kLongReply,
                          ModbusReply(kLongReply, [](const std::uint8_t*) { return true; }),
                          {}};
  if (!RunExchange(ctx, link, exchange, rxBuf.data())) return 0;
  Note(&BurnRecord::Plc::appVersion, ctx, rxBuf[kAnswerCode]);
  return rxBuf[kAnswerCode];
}

std::uint8_t SendErase_A(StepContext& ctx, Link& hSerial) {
  hSerial.SetTimeouts(StepTimeouts(kStepTimeoutMs));
  const std::string request = EraseRequestA(ctx.model);
  const std::string acknowledgement = EraseAckRequestA(ctx.model);
  std::array<std::uint8_t, kLongReply> rxBuf{};
  const bool silentEraseIsDone = ctx.model.eraseDoneWithoutReply;
  bool silent = false;

  const Exchange exchange{Bytes(request), kLongReply,
                          [&](std::uint8_t* rx, std::size_t got) {
                            // Some models hand over without answering the erase at all.
                            silent = got < kLongReply && silentEraseIsDone;
                            if (silent) return true;
                            return got == kLongReply && CheckLRC(rx + 1, kLongReply - 3) == 0 &&
                                   rx[kAnswerCode] == ACK;
                          },
                          [&]() {
                            ctx.state.errCounter.store(0);
                            if (silent) return true;
                            return hSerial.Write(Bytes(acknowledgement).data(),
                                                 acknowledgement.size()) == acknowledgement.size();
                          }};
  if (RunExchange(ctx, hSerial, exchange, rxBuf.data())) return RC_OK;
  return Classify(Classifier::Erase, rxBuf.data());
}

}  // namespace plcburn
