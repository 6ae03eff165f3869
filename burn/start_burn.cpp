#include "burn/start_burn.h"

#include <memory>
#include <string>

#include "core/result_codes.h"
#include "proto/app_steps.h"
#include "proto/block_transfer.h"
#include "proto/boot_steps.h"

namespace plcburn {

namespace {

constexpr std::string_view kError = "ERROR";
constexpr std::string_view kInformation = "Information";

bool IsDevicePath(const std::string& port) {
  return port.find('/') != std::string::npos;
}

class Burn {
 public:
  explicit Burn(BurnSession& s)
      : s_(s), model_(s.selection.Model()), ctx_{s.state, model_, nullptr, {}, 0} {}

  void Run() {
    // Preparation.
    ctx_.fin = ImageCursor({s_.image.Data(), s_.image.Length()});
    ctx_.fileLength = s_.image.Length();
    s_.ui.SetStartEnabled(false);
    const std::uint32_t maxSize = model_.maxSize;
    if (ctx_.fileLength > maxSize) return EndWithoutLink(model_.sizeMessage);
    if (ctx_.fileLength < model_.minSize) return EndWithoutLink(model_.minSizeMessage);
    if (model_.TotalPackets(ctx_.fileLength) <= 0) return EndWithoutLink(kMsgNoDataBlock);
    if (!OpenLink()) return EndWithoutLink(CannotOpenMessage());

    RunAttempts();
    EndBurn();
  }

 private:
  // Attempts go on only after a successful application-mode erase and reconnect.
  void RunAttempts() {
    int appModeAttempts = 0;
    for (;;) {
      DummyComm(ctx_, *link_);
      const std::uint8_t status = ConfirmComm(ctx_, *link_);
      if (status == RC_BOOT_MODE) return BootLoaderPath();
      if (status != RC_APP_MODE) return Fail(AppStepMessage(AppStep::ConfirmComm, status));
      if (++appModeAttempts > kMaxAppModeAttempts) return Fail(kMsgNoBootLoader);
      if (!ApplicationPath()) return;
      if (!Reconnect()) return Fail(CannotOpenMessage());
    }
  }

  // Identifier, model check and erase; true when the erase succeeded.
  bool ApplicationPath() {
    const std::uint8_t id = CheckID_A(ctx_, *link_);
    if (id != RC_OK) {
      Fail(AppStepMessage(AppStep::CheckID_A, id));
      return false;
    }
    if (!ModelCheckPasses()) return false;
    const std::uint8_t erase = SendErase_A(ctx_, *link_);
    if (erase != RC_OK) {
      Fail(AppStepMessage(AppStep::SendErase_A, erase));
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
      case ModelCheck::D1386: {
        const std::uint16_t D1386 = READ_D1386(ctx_, *link_);
        plcIsFlaggedVariant = D1386 == 0x4138 || D1386 == 0x4137;
        break;
      }
      case ModelCheck::D1148: plcIsFlaggedVariant = READ_D1148(ctx_, *link_) != 0; break;
    }
    if (plcIsFlaggedVariant == model_.isFlaggedVariant) return true;
    Fail(model_.variantMismatchMessage);
    return false;
  }

  // Hands the PLC over to its boot loader; false when a closed link cannot be reopened.
  bool Reconnect() {
    if (model_.reconnect == ReconnectAction::WaitOnOpenLink) {
      s_.ui.WaitMs(model_.reconnectWaitMs);
      return true;
    }
    CloseLink();
    s_.ui.ShowMessage(kInformation, model_.reconnectPrompt, MessageIcon::Information);
    s_.ui.WaitMs(model_.reconnectWaitMs);
    return OpenLink();
  }

  void BootLoaderPath() {
    if (CheckID_B(ctx_, *link_) != RC_OK) return Fail(kMsgPlcTypeWrong);
    if (model_.readsBootVersion && read_fu_version_B(ctx_) != RC_OK) return Fail(kMsgNoVersion);
    if (SendErase_B(ctx_, *link_) != RC_OK) return Fail(kMsgNoErase);
    if (SendUpdate(ctx_, *link_) != RC_OK) return Fail(kMsgNoUpdate);
    if (SendFW(ctx_, *link_) != RC_OK) return Fail(kMsgFwFailed);
    s_.ui.StopTimer();
    s_.ui.ShowMessage(model_.successCaption, model_.successText, MessageIcon::Information);
  }

  void Fail(std::string_view message) {
    s_.ui.StopTimer();
    s_.ui.ShowMessage(kError, message, MessageIcon::Error);
  }

  bool OpenLink() {
    // The window may have changed the port since the last open.
    port_ = s_.selection.ComPort();
    OpenResult opened =
        model_.IsUsb() && !IsDevicePath(port_) ? s_.opener.OpenUsb() : s_.opener.OpenCom(port_);
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
    const std::string name = model_.IsUsb() && !IsDevicePath(port_) ? "USB" : port_;
    std::string text = "CANNOT open " + name + " Port!!!";
    if (!openFailure_.empty()) text += "\n" + openFailure_;
    return text;
  }

  // Ends where no protocol step has run: only the elapsed seconds were moved.
  void EndWithoutLink(std::string_view message) {
    s_.ui.StopTimer();
    s_.ui.ShowMessage(kError, message, MessageIcon::Error);
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
};

}  // namespace

std::uint32_t StartBurn(BurnSession& session) {
  Burn(session).Run();
  return 0;
}

}  // namespace plcburn
