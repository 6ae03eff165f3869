#include "link/win32_usb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "link/usb_place.h"

namespace plcburn {
namespace {

// A table of device interfaces behind the Setup API calls.
struct Interface {
  std::string path;
  bool opens = true;
  DWORD enumError = 0;  // non-zero: the interface cannot be had, for this reason
  bool detailFails = false;
  UsbDeviceFacts facts = {};
};

class FakeSetupApi : public SetupApi {
 public:
  std::vector<Interface> interfaces;
  bool noSet = false;
  int sets = 0, destroyed = 0, detailReads = 0;
  std::vector<std::pair<std::string, DWORD>> opened;  // name, flags
  int closed = 0;

  HDEVINFO GetClassDevs(const GUID* guid, DWORD flags) override {
    EXPECT_EQ(std::memcmp(guid, &USB_DRIVER_GUID, sizeof(GUID)), 0);
    EXPECT_EQ(flags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (noSet) return INVALID_HANDLE_VALUE;
    ++sets;
    return reinterpret_cast<HDEVINFO>(0x5E7);
  }
  bool EnumDeviceInterfaces(HDEVINFO, const GUID*, DWORD index, SP_DEVICE_INTERFACE_DATA& data,
                            DWORD* error) override {
    if (index >= interfaces.size()) {
      *error = ERROR_NO_MORE_ITEMS;
      return false;
    }
    if (interfaces[index].enumError != 0) {
      *error = interfaces[index].enumError;
      return false;
    }
    data.Reserved = index;
    return true;
  }
  bool GetDeviceInterfaceDetail(HDEVINFO, SP_DEVICE_INTERFACE_DATA& data,
                                SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                DWORD* required) override {
    const Interface& i = interfaces[data.Reserved];
    const DWORD need = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + i.path.size() + 1;
    if (detail == nullptr) {
      *required = need;
      return false;
    }
    ++detailReads;
    EXPECT_EQ(detail->cbSize, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    if (i.detailFails || size < need) return false;
    std::memcpy(detail->DevicePath, i.path.c_str(), i.path.size() + 1);
    return true;
  }
  void DestroyDeviceInfoList(HDEVINFO) override { ++destroyed; }
  UsbDeviceFacts DeviceFacts(HDEVINFO, SP_DEVICE_INTERFACE_DATA& data) override {
    return interfaces[data.Reserved].facts;
  }
  HANDLE Open(const char* path, DWORD flags) override {
    opened.emplace_back(path, flags);
    const std::string device = std::string(path).substr(0, std::string(path).rfind('\\'));
    for (std::size_t k = 0; k < interfaces.size(); ++k) {
      const bool named = interfaces[k].path == path || interfaces[k].path == device;
      if (named && interfaces[k].opens) return reinterpret_cast<HANDLE>(0x100 + k);
    }
    return INVALID_HANDLE_VALUE;
  }
  void Close(HANDLE) override { ++closed; }
};

constexpr char kPlc[] =
    "\\\\?\\usb#vid_7e3a&pid_0001#5&1a2b&0&2#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr char kPlc2[] =
    "\\\\?\\usb#vid_7e3a&pid_0001#5&9f9f&0&4#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr char kMouse[] =
    "\\\\?\\usb#vid_046d&pid_c077#5&77&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr char kUpper[] =
    "\\\\?\\usb#VID_7E3A&PID_0001#5&1&0&3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

TEST(Win32UsbLookup, OpensTheFirstMatchingInterfaceThatOpens) {
  const struct {
    const char* what;
    std::vector<Interface> interfaces;
    const char* chosen;  // nullptr: no device
    int detailReads;
  } cases[] = {
      {"none present", {}, nullptr, 0},
      {"only other devices", {{kMouse}}, nullptr, 1},
      {"marker in upper case", {{kUpper}}, nullptr, 1},
      {"after another device", {{kMouse}, {kPlc}}, kPlc, 2},
      {"first of two wins", {{kPlc}, {kPlc2}}, kPlc, 1},
      {"first does not open", {{kPlc, false}, {kPlc2}}, kPlc2, 2},
      {"unreadable detail", {{kPlc, true, 0, true}, {kPlc2}}, kPlc2, 2},
      {"an interface that cannot be had", {{kMouse, true, ERROR_INVALID_DATA}, {kPlc}}, kPlc, 1},
  };
  for (const auto& c : cases) {
    FakeSetupApi api;
    api.interfaces = c.interfaces;
    Win32UsbLookup lookup(api);
    const HANDLE h = lookup.OpenMyDevPipe("");
    EXPECT_EQ(api.detailReads, c.detailReads) << c.what;
    EXPECT_EQ(api.destroyed, api.sets) << c.what;
    if (c.chosen == nullptr) {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.what;
      EXPECT_EQ(api.closed, 0) << c.what;
      continue;
    }
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.what;
    // Proven by an open that is closed at once, then opened as the path and "\".
    ASSERT_GE(api.opened.size(), 2u) << c.what;
    EXPECT_EQ(api.opened[api.opened.size() - 2], std::make_pair(std::string(c.chosen), DWORD{0}))
        << c.what;
    EXPECT_EQ(api.opened.back().first, std::string(c.chosen) + "\\") << c.what;
    EXPECT_EQ(api.closed, 1) << c.what;
    EXPECT_STREQ(lookup.DeviceName, (std::string(c.chosen) + "\\").c_str()) << c.what;
  }
}

TEST(Win32UsbLookup, AppendsThePipeName) {
  FakeSetupApi api;
  api.interfaces = {{kPlc}};
  Win32UsbLookup lookup(api);
  EXPECT_NE(lookup.OpenMyDevPipe("PIPE00"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(api.opened.back().first, std::string(kPlc) + "\\PIPE00");
}

TEST(Win32UsbLookup, NoDeviceSetFindsNothing) {
  FakeSetupApi api;
  api.noSet = true;
  api.interfaces = {{kPlc}};
  Win32UsbLookup lookup(api);
  EXPECT_EQ(lookup.OpenMyDevPipe(""), INVALID_HANDLE_VALUE);
  EXPECT_EQ(api.destroyed, 0);
  EXPECT_TRUE(api.opened.empty());
}

TEST(Win32UsbLookup, AnOverlongNameIsNotOpened) {
  FakeSetupApi api;
  api.interfaces = {{std::string(kPlc) + std::string(220, 'x')}};
  Win32UsbLookup lookup(api);
  EXPECT_EQ(lookup.OpenMyDevPipe("PIPE00"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(api.opened.size(), 1u);  // the proof open only
}

// Properties as Windows 10 reported them for devices on a root hub, an external hub and a
// controller whose driver writes no hub and port.
TEST(UsbPlaceName, NamesTheHubAndPortOrElseTheLocationPath) {
  const struct {
    const char* information;
    std::vector<std::string> paths;
    std::optional<std::string> place;
  } cases[] = {
      {"Port_#0002.Hub_#0003",
       {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)", "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)"},
       "usb:Port_#0002.Hub_#0003"},
      {"Port_#0011.Hub_#0001", {}, "usb:Port_#0011.Hub_#0001"},
      {"0000.0014.0000.004.001.000.000.000.000",
       {"ACPI(_SB_)#ACPI(PCI0)", "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(1)"},
       "usb:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(1)"},
      {"",
       {"PCIROOT(0)#PCI(0801)#PCI(0003)#USBROOT(0)#USB(1)"},
       "usb:PCIROOT(0)#PCI(0801)#PCI(0003)#USBROOT(0)#USB(1)"},
      {"Port_#0002", {}, std::nullopt},
      {"Port_#.Hub_#0003", {}, std::nullopt},
      {"Port_#0002.Hub_#0003 ", {}, std::nullopt},
      {"PLC USB", {"ACPI(_SB_)#ACPI(PCI0)"}, std::nullopt},
      {"", {}, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UsbPlaceName(c.information, c.paths), c.place) << c.information;
}

UsbDeviceFacts At(const char* information, const char* arrival = "") {
  return {information, {}, arrival};
}

TEST(Win32UsbLookup, ListsEachPlcByItsPlaceAndOpensOnlyThePlcThere) {
  FakeSetupApi api;
  api.interfaces = {{kMouse, true, 0, false, At("Port_#0001.Hub_#0001")},
                    {kPlc, true, 0, false, At("Port_#0002.Hub_#0003", "133")},
                    {kPlc2, true, 0, false, At("Port_#0004.Hub_#0003")},
                    {kUpper, true, 0, false, At("Port_#0003.Hub_#0003")}};
  Win32UsbLookup lookup(api);
  const std::vector<UsbPlc> plcs = lookup.ListPlcs();
  ASSERT_EQ(plcs.size(), 2u);
  EXPECT_EQ(plcs[0].place, "usb:Port_#0002.Hub_#0003");
  EXPECT_EQ(plcs[0].path, kPlc);
  // A plug is told from the next by its arrival, where the system keeps it.
  EXPECT_EQ(plcs[0].instance, std::string(kPlc) + "@133");
  EXPECT_EQ(plcs[1].instance, kPlc2);
  EXPECT_EQ(api.destroyed, api.sets);

  const struct {
    const char* place;
    const char* opened;  // nullptr: nothing
  } opens[] = {{"usb:Port_#0004.Hub_#0003", kPlc2},
               {"usb:Port_#0002.Hub_#0003", kPlc},
               {"usb:Port_#0001.Hub_#0001", nullptr},
               {"usb:Port_#0003.Hub_#0003", nullptr}};
  for (const auto& o : opens) {
    api.opened.clear();
    const HANDLE h = lookup.OpenAt(o.place);
    if (o.opened == nullptr) {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE) << o.place;
      EXPECT_TRUE(api.opened.empty()) << o.place;
      continue;
    }
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << o.place;
    ASSERT_EQ(api.opened.size(), 1u) << o.place;
    EXPECT_EQ(api.opened[0], std::make_pair(std::string(o.opened) + "\\",
                                            static_cast<DWORD>(FILE_FLAG_OVERLAPPED)))
        << o.place;
  }
  // A burn at a place that has emptied says so.
  const OpenResult gone = OpenUsbLink(api, "usb:Port_#0009.Hub_#0003");
  EXPECT_EQ(gone.link, nullptr);
  EXPECT_EQ(gone.reason, "no PLC at usb:Port_#0009.Hub_#0003 any more");
}

}  // namespace
}  // namespace plcburn
