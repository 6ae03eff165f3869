#include "sim/emulated_usb_plc.h"

#include <utility>

namespace plcburn {

EmulatedUsbPlc::EmulatedUsbPlc(UsbTestbed& testbed, std::size_t modelRow, SimOptions options,
                               UsbDeviceDescription description, UsbAddress address)
    : testbed_(testbed),
      description_(std::move(description)),
      address_(address),
      sim_(modelRow, std::move(options)) {
  Plug(address.devnum);
}

EmulatedUsbPlc::~EmulatedUsbPlc() = default;

void EmulatedUsbPlc::Unplug() {
  Device().Unplug();
  std::lock_guard hold(lock_);
  sim_.OnLinkClosed();  // the PLC loses its power with the cable
}

void EmulatedUsbPlc::Plug(int devnum) {
  address_.devnum = devnum;
  {
    std::lock_guard hold(lock_);
    sim_.OnLinkOpened();
  }
  auto device = std::make_unique<EmulatedUsbDevice>(
      testbed_, description_, address_, static_cast<UsbFunction&>(*this), lock_, changed_);
  std::lock_guard hold(lock_);
  plugs_.push_back(std::move(device));
}

bool EmulatedUsbPlc::WaitUntil(const std::function<bool(const PlcSim&, std::size_t)>& ready,
                               std::chrono::milliseconds max) {
  std::unique_lock hold(lock_);
  return changed_.wait_for(hold, max,
                           [&] { return ready(sim_, plugs_.back()->WaitingReadsLocked()); });
}

void EmulatedUsbPlc::Receive(std::span<const std::uint8_t> data) {
  sim_.Receive(data.data(), data.size());
}

std::vector<std::uint8_t> EmulatedUsbPlc::TakeOutput(std::size_t max) {
  return sim_.TakeOutput(max);
}

std::size_t EmulatedUsbPlc::Pending() const {
  return sim_.Pending();
}

}  // namespace plcburn
