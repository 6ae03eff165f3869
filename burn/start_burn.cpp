#include "burn/start_burn.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "core/port_name.h"
#include "core/result_codes.h"
#include "core/stopped_burn.h"
#include "core/version.h"
#include "proto/app_steps.h"
#include "proto/block_transfer.h"
#include "proto/boot_steps.h"

namespace plcburn {

namespace {

constexpr std::string_view kError = "ERROR";
constexpr std::string_view kInformation = "Information";

std::uint64_t SystemClockMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

class Burn {
 public:
  explicit Burn(BurnSession& s)
      : s_(s), model_(s.selection.Model()), ctx_{s.state, model_, nullptr, {}, 0, &record_} {}

  const BurnOutcome& Outcome() const { return outcome_; }

  void Run() {
    BeginRecord();
    // Preparation.
    ctx_.fin = ImageCursor({s_.image.Data(), s_.image.Length()});
    ctx_.fileLength = s_.image.Length();
    record_.imageSize = ctx_.fileLength;
    s_.ui.SetStartEnabled(false);
    if (const std::string_view misfit = model_.SizeRefusal(ctx_.fileLength); !misfit.empty()) {
      record_.result.refused = BurnRecord::Result::Refused{ImageRefusal::Size};
      return EndWithoutLink(kStepSizeCheck, misfit);
    }
    // Stopped before it began: the PLC is not even opened.
    if (s_.control != nullptr && s_.control->Cancelled())
      return EndWithoutLink(kStepOpen, kMsgBurnStopped);
    if (!OpenLink()) return EndWithoutLink(kStepOpen, CannotOpenMessage());

    RunAttempts();
    EndBurn();
  }

 private:
  // Attempts go on only after a successful application-mode erase and reconnect.
  void RunAttempts() {
    int appModeAttempts = 0;
    for (;;) {
      EnterPhase(BurnPhase::Handshake);
      ++record_.attempts;
      DummyComm(ctx_, *link_);
      const std::uint8_t status = ConfirmComm(ctx_, *link_);
      if (status == RC_BOOT_MODE) return BootLoaderPath();
      if (status != RC_APP_MODE)
        return Fail("ConfirmComm", status, AppStepMessage(AppStep::ConfirmComm, status));
      if (++appModeAttempts > kMaxAppModeAttempts)
        return Fail("ConfirmComm", status, kMsgNoBootLoader);
      if (!ApplicationPath()) return;
      if (!Reconnect()) return Fail(kStepReopen, std::nullopt, CannotOpenMessage());
    }
  }

  // Identifier, model check and erase; true when the erase succeeded.
  bool ApplicationPath() {
    const std::uint8_t id = CheckID_A(ctx_, *link_);
    if (id != RC_OK) {
      Fail("CheckID_A", id, AppStepMessage(AppStep::CheckID_A, id));
      return false;
    }
    if (!ModelCheckPasses()) return false;
    const std::uint8_t erase = SendErase_A(ctx_, *link_);
    if (erase != RC_OK) {
      Fail("SendErase_A", erase, AppStepMessage(AppStep::SendErase_A, erase));
      return false;
    }
    return true;
  }

  // Tells apart the models that share an identifier. A failed register read reads as 0.
  bool ModelCheckPasses() {
    bool plcIsFlaggedVariant = false;
    switch (model_.modelCheck) {
      case ModelCheck::None: return true;
      case ModelCheck::VersionA:
        read_fu_version_A(ctx_);  // informative only
        return true;
      case ModelCheck::D1386:
        plcIsFlaggedVariant = model_.RegisterFlagsVariant(READ_D1386(ctx_, *link_));
        break;
      case ModelCheck::D1148:
        plcIsFlaggedVariant = model_.RegisterFlagsVariant(READ_D1148(ctx_, *link_));
        break;
    }
    if (plcIsFlaggedVariant == model_.isFlaggedVariant) return true;
    Fail(model_.modelCheck == ModelCheck::D1386 ? "READ_D1386" : "READ_D1148", std::nullopt,
         model_.variantMismatchMessage);
    return false;
  }

