#pragma once
// The PLC's USB interface as a Link: bulk OUT for writes, bulk IN for reads, on the first
// interface that has both.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/link.h"
#include "link/usb_boundary.h"

namespace plcburn {

class UsbLink : public Link {
 public:
  // Takes over an open device: finds the interface with a bulk endpoint pair and claims it (from
  // a bound kernel driver too). Null, with the handle closed, when the device cannot serve.
  // Without a clock, the steady clock is used.
  static std::unique_ptr<UsbLink> Attach(std::shared_ptr<UsbBoundary> usb, UsbHandle handle,
                                         LinkClock nowMs = {});
  ~UsbLink() override;

  std::size_t Write(const std::uint8_t* data, std::size_t n) override;
  std::size_t Read(std::uint8_t* buf, std::size_t n) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  bool ApplyLineProfile(const LineProfile& profile) override;
  void Close() override;
  void Interrupt() override;

 private:
  UsbLink(std::shared_ptr<UsbBoundary> usb, UsbHandle handle, LinkClock nowMs);
  unsigned SliceMs(std::uint64_t deadline) const;
  bool Usable() const;

  std::shared_ptr<UsbBoundary> usb_;
  UsbHandle handle_;
  LinkClock nowMs_;
  UsbBulkInterface bulk_;
  bool open_ = false;
  bool gone_ = false;  // unplugged: nothing more can move
  std::atomic<bool> interrupted_{false};
  CommTimeouts timeouts_ = StepTimeouts(3000);
  std::vector<std::uint8_t> rx_;
  std::vector<std::uint8_t> surplus_;  // bytes a transfer brought beyond the read that asked
};

}  // namespace plcburn
