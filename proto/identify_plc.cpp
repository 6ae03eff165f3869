#include "proto/identify_plc.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/burn_record.h"
#include "core/burn_state.h"
#include "core/catalogue.h"
#include "core/port_name.h"
#include "core/result_codes.h"
#include "proto/app_steps.h"
#include "proto/boot_steps.h"
#include "proto/control_bytes.h"
#include "proto/exchange.h"
#include "proto/modbus_ascii.h"
#include "proto/text_bytes.h"

namespace plcburn {

namespace {

constexpr std::uint32_t kStepTimeoutMs = 3000;
constexpr std::size_t kLongReply = 19;

// Passes everything through and keeps the first bytes read since the last Restart, so a
// non-answer can be shown as it came.
class TappedLink : public Link {
 public:
  explicit TappedLink(Link& link) : link_(link) {}

  std::size_t Write(const std::uint8_t* data, std::size_t n) override {
    return link_.Write(data, n);
  }
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    const std::size_t got = link_.Read(buf, n);
    const std::size_t keep = std::min(got, kMaxRawBytes - std::min(kMaxRawBytes, seen_.size()));
    seen_.insert(seen_.end(), buf, buf + keep);
    return got;
  }
  bool SetTimeouts(const CommTimeouts& timeouts) override { return link_.SetTimeouts(timeouts); }
  bool ApplyLineProfile(const LineProfile& profile) override {
    return link_.ApplyLineProfile(profile);
  }
  void Close() override { link_.Close(); }
  void Interrupt() override { link_.Interrupt(); }

  void Restart() { seen_.clear(); }
  const std::vector<std::uint8_t>& Seen() const { return seen_; }

 private:
  Link& link_;
  std::vector<std::uint8_t> seen_;
};

// One model per sub-byte of the kind of link, in catalogue order: its rules pick the frames and
// whether the serial line is set. The common sub-bytes come first, 40MX7-PQN's second.
std::vector<const ModelRules*> Askers(bool usb) {
  std::vector<const ModelRules*> askers;
  for (std::size_t row = 0; row < kModelCount; ++row) {
    const ModelRules& m = ModelAt(row);
    if (m.IsUsb() != usb) continue;
    if (std::none_of(askers.begin(), askers.end(),
                     [&m](const ModelRules* a) { return a->subByte == m.subByte; }))
      askers.push_back(&m);
  }
  return askers;
}

template <typename Accepts>
std::vector<std::size_t> RowsWhere(Accepts accepts) {
  std::vector<std::size_t> rows;
  for (std::size_t row = 0; row < kModelCount; ++row)
    if (accepts(ModelAt(row))) rows.push_back(row);
  return rows;
}

// Any identifier the application reports; the burn's own step would retry one it does not expect.
std::optional<std::uint16_t> AskApplicationId(StepContext& ctx, Link& link) {
  link.SetTimeouts(StepTimeouts(kStepTimeoutMs));
  const std::string request = IdentityRequest(ctx.model);
  std::array<std::uint8_t, kLongReply> rxBuf{};
  const Exchange exchange{Bytes(request),
                          kLongReply,
                          [](std::uint8_t* rx, std::size_t got) {
                            return got == kLongReply &&
                                   CheckLRC(rx + 1, static_cast<int>(kLongReply - 3)) == 0 &&
                                   rx[5] == ACK;
                          },
                          {}};
  if (!RunExchange(ctx, link, exchange, rxBuf.data())) return std::nullopt;
  return static_cast<std::uint16_t>(rxBuf[6] * 256 + rxBuf[7]);
}

std::optional<std::uint16_t> AskBootId(StepContext& ctx, Link& link) {
  link.SetTimeouts(StepTimeouts(kStepTimeoutMs));
  std::array<std::uint8_t, 3> rxBuf{};
  const Exchange exchange{
      Bytes("ID"),
      rxBuf.size(),
      [](std::uint8_t* rx, std::size_t got) { return got == 3 && rx[0] == ACK; },
      {}};
  if (!RunExchange(ctx, link, exchange, rxBuf.data())) return std::nullopt;
  return static_cast<std::uint16_t>(rxBuf[1] * 256 + rxBuf[2]);
}

// Drops the candidates of `check` that the register's value rules out.
void TellApart(ModelCheck check, std::uint16_t value, std::vector<std::size_t>& rows) {
  std::erase_if(rows, [&](std::size_t row) {
    const ModelRules& m = ModelAt(row);
    return m.modelCheck == check && m.RegisterFlagsVariant(value) != m.isFlaggedVariant;
  });
}

bool AnyChecks(const std::vector<std::size_t>& rows, ModelCheck check) {
  return std::any_of(rows.begin(), rows.end(),
                     [check](std::size_t row) { return ModelAt(row).modelCheck == check; });
}

class Identification {
 public:
  Identification(Link& link, bool usb) : tap_(link), usb_(usb) {}

