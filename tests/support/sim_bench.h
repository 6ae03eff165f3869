#pragma once
// One burn against an in-process simulated PLC on a virtual clock, with an operator that records
// every message instead of showing it.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "burn/start_burn.h"
#include "core/memory_image.h"
#include "core/message_help.h"
#include "sim/plc_sim.h"
#include "sim/sim_link.h"

namespace plcburn::testing {

struct Shown {
  std::string caption, text;
  MessageIcon icon;
  // The panel's values while the box is open.
  std::int32_t flashStatus, progress, errCounter, totalErrCounter, elapsedTime;
  bool timerRunning;
};

class RecordingOperator : public Operator {
 public:
  explicit RecordingOperator(BurnState& state, VirtualClock& clock)
      : state_(state), clock_(clock) {}

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override {
    // Whatever a burn shows, the troubleshooting guide has its row, of the box's kind.
    const MessageHelp* help = FindMessageHelp(text);
    if (help == nullptr) {
      ADD_FAILURE() << "no row in core/message_help.cpp for \"" << text << "\"";
    } else {
      EXPECT_EQ(help->kind == MessageKind::Error, icon == MessageIcon::Error) << text;
    }
    messages.push_back({std::string(caption), std::string(text), icon, state_.flashStatus,
                        state_.progress, state_.errCounter, state_.totalErrCounter,
                        state_.elapsedTime, timerRunning});
    if (onMessage) onMessage(messages.back());
  }
  void SetStartEnabled(bool enabled) override { (enabled ? enables : disables)++; }
  void StopTimer() override { timerRunning = false; }
  void WaitMs(std::uint32_t ms) override {
    waits.push_back(ms);
    clock_.Advance(ms);
  }

  std::vector<Shown> messages;
  std::vector<std::uint32_t> waits;
  std::function<void(const Shown&)> onMessage;
  int enables = 0, disables = 0;
  bool timerRunning = true;

 private:
  BurnState& state_;
  VirtualClock& clock_;
};

// Silences the PLC's answers to one command, as if it never understood it.
class MutingLink : public Link {
 public:
  MutingLink(std::unique_ptr<Link> inner, std::string command)
      : inner_(std::move(inner)), command_(std::move(command)) {}
  std::size_t Write(const std::uint8_t* d, std::size_t n) override {
    muted_ = std::string(d, d + n) == command_;
    return inner_->Write(d, n);
  }
  std::size_t Read(std::uint8_t* b, std::size_t n) override {
    const std::size_t got = inner_->Read(b, n);
    return muted_ ? 0 : got;
  }
  bool SetTimeouts(const CommTimeouts& t) override { return inner_->SetTimeouts(t); }
  bool ApplyLineProfile(const LineProfile& p) override { return inner_->ApplyLineProfile(p); }
  void Close() override { inner_->Close(); }

 private:
  std::unique_ptr<Link> inner_;
  std::string command_;
  bool muted_ = false;
};

class MutingOpener : public LinkOpener {
 public:
  MutingOpener(SimOpener& inner, std::string command)
      : inner_(inner), command_(std::move(command)) {}
  OpenResult OpenCom(const std::string& port) override { return Wrap(inner_.OpenCom(port)); }
  OpenResult OpenUsb() override { return Wrap(inner_.OpenUsb()); }

 private:
  OpenResult Wrap(OpenResult r) {
    if (r.link) r.link = std::make_unique<MutingLink>(std::move(r.link), command_);
    return r;
  }
  SimOpener& inner_;
  std::string command_;
};

inline std::vector<std::uint8_t> Image(std::size_t n) {
  std::vector<std::uint8_t> image(n);
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>(i * 13 + (i >> 9));
  return image;
}

// One burn of `model` against an in-process simulated PLC.
struct Bench {
  // The port defaults to the model's own: USB for a USB model, else a serial port.
  Bench(const char* model, std::size_t imageLength, SimOptions options = {}, std::string port = {})
      : row(*FindModel(model)),
        sim(row, std::move(options)),
        opener(sim, clock),
        bytes(Image(imageLength)),
        image(bytes),
        selection(row),
        ui(state, clock) {
    selection.SetComPort(!port.empty() ? port : ModelAt(row).IsUsb() ? "USB" : "ttyS9");
  }

  void Run(LinkOpener* use = nullptr, BurnControl* control = nullptr,
           BurnRecording* recording = nullptr) {
    BurnSession session{state, selection, ui, use ? *use : opener, image, control, recording};
    StartBurn(session);
  }

  // The box that ends the burn; a burn that showed none fails the test, not the process.
  const Shown& Final() const {
    static const Shown none{};
    if (ui.messages.empty()) ADD_FAILURE() << "the burn showed no message";
    return ui.messages.empty() ? none : ui.messages.back();
  }
  void ExpectCleanEnd() const {
    EXPECT_EQ(image.Releases(), 1);
    EXPECT_EQ(ui.enables, 1);
    EXPECT_EQ(ui.disables, 1);
    EXPECT_FALSE(opener.AnyLinkOpen());
    EXPECT_EQ(state.elapsedTime, 0);
    EXPECT_EQ(state.flashStatus, IDLE);
    EXPECT_EQ(state.progress, 0);
    EXPECT_EQ(state.errCounter, 0);
    EXPECT_EQ(state.totalErrCounter, 0);
    EXPECT_FALSE(Final().timerRunning) << "the timer stops before the final message";
  }
  bool ImageReceived() const {
    const std::size_t sent = bytes.size() - sim.Model().unsentTail;
    const auto& got = sim.ReceivedImage();
    return got.size() >= sent &&
           std::equal(bytes.begin(), bytes.begin() + static_cast<long>(sent), got.begin());
  }

  std::size_t row;
  VirtualClock clock;
  PlcSim sim;
  SimOpener opener;
  std::vector<std::uint8_t> bytes;
  MemoryImage image;
  BurnState state;
  Selection selection;
  RecordingOperator ui;
};

inline SimOptions Faults(std::initializer_list<const char*> names, bool boot = false) {
  SimOptions o;
  o.startInBootLoader = boot;
  for (const char* n : names) o.faults.push_back(*ParseFault(n));
  return o;
}

}  // namespace plcburn::testing
