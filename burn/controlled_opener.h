#pragma once
// Opens links that a BurnControl can interrupt, for what runs before a burn and must stop with
// it (a PLC identified first): once the control is cancelled nothing more is opened, and the
// link in use returns at once.

#include <memory>
#include <string>

#include "burn/burn_control.h"
#include "link/link.h"

namespace plcburn {

class ControlledOpener : public LinkOpener {
 public:
  ControlledOpener(LinkOpener& inner, BurnControl& control) : inner_(inner), control_(control) {}

  OpenResult OpenCom(const std::string& port) override {
    return Controlled([&] { return inner_.OpenCom(port); });
  }
  OpenResult OpenUsb() override {
    return Controlled([&] { return inner_.OpenUsb(); });
  }

 private:
  // Attached to the control for as long as it is open.
  class ControlledLink : public Link {
   public:
    ControlledLink(std::unique_ptr<Link> inner, BurnControl& control)
        : inner_(std::move(inner)), control_(control) {
      control_.Attach(inner_.get());
    }
    ~ControlledLink() override { control_.Detach(); }
    std::size_t Write(const std::uint8_t* data, std::size_t n) override {
      return inner_->Write(data, n);
    }
    std::size_t Read(std::uint8_t* buf, std::size_t n) override { return inner_->Read(buf, n); }
    bool SetTimeouts(const CommTimeouts& t) override { return inner_->SetTimeouts(t); }
    bool ApplyLineProfile(const LineProfile& p) override { return inner_->ApplyLineProfile(p); }
    void Close() override {
      control_.Detach();
      inner_->Close();
    }
    void Interrupt() override { inner_->Interrupt(); }

   private:
    std::unique_ptr<Link> inner_;
    BurnControl& control_;
  };

  template <typename Open>
  OpenResult Controlled(Open open) {
    if (control_.Cancelled()) return {nullptr, "stopped"};
    OpenResult opened = open();
    if (opened.link != nullptr)
      opened.link = std::make_unique<ControlledLink>(std::move(opened.link), control_);
    return opened;
  }

  LinkOpener& inner_;
  BurnControl& control_;
};

}  // namespace plcburn
