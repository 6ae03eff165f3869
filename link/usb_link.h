#pragma once
// The PLC's USB interface as a Link: bulk OUT for writes, bulk IN for reads, on interface 0.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/link.h"
#include "link/usb_boundary.h"

namespace plcburn {

// Shown when the PLC is there but the user may not open it.
inline constexpr char kUsbPermissionReason[] =
    "No permission to open the PLC's USB device: install the udev rules file 60-plcburn.rules "
    "(see README) and re-plug the PLC";

class UsbLink : public Link {
 public:
  // Takes over an open device: detaches a bound kernel driver, claims interface 0 and finds its
  // bulk endpoints. Null (the handle closed, the driver given back) when the device cannot serve.
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
  UsbEndpoints endpoints_;
  bool detached_ = false;  // a kernel driver was detached and is to be given back
  bool open_ = false;
  bool gone_ = false;  // unplugged: nothing more can move
  std::atomic<bool> interrupted_{false};
  CommTimeouts timeouts_ = StepTimeouts(3000);
  std::vector<std::uint8_t> rx_;
  std::vector<std::uint8_t> surplus_;  // bytes a transfer brought beyond the read that asked
};

// OpenUsbLink on the given boundary (the pipe name is empty).
OpenResult OpenUsbLink(std::shared_ptr<UsbBoundary> usb, LinkClock nowMs = {});

}  // namespace plcburn
