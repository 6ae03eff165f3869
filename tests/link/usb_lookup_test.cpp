#include "link/usb_lookup.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/usb_link.h"
#include "tests/link/usb_fake.h"

namespace plcburn {
namespace {

using test::FakeUsb;
using test::FakeUsbDevice;

constexpr int kNone = -1;
const std::string kPlc1 = "usb-1-4 vid_7e3a&pid_0001";
const std::string kPlc2 = "usb-3-1.2 vid_7e3a&pid_0001";
const std::string kMouse = "usb-1-2 vid_046d&pid_c077";
const std::string kUpper = "usb-1-4 VID_7E3A&PID_0001";

struct LookupCase {
  const char* what;
  std::vector<FakeUsbDevice> devices;
  const char* pipe;
  int usedDevice;          // the device the final handle is on, or kNone
  std::string deviceName;  // the name opened, or the last path read when none was
  bool permissionReason;
  bool listFails = false;
  friend void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.what; }
};

class UsbLookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(UsbLookupTest, FindsAndOpensThePlc) {
  const LookupCase& c = GetParam();
  FakeUsb usb;
  usb.devices = c.devices;
  usb.listFails = c.listFails;
  UsbLookup lookup(usb);
  const UsbHandle h = lookup.OpenMyDevPipe(c.pipe);

  EXPECT_EQ(lookup.DeviceName, c.deviceName);
  EXPECT_EQ(usb.releases, usb.listings);
  if (c.usedDevice == kNone) {
    EXPECT_EQ(h, kNoUsbHandle);
    EXPECT_TRUE(usb.openHandles.empty());
  } else {
    EXPECT_EQ(usb.DeviceOf(h), static_cast<std::size_t>(c.usedDevice));
    // The proof open and the real one, nothing else; the proof handle is closed again.
    EXPECT_EQ(usb.opened, std::vector<std::size_t>(2, c.usedDevice));
    EXPECT_EQ(usb.openHandles, std::set<UsbHandle>{h});
  }

  auto fresh = std::make_shared<FakeUsb>();
  fresh->devices = c.devices;
  fresh->listFails = c.listFails;
  const OpenResult r = OpenUsbLink(fresh);
  EXPECT_EQ(r.link != nullptr, c.usedDevice != kNone);
  EXPECT_EQ(r.reason, c.permissionReason ? kUsbPermissionReason : "");
}

const FakeUsbDevice Plc1{kPlc1}, Plc2{kPlc2}, Mouse{kMouse};
const FakeUsbDevice Busy1{kPlc1, {kUsbErrorBusy}}, Denied1{kPlc1, {kUsbErrorAccess}};

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbLookupTest,
    testing::Values(
        LookupCase{"no device", {}, "", kNone, "", false},
        LookupCase{"only other devices", {Mouse}, "", kNone, kMouse, false},
        LookupCase{"one matching", {Mouse, Plc1}, "", 1, kPlc1 + "\\", false},
        LookupCase{"first of two", {Plc1, Plc2}, "", 0, kPlc1 + "\\", false},
        LookupCase{"first fails to open", {Busy1, Plc2}, "", 1, kPlc2 + "\\", false},
        LookupCase{"first lacks permission", {Denied1, Plc2}, "", 1, kPlc2 + "\\", false},
        LookupCase{"marker in upper case only", {{kUpper}}, "", kNone, kUpper, false},
        LookupCase{"unreadable path skipped", {{""}, Plc1}, "", 1, kPlc1 + "\\", false},
        LookupCase{"device set not available", {Plc1}, "", kNone, "", false, true},
        LookupCase{"pipe name appended", {Plc1}, "PIPE00", 0, kPlc1 + "\\PIPE00", false},
        LookupCase{"permission denied", {Denied1}, "", kNone, kPlc1, true},
        LookupCase{"matching one refuses", {Busy1}, "", kNone, kPlc1, false},
        LookupCase{"gone before the real open",
                   {{kPlc1, {kUsbOk, kUsbErrorNoDevice}}},
                   "",
                   kNone,
                   kPlc1 + "\\",
                   false}),
    [](const auto& param) {
      std::string name = param.param.what;
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

}  // namespace
}  // namespace plcburn
