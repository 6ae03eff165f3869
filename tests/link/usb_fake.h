#pragma once
// A scripted USB bus for the link's unit tests. Time passes on a VirtualClock: a transfer that
// times out advances it by its time-out, one that moves data costs nothing.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <set>
#include <thread>
#include <vector>

#include "link/usb_boundary.h"
#include "sim/virtual_clock.h"

namespace plcburn::test {

struct FakeUsbDevice {
  std::uint16_t idVendor = 0x7e3a;
  std::uint16_t idProduct = 0x0001;
  // Results of successive opens; the last one repeats.
  std::vector<int> opens = {kUsbOk};
};

// One bulk transfer as the device answers it. For IN, `data` is what the device sends (more
// than the buffer holds is an overflow, as on a real bus); for OUT, `accept` bytes are taken.
struct FakeTransfer {
  std::vector<std::uint8_t> data;
  int rc = kUsbOk;
  int accept = 0;
};

class FakeUsb : public UsbBoundary {
 public:
  std::vector<FakeUsbDevice> devices;
  bool listFails = false;
  std::uint16_t maxPacket = 64;
  std::deque<FakeTransfer> in, out;  // an empty script times out (IN) or takes all (OUT)
  bool realTime = false;             // an idle IN transfer also sleeps through its time-out

  VirtualClock clock;
  int listings = 0, releases = 0;
  std::set<UsbHandle> openHandles;
  std::vector<std::size_t> opened;  // device index of each successful open, in order
  bool claimed = false;
  std::vector<std::uint8_t> written;
  int transfers = 0;
  unsigned longestTimeout = 0;
  std::vector<int> inLengths;

  std::optional<std::vector<UsbDeviceEntry>> ListDevices() override {
    if (listFails) return std::nullopt;
    ++listings;
    std::vector<UsbDeviceEntry> entries;
    for (std::size_t i = 0; i < devices.size(); ++i)
      entries.push_back({devices[i].idVendor, devices[i].idProduct, i + 1});
    return entries;
  }
  void ReleaseDevices() override { ++releases; }

  int Open(UsbDeviceId id, UsbHandle* handle) override {
    std::vector<int>& results = devices.at(id - 1).opens;
    const int rc = results.front();
    if (results.size() > 1) results.erase(results.begin());
    *handle = kNoUsbHandle;
    if (rc != kUsbOk) return rc;
    *handle = (id << 8) | ++serial_;
    openHandles.insert(*handle);
    opened.push_back(id - 1);
    return kUsbOk;
  }
  void Close(UsbHandle h) override { openHandles.erase(h); }

  int FindBulkInterface(UsbHandle, UsbBulkInterface* found) override {
    *found = {0, 0x01, 0x81, maxPacket};
    return kUsbOk;
  }
  int ClaimInterface(UsbHandle, int) override { return claimed = true, kUsbOk; }
  int ReleaseInterface(UsbHandle, int) override { return claimed = false, kUsbOk; }

  int BulkTransfer(UsbHandle, std::uint8_t endpoint, std::uint8_t* data, int length,
                   int* transferred, unsigned timeoutMs) override {
    ++transfers;
    longestTimeout = std::max(longestTimeout, timeoutMs);
    *transferred = 0;
    const bool isIn = (endpoint & 0x80) != 0;
    if (isIn) inLengths.push_back(length);
    std::deque<FakeTransfer>& script = isIn ? in : out;
    if (script.empty()) {
      if (isIn && realTime) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      if (isIn) return clock.Advance(timeoutMs), kUsbErrorTimeout;
      written.insert(written.end(), data, data + length);
      return *transferred = length, kUsbOk;
    }
    FakeTransfer t = script.front();
    script.pop_front();
    if (t.rc == kUsbErrorTimeout) clock.Advance(timeoutMs);
    if (isIn) {
      if (static_cast<int>(t.data.size()) > length) return kUsbErrorOverflow;
      if (!t.data.empty()) std::memcpy(data, t.data.data(), t.data.size());
      *transferred = static_cast<int>(t.data.size());
    } else {
      *transferred = std::min(t.accept, length);
      written.insert(written.end(), data, data + *transferred);
    }
    return t.rc;
  }

 private:
  UsbHandle serial_ = 0;
};

}  // namespace plcburn::test
