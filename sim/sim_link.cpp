#include "sim/sim_link.h"

namespace plcburn {

SimLink::SimLink(PlcSim& sim, VirtualClock& clock, std::shared_ptr<int> openLinks)
    : sim_(sim), clock_(clock), openLinks_(std::move(openLinks)) {
  if (openLinks_) ++*openLinks_;
  sim_.OnLinkOpened();
}

SimLink::~SimLink() {
  Close();
}

std::size_t SimLink::Write(const std::uint8_t* data, std::size_t n) {
  if (closed_ || interrupted_ || sim_.HungUp()) return 0;
  sim_.Receive(data, n);
  written_ += n;
  return n;
}

std::size_t SimLink::Read(std::uint8_t* buf, std::size_t n) {
  if (closed_) return 0;
  const std::vector<std::uint8_t> got = sim_.TakeOutput(n);
  std::copy(got.begin(), got.end(), buf);
  read_ += got.size();
  if (got.size() < n && !interrupted_) {
    // The PLC answers at once or not at all: waiting for the rest costs the whole time-out.
    clock_.Advance(timeouts_.ReadTotalTimeoutConstant +
                   static_cast<std::uint64_t>(timeouts_.ReadTotalTimeoutMultiplier) * n);
    sim_.OnLineIdle();
  }
  return got.size();
}

bool SimLink::SetTimeouts(const CommTimeouts& timeouts) {
  timeouts_ = timeouts;
  return true;
}

bool SimLink::ApplyLineProfile(const LineProfile& profile) {
  if (closed_) return false;
  sim_.OnLineProfile(profile);
  return true;
}

void SimLink::Close() {
  if (closed_) return;
  closed_ = true;
  if (openLinks_) --*openLinks_;
  sim_.OnLinkClosed();
}

OpenResult SimOpener::OpenCom(const std::string& portName) {
  lastPort_ = portName;
  return Open(false);
}

OpenResult SimOpener::OpenUsb() {
  return Open(true);
}

OpenResult SimOpener::Open(bool usb) {
  if (failOpens_) return {nullptr, "simulated open failure"};
  if (usb != sim_.Model().IsUsb())
    return {nullptr, usb ? "no PLC on the USB interface" : "no PLC on this port"};
  // A COM port is opened exclusively; the USB interface is shared.
  if (!usb && *openLinks_ > 0) return {nullptr, "port in use"};
  ++opens_;
  return {std::make_unique<SimLink>(sim_, clock_, openLinks_), {}};
}

}  // namespace plcburn