  // Hands the PLC over to its boot loader; false when a closed link cannot be reopened.
  bool Reconnect() {
    EnterPhase(BurnPhase::Reconnect);
    if (model_.reconnect == ReconnectAction::WaitOnOpenLink) {
      s_.ui.WaitMs(model_.reconnectWaitMs);
      return true;
    }
    CloseLink();
    const ReconnectPrompt prompt{model_.name,
                                 model_.reconnect == ReconnectAction::PowerCycle
                                     ? ReconnectKind::PowerCycle
                                     : ReconnectKind::Replug,
                                 kInformation, model_.reconnectPrompt, model_.reconnectWaitMs};
    if (!s_.ui.Prompt(prompt)) {
      openFailure_.clear();
      return false;
    }
    s_.ui.WaitMs(model_.reconnectWaitMs);
    return OpenLink();
  }

  // Each step runs only if every one before it returned 0.
  void BootLoaderPath() {
    if (!BootStep("CheckID_B", CheckID_B(ctx_, *link_), kMsgPlcTypeWrong)) return;
    if (model_.readsBootVersion &&
        !BootStep("read_fu_version_B", read_fu_version_B(ctx_), kMsgNoVersion))
      return;
    EnterPhase(BurnPhase::Erase);
    if (!BootStep("SendErase_B", SendErase_B(ctx_, *link_), kMsgNoErase)) return;
    EnterPhase(BurnPhase::Transfer);
    if (!BootStep("SendUpdate", SendUpdate(ctx_, *link_), kMsgNoUpdate)) return;
    if (!BootStep("SendFW", SendFW(ctx_, *link_), kMsgFwFailed)) return;
    Finish(true, "SendFW", RC_OK, model_.successCaption, model_.successText,
           MessageIcon::Information);
  }

  // False, after the step's error box, when the step did not return 0.
  bool BootStep(std::string_view step, std::uint8_t status, std::string_view message) {
    if (status == RC_OK) return true;
    Fail(step, status, message);
    return false;
  }

  void Fail(std::string_view step, std::optional<std::uint8_t> code, std::string_view message) {
    // A stopped burn fails at its next step; what counts is that it was stopped.
    const bool stopped = s_.control != nullptr && s_.control->Cancelled();
    Finish(false, step, code, kError, stopped ? kMsgBurnStopped : message, MessageIcon::Error);
  }

  // Every end of a burn: the timer stops, the record is kept, then the one final message.
  void Finish(bool ok, std::string_view step, std::optional<std::uint8_t> code,
              std::string_view caption, std::string_view text, MessageIcon icon) {
    s_.ui.StopTimer();
    KeepRecord(ok, step, code, caption, text);
    s_.ui.ShowMessage(caption, text, icon);
  }

  std::uint64_t SteadyMs() const {
    const auto& clock = s_.recording != nullptr ? s_.recording->steadyMs : LinkClock{};
    return clock ? clock() : SteadyClockMs();
  }

  std::uint64_t WallMs() const {
    const auto& clock = s_.recording != nullptr ? s_.recording->wallMs : LinkClock{};
    return clock ? clock() : SystemClockMs();
  }

  void BeginRecord() {
    if (s_.recording != nullptr) record_.facts = s_.recording->facts;
    record_.version = kVersion;
    record_.model = model_.name;
    const std::string port = s_.selection.ComPort();
    record_.usb = OverUsb(port);
    record_.port = port;
    record_.startMs = WallMs();
    startedMs_ = SteadyMs();
    errorsAtStart_ = s_.state.totalErrCounter.load();
  }

