#pragma once
// A simulated PLC behind its USB interface: PlcSim answers what the host sends on the device's
// bulk pipe. The cable can be pulled and plugged in again, and the device comes back under a new
// device number as on a real bus; the PLC itself (its firmware's state, what it received) stays.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/emulated_usb_device.h"
#include "sim/plc_sim.h"

namespace plcburn {

class EmulatedUsbPlc : private UsbFunction {
 public:
  // Plugged in at `address`.
  EmulatedUsbPlc(UsbTestbed& testbed, std::size_t modelRow, SimOptions options,
                 UsbDeviceDescription description, UsbAddress address);
  ~EmulatedUsbPlc() override;

  void Unplug();
  // Plugged in again on the same port under device number `devnum`.
  void Plug(int devnum);

  // Every plug-in so far, the latest last.
  const std::vector<std::unique_ptr<EmulatedUsbDevice>>& Plugs() const { return plugs_; }
  EmulatedUsbDevice& Device() const { return *plugs_.back(); }

  // Runs `look` on the PLC with the lock held.
  template <typename F>
  auto Inspect(F look) const {
    std::lock_guard hold(lock_);
    return look(sim_);
  }
  // Waits until `ready(plc, reads waiting for data)` holds, for at most `max`.
  bool WaitUntil(const std::function<bool(const PlcSim&, std::size_t)>& ready,
                 std::chrono::milliseconds max);

 private:
  void Receive(std::span<const std::uint8_t> data) override;
  std::vector<std::uint8_t> TakeOutput(std::size_t max) override;
  std::size_t Pending() const override;

  UsbTestbed& testbed_;
  UsbDeviceDescription description_;
  UsbAddress address_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  PlcSim sim_;
  std::vector<std::unique_ptr<EmulatedUsbDevice>> plugs_;
};

}  // namespace plcburn
