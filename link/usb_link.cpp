#include "link/usb_link.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace plcburn {

namespace {

// Longest single transfer, so that Interrupt from another thread is seen within about this.
constexpr std::uint64_t kSliceMs = 100;
// Longest single transfer in bytes; keeps lengths well inside int.
constexpr std::size_t kMaxTransfer = 1 << 16;
constexpr std::size_t kDefaultMaxPacket = 64;

std::uint64_t TotalBound(std::uint32_t multiplier, std::uint32_t constant, std::size_t n) {
  return static_cast<std::uint64_t>(multiplier) * n + constant;
}

}  // namespace

UsbLink::UsbLink(std::shared_ptr<UsbBoundary> usb, UsbHandle handle, LinkClock nowMs)
    : usb_(std::move(usb)), handle_(handle), nowMs_(nowMs ? std::move(nowMs) : SteadyClockMs) {}

std::unique_ptr<UsbLink> UsbLink::Attach(std::shared_ptr<UsbBoundary> usb, UsbHandle handle,
                                         LinkClock nowMs) {
  std::unique_ptr<UsbLink> link(new UsbLink(std::move(usb), handle, std::move(nowMs)));
  UsbBoundary& b = *link->usb_;
  if (b.FindBulkInterface(handle, &link->bulk_) != kUsbOk ||
      b.ClaimInterface(handle, link->bulk_.number) != kUsbOk) {
    b.Close(handle);
    return nullptr;
  }
  link->open_ = true;
  if (link->bulk_.inMaxPacket == 0) link->bulk_.inMaxPacket = kDefaultMaxPacket;
  return link;
}

UsbLink::~UsbLink() {
  Close();
}

bool UsbLink::Usable() const {
  return open_ && !gone_;
}

unsigned UsbLink::SliceMs(std::uint64_t deadline) const {
  const std::uint64_t now = nowMs_();
  // Never 0: libusb takes that as no limit at all.
  const std::uint64_t left = deadline > now ? deadline - now : 1;
  return static_cast<unsigned>(std::min(left, kSliceMs));
}

std::size_t UsbLink::Write(const std::uint8_t* data, std::size_t n) {
  if (!Usable() || n == 0) return 0;
  const std::uint64_t deadline = nowMs_() + TotalBound(timeouts_.WriteTotalTimeoutMultiplier,
                                                       timeouts_.WriteTotalTimeoutConstant, n);
  std::size_t sent = 0;
  while (sent < n && !interrupted_) {
    const int length = static_cast<int>(std::min(n - sent, kMaxTransfer));
    int moved = 0;
    // libusb does not write to an OUT buffer; it only takes a non-const pointer.
    const int rc =
        usb_->BulkTransfer(handle_, bulk_.bulkOut, const_cast<std::uint8_t*>(data + sent), length,
                           &moved, SliceMs(deadline));
    sent += static_cast<std::size_t>(std::clamp(moved, 0, length));
    if (rc == kUsbErrorNoDevice) gone_ = true;
    if (rc != kUsbOk && rc != kUsbErrorTimeout) break;
    if (nowMs_() >= deadline) break;
  }
  return sent;
}

std::size_t UsbLink::Read(std::uint8_t* buf, std::size_t n) {
  if (!Usable() || n == 0) return 0;
  std::size_t got = std::min(n, surplus_.size());
  std::copy_n(surplus_.begin(), got, buf);
  surplus_.erase(surplus_.begin(), surplus_.begin() + static_cast<std::ptrdiff_t>(got));
  if (got == n) return got;

  const std::uint64_t deadline = nowMs_() + TotalBound(timeouts_.ReadTotalTimeoutMultiplier,
                                                       timeouts_.ReadTotalTimeoutConstant, n);
  const std::size_t packet = bulk_.inMaxPacket;
  while (got < n && !interrupted_) {
    // Whole packets: a device sends a full packet whatever was asked, and a shorter buffer
    // would lose it to an overflow.
    const std::size_t want = std::min(n - got, kMaxTransfer);
    rx_.resize((want + packet - 1) / packet * packet);
    int moved = 0;
    const int rc = usb_->BulkTransfer(handle_, bulk_.bulkIn, rx_.data(),
                                      static_cast<int>(rx_.size()), &moved, SliceMs(deadline));
    const std::size_t came = static_cast<std::size_t>(std::clamp(moved, 0, int(rx_.size())));
    const std::size_t used = std::min(came, n - got);
    std::memcpy(buf + got, rx_.data(), used);
    got += used;
    surplus_.insert(surplus_.end(), rx_.begin() + static_cast<std::ptrdiff_t>(used),
                    rx_.begin() + static_cast<std::ptrdiff_t>(came));
    if (rc == kUsbErrorNoDevice) gone_ = true;
    if (rc != kUsbOk && rc != kUsbErrorTimeout) break;
    if (nowMs_() >= deadline) break;
  }
  if (gone_) surplus_.clear();
  return got;
}

bool UsbLink::SetTimeouts(const CommTimeouts& timeouts) {
  timeouts_ = timeouts;
  return true;
}

// A USB link has no line: the device runs at whatever speed it likes.
bool UsbLink::ApplyLineProfile(const LineProfile&) {
  return true;
}

void UsbLink::Close() {
  if (!open_) return;
  open_ = false;
  usb_->ReleaseInterface(handle_, bulk_.number);
  usb_->Close(handle_);
  surplus_.clear();
}

void UsbLink::Interrupt() {
  interrupted_ = true;
}

}  // namespace plcburn