  // Closes the phase that runs (if any) and opens `next` (if any).
  void EnterPhase(std::optional<BurnPhase> next) {
    const std::uint64_t now = SteadyMs();
    if (phase_) {
      BurnRecord::Phases& p = record_.phases;
      std::uint64_t* const spent[] = {&p.handshakeMs, &p.reconnectMs, &p.eraseMs, &p.transferMs};
      *spent[static_cast<int>(*phase_)] += now - phaseStartMs_;
    }
    if (next && next != phase_ && s_.recording != nullptr) s_.recording->journal.PhaseBegins(*next);
    phase_ = next;
    phaseStartMs_ = now;
  }

  void KeepRecord(bool ok, std::string_view step, std::optional<std::uint8_t> code,
                  std::string_view caption, std::string_view text) {
    EnterPhase(std::nullopt);
    record_.endMs = WallMs();
    record_.durationMs = SteadyMs() - startedMs_;
    record_.errorsTotal =
        static_cast<std::uint32_t>(s_.state.totalErrCounter.load() - errorsAtStart_);
    record_.result = {ok,
                      code,
                      std::string(step),
                      std::string(caption),
                      std::string(text),
                      s_.control != nullptr && s_.control->Cancelled(),
                      std::move(record_.result.refused)};
    if (s_.recording != nullptr) s_.recording->journal.Keep(record_);
    outcome_ = {ok, record_.result.stopped, std::string(caption), std::string(text), record_};
  }

  // A USB model's port names its USB interface, or a serial port it answers on as well (a
  // CDC-ACM device, a simulator); other models always talk over a serial port.
  bool OverUsb(const std::string& port) const { return model_.IsUsb() && NamesUsbInterface(port); }

  bool OpenLink() {
    // The window may have changed the port since the last open.
    port_ = s_.selection.ComPort();
    const bool usb = OverUsb(port_);
    record_.port = port_;
    record_.usb = usb;
    OpenResult opened = usb ? s_.opener.OpenUsb() : s_.opener.OpenCom(port_);
    openFailure_ = opened.reason;
    link_ = std::move(opened.link);
    ctx_.hSerial = link_.get();
    if (s_.control != nullptr) s_.control->Attach(link_.get());
    return link_ != nullptr;
  }

  void CloseLink() {
    if (s_.control != nullptr) s_.control->Detach();
    if (link_ != nullptr) link_->Close();
    link_.reset();
    ctx_.hSerial = nullptr;
  }

  std::string CannotOpenMessage() const {
    const std::string name = OverUsb(port_) ? std::string(kUsbPort) : port_;
    std::string text = "CANNOT open " + name + " Port!!!";
    if (!openFailure_.empty()) text += "\n" + openFailure_;
    return text;
  }

  // Ends where no protocol step has run: only the elapsed seconds were moved.
  void EndWithoutLink(std::string_view check, std::string_view message) {
    Fail(check, std::nullopt, message);
    s_.ui.SetStartEnabled(true);
    s_.state.elapsedTime.store(0);
    s_.image.Release();
  }

  void EndBurn() {
    s_.state.elapsedTime.store(0);
    s_.state.flashStatus.store(IDLE);
    s_.state.progress.store(0);
    s_.state.errCounter.store(0);
    s_.state.totalErrCounter.store(0);
    s_.ui.SetStartEnabled(true);
    CloseLink();
    s_.image.Release();
  }

  BurnSession& s_;
  const ModelRules& model_;
  StepContext ctx_;
  std::unique_ptr<Link> link_;
  std::string port_;
  std::string openFailure_;

  BurnRecord record_;
  std::uint64_t startedMs_ = 0;
  std::int32_t errorsAtStart_ = 0;
  std::optional<BurnPhase> phase_;
  std::uint64_t phaseStartMs_ = 0;
  BurnOutcome outcome_;
};

}  // namespace

BurnOutcome StartBurn(BurnSession& session) {
  Burn burn(session);
  burn.Run();
  return burn.Outcome();
}

}  // namespace plcburn
