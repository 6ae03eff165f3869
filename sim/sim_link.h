#pragma once
// Links to a PlcSim in the same process, on a virtual clock: a read that comes up short costs
// its time-out on the clock and no real time, so burns with every retry run in milliseconds.
// The PlcSim must outlive its links; only Interrupt may be called from another thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/link.h"
#include "sim/plc_sim.h"
#include "sim/virtual_clock.h"

namespace plcburn {

class SimLink : public Link {
 public:
  // `openLinks` (may be null) counts the links that are open on this PLC.
  SimLink(PlcSim& sim, VirtualClock& clock, std::shared_ptr<int> openLinks = nullptr);
  ~SimLink() override;

  std::size_t Write(const std::uint8_t* data, std::size_t n) override;
  std::size_t Read(std::uint8_t* buf, std::size_t n) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  bool ApplyLineProfile(const LineProfile& profile) override;
  void Close() override;
  void Interrupt() override { interrupted_ = true; }

  const CommTimeouts& Timeouts() const { return timeouts_; }
  std::size_t BytesWritten() const { return written_; }
  std::size_t BytesRead() const { return read_; }

 private:
  PlcSim& sim_;
  VirtualClock& clock_;
  std::shared_ptr<int> openLinks_;
  CommTimeouts timeouts_{};
  bool closed_ = false;
  std::atomic<bool> interrupted_{false};
  std::size_t written_ = 0;
  std::size_t read_ = 0;
};

// Opens SimLinks on one PlcSim, as a burn opens and reopens its port or USB device.
class SimOpener : public LinkOpener {
 public:
  SimOpener(PlcSim& sim, VirtualClock& clock) : sim_(sim), clock_(clock) {}

  OpenResult OpenCom(const std::string& portName) override;
  OpenResult OpenUsb() override;

  // While set, every open yields no link.
  void SetFailOpens(bool fail) { failOpens_ = fail; }
  int Opens() const { return opens_; }
  const std::string& LastPortName() const { return lastPort_; }
  bool AnyLinkOpen() const { return *openLinks_ > 0; }

 private:
  OpenResult Open(bool usb);

  PlcSim& sim_;
  VirtualClock& clock_;
  std::shared_ptr<int> openLinks_ = std::make_shared<int>(0);
  bool failOpens_ = false;
  int opens_ = 0;
  std::string lastPort_;
};

}  // namespace plcburn