  PlcIdentity Run() {
    for (const ModelRules* asker : Askers(usb_)) {
      StepContext ctx{state_, *asker, &tap_, {}, 0, &record_};
      DummyComm(ctx, tap_);
      out_.probeCode = ConfirmComm(ctx, tap_);
      if (out_.probeCode == RC_NO_RESPONSE) continue;
      if (out_.probeCode == RC_BOOT_MODE) {
        out_.firmware = Firmware::BootLoader;
        AskBootLoader(ctx);
      } else {
        // A refusal is the application's too; RUN mode is the refusal worth naming.
        out_.firmware = Firmware::Application;
        out_.runMode = out_.probeCode == RC_RUN_MODE;
        AskApplication(ctx);
      }
      return Done();
    }
    out_.problem = "no valid answer";
    return Done();
  }

 private:
  void AskApplication(StepContext& ctx) {
    tap_.Restart();
    out_.identifier = AskApplicationId(ctx, tap_);
    if (!out_.identifier) {
      out_.problem = "no valid answer to the identifier request";
      return;
    }
    const std::uint16_t id = *out_.identifier;
    const std::uint8_t subByte = ctx.model.subByte;
    out_.candidates =
        RowsWhere([&](const ModelRules& m) { return m.subByte == subByte && m.AcceptsAppId(id); });
    if (AnyChecks(out_.candidates, ModelCheck::D1386) && !ReadRegister(ctx, ModelCheck::D1386))
      return;
    if (AnyChecks(out_.candidates, ModelCheck::D1148) && !ReadRegister(ctx, ModelCheck::D1148))
      return;
    // A version that does not come is not held against the PLC, as in a burn.
    tap_.Restart();
    read_fu_version_A(ctx);
    out_.updateVersion = record_.plc.appVersion;
  }

  bool ReadRegister(StepContext& ctx, ModelCheck check) {
    tap_.Restart();
    const bool d1386 = check == ModelCheck::D1386;
    const std::uint16_t value = d1386 ? READ_D1386(ctx, tap_) : READ_D1148(ctx, tap_);
    std::optional<std::uint16_t>& read = d1386 ? out_.d1386 : out_.d1148;
    read = d1386 ? record_.plc.d1386 : record_.plc.d1148;
    if (!read) {
      out_.problem = std::string("no valid answer to the read of ") + (d1386 ? "D1386" : "D1148");
      return false;
    }
    TellApart(check, value, out_.candidates);
    return true;
  }

  void AskBootLoader(StepContext& ctx) {
    tap_.Restart();
    out_.identifier = AskBootId(ctx, tap_);
    if (!out_.identifier) {
      out_.problem = "no valid answer to \"ID\"";
      return;
    }
    const std::uint16_t id = *out_.identifier;
    const std::uint8_t subByte = ctx.model.subByte;
    out_.candidates =
        RowsWhere([&](const ModelRules& m) { return m.subByte == subByte && m.AcceptsBootId(id); });
    tap_.Restart();
    read_fu_version_B(ctx);
    out_.bootVersion = record_.plc.bootVersion;
  }

  PlcIdentity Done() {
    if (out_.problem.empty() && out_.identifier && out_.candidates.empty())
      out_.problem = "no model of the catalogue reports this identifier";
    if (!out_.problem.empty()) out_.received = tap_.Seen();
    return std::move(out_);
  }

  TappedLink tap_;
  const bool usb_;
  BurnState state_;
  BurnRecord record_;
  PlcIdentity out_;
};

}  // namespace

PlcIdentity IdentifyPlc(Link& link, bool usb) {
  return Identification(link, usb).Run();
}

PlcIdentity IdentifyPort(LinkOpener& opener, const std::string& port) {
  const bool usb = NamesUsbInterface(port);
  OpenResult opened = usb ? opener.OpenUsb() : opener.OpenCom(port);
  if (!opened.link) {
    PlcIdentity none;
    none.problem = "cannot open the port";
    if (!opened.reason.empty()) none.problem += ": " + opened.reason;
    return none;
  }
  PlcIdentity identity = IdentifyPlc(*opened.link, usb);
  opened.link->Close();
  return identity;
}

std::string FirmwareName(Firmware firmware) {
  switch (firmware) {
    case Firmware::Application: return "application";
    case Firmware::BootLoader: return "boot loader";
    case Firmware::None: break;
  }
  return "nothing";
}

std::string CandidateNames(const std::vector<std::size_t>& rows) {
  if (rows.empty()) return "unknown";
  std::string names;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) names += i + 1 == rows.size() ? " or " : ", ";
    names += ModelAt(rows[i]).name;
  }
  return names;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", b);
    if (!text.empty()) text += ' ';
    text += pair;
  }
  return text;
}

}  // namespace plcburn
