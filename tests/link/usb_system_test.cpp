// Whole burns through the real USB path, libusb's Linux backend included, into PLCs emulated
// with umockdev (see sim/emulated_usb_device.h). Runs under umockdev's preload
// library, which CTest sets.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "burn/start_burn.h"
#include "core/memory_image.h"
#include "core/message_help.h"
#include "link/system_opener.h"
#include "link/usb_lookup.h"
#include "proto/identify_plc.h"
#include "sim/emulated_usb_plc.h"

namespace plcburn {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kCannotOpen[] = "CANNOT open USB Port!!!";
constexpr char kSuccess[] = "Firmware update is SUCCESSFUL!, please REPLUG the USB cable";
constexpr char kFailed[] = "Firmware update is FAILED";
constexpr int kNobody = -1;
constexpr std::size_t kVlImage = 426032;
constexpr std::uint32_t kHangupBlock = 40;

// Whether `check` holds within a few seconds: what another thread makes true is waited for, not
// read once.
bool Eventually(const std::function<bool()>& check) {
  const auto until = Clock::now() + 5s;
  while (!check()) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// What happens to the PLC that burns while the burn runs.
enum class Event {
  None,
  ReplugAtPrompt,     // the operator re-plugs the cable when asked to; a new device number
  UnplugMidTransfer,  // the cable is pulled while the host waits for a block's answer
};

struct PlcSetup {
  UsbDeviceDescription description = {};
  bool nodeUnreadable = false;
};

struct UsbSystemCase {
  const char* name;
  const char* model;
  std::size_t imageLength;
  bool bootLoader;             // the PLCs start in their boot loader
  std::vector<PlcSetup> plcs;  // in enumeration order
  Event event;
  std::string finalText;  // the burn's last message
  int burned;             // the PLC that got the image, or kNobody
  friend void PrintTo(const UsbSystemCase& c, std::ostream* os) { *os << c.name; }
};

UsbDeviceDescription WithIds(std::uint16_t idVendor, std::uint16_t idProduct) {
  UsbDeviceDescription description;
  description.idVendor = idVendor;
  description.idProduct = idProduct;
  return description;
}

// Interface 0 has only a bulk IN endpoint; the pipe is on interface 1, at other addresses.
UsbDeviceDescription PipeOnInterfaceOne() {
  UsbDeviceDescription description;
  description.interfaces = {{{{0x81, kBulk}, {0x85, kInterrupt}}, true},
                            {{{0x02, kBulk}, {0x83, kBulk}}, true}};
  description.pipeOut = 0x02;
  description.pipeIn = 0x83;
  return description;
}

UsbDeviceDescription HeldElsewhere() {
  UsbDeviceDescription description;
  description.heldElsewhere = true;
  return description;
}

UsbDeviceDescription NoBulkPair() {
  UsbDeviceDescription description;
  description.interfaces = {{{{0x81, kInterrupt}, {0x01, kInterrupt}}, false}};
  return description;
}

const std::string kPermissionDenied = std::string(kCannotOpen) + "\n" + kUsbPermissionReason;

std::vector<std::uint8_t> Image(std::size_t n) {
  std::vector<std::uint8_t> image(n);
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>(i * 13 + (i >> 9));
  return image;
}

struct Shown {
  std::string text;
  Clock::time_point at;
};

class ReplugOperator : public Operator {
 public:
  void ShowMessage(std::string_view, std::string_view text, MessageIcon) override {
    // The troubleshooting guide has the message, and the reason under it.
    EXPECT_NE(FindMessageHelp(text), nullptr) << text;
    if (const std::size_t reason = text.find('\n'); reason != std::string_view::npos) {
      EXPECT_TRUE(IsDocumentedOpenFailureReason(text.substr(reason + 1))) << text;
    }
    messages.push_back({std::string(text), Clock::now()});
    if (onMessage) onMessage(text);
  }
  void SetStartEnabled(bool) override {}
  // The re-plug happened while the prompt was open; the pause adds nothing here.
  void WaitMs(std::uint32_t) override {}

  std::vector<Shown> messages;
  std::function<void(std::string_view)> onMessage;
};

class UsbSystemTest : public testing::TestWithParam<UsbSystemCase> {};

TEST_P(UsbSystemTest, Burns) {
  const UsbSystemCase& c = GetParam();
  UsbTestbed testbed;
  ASSERT_TRUE(testbed.Preloaded())
      << "needs umockdev's preload library (LD_PRELOAD=libumockdev-preload.so.0), as CTest runs it";
  const std::size_t row = *FindModel(c.model);
  std::vector<std::unique_ptr<EmulatedUsbPlc>> plcs;
  int nextDevnum = 2;
  for (std::size_t i = 0; i < c.plcs.size(); ++i) {
    SimOptions options;
    options.startInBootLoader = c.bootLoader;
    if (c.event == Event::UnplugMidTransfer)
      options.faults.push_back({FaultKind::Hangup, kHangupBlock, 0});
    // libusb lists the devices it found last first: the first of the table on the last port.
    const int port = int(c.plcs.size() - i);
    plcs.push_back(std::make_unique<EmulatedUsbPlc>(testbed, row, options, c.plcs[i].description,
                                                    UsbAddress{1, port, nextDevnum++}));
    if (c.plcs[i].nodeUnreadable) plcs.back()->Device().SetNodeMode(0);
  }
  const bool denyFileAccess =
      std::any_of(c.plcs.begin(), c.plcs.end(), [](const PlcSetup& p) { return p.nodeUnreadable; });

  const std::vector<std::uint8_t> bytes = Image(c.imageLength);
  MemoryImage image(bytes);
  BurnState state;
  Selection selection(row);
  selection.SetComPort("USB");
  ReplugOperator ui;
  SystemLinkOpener opener;
  BurnSession session{state, selection, ui, opener, image};
  EmulatedUsbPlc* target = c.burned == kNobody ? nullptr : plcs[std::size_t(c.burned)].get();
  if (c.event == Event::ReplugAtPrompt) {
    ui.onMessage = [&](std::string_view text) {
      if (text != selection.Model().reconnectPrompt) return;
      target->Unplug();
      target->Plug(nextDevnum++);
    };
  }

  std::thread burn([&] {
    std::optional<FileAccessOverrideDropped> denied;
    if (denyFileAccess) denied.emplace();
    StartBurn(session);
  });
  std::optional<Clock::time_point> unplugged;
  if (c.event == Event::UnplugMidTransfer) {
    const bool waiting = target->WaitUntil(
        [](const PlcSim& plc, std::size_t reads) { return plc.HungUp() && reads > 0; }, 15s);
    EXPECT_TRUE(waiting) << "the host never waited on the silent PLC";
    unplugged = Clock::now();
    target->Unplug();
  }
  burn.join();

  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back().text, c.finalText);
  if (c.event == Event::ReplugAtPrompt) {
    EXPECT_EQ(ui.messages.front().text, selection.Model().reconnectPrompt);
    EXPECT_EQ(target->Plugs().size(), 2u);
  }
  if (unplugged) {
    EXPECT_LT(ui.messages.back().at - *unplugged, 1s) << "the unplug was noticed late";
  }
  for (std::size_t i = 0; i < plcs.size(); ++i) {
    const EmulatedUsbPlc& plc = *plcs[i];
    const bool burned = int(i) == c.burned;
    const UsbDeviceDescription& description = c.plcs[i].description;
    // The lookup tries a device with the PLC's ids at most once, and none after the one it uses.
    const bool mayTry = description.idVendor == 0x7e3a && description.idProduct == 0x0001 &&
                        (c.burned == kNobody || int(i) < c.burned);
    for (const auto& plug : plc.Plugs()) {
      // The one used is opened once; after a re-plug, under its new device number.
      const std::string where = "PLC " + std::to_string(i) + " at device number " +
                                std::to_string(plug->Address().devnum);
      if (burned)
        EXPECT_EQ(plug->Opens(), 1) << where;
      else
        EXPECT_LE(plug->Opens(), mayTry ? 1 : 0) << where;
      // The emulation hears of the closed handle on umockdev's own thread, some time later.
      EXPECT_TRUE(Eventually([&] { return !plug->AnyInterfaceClaimed(); }))
          << where << ": an interface is still claimed";
    }
    if (c.event != Event::UnplugMidTransfer) {
      EXPECT_TRUE(Eventually([&] { return plc.Device().KernelDriversBound(); })) << "PLC " << i;
    }
    plc.Inspect([&](const PlcSim& sim) {
      if (!burned || c.event == Event::UnplugMidTransfer) {
        EXPECT_FALSE(sim.TransferComplete()) << "PLC " << i;
        return;
      }
      const std::size_t sent = bytes.size() - sim.Model().unsentTail;
      const std::vector<std::uint8_t>& got = sim.ReceivedImage();
      ASSERT_GE(got.size(), sent);
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + long(sent), got.begin()))
          << "the image arrived changed";
      EXPECT_TRUE(std::all_of(got.begin() + long(sent), got.end(), [](std::uint8_t b) {
        return b == 0x1A;
      })) << "padding";
      EXPECT_TRUE(sim.TransferComplete());
    });
  }
}

const PlcSetup kPlc{};

// A burn of one PLC running its application, which the event befalls.
UsbSystemCase Burn(const char* name, const char* model, std::size_t imageLength, Event event,
                   std::string finalText) {
  const bool bootLoader = event == Event::UnplugMidTransfer;
  return {name, model, imageLength, bootLoader, {kPlc}, event, std::move(finalText), 0};
}

// A short burn of whichever of these devices the lookup picks, each in its boot loader.
UsbSystemCase Lookup(const char* name, std::vector<PlcSetup> plcs, std::string finalText,
                     int burned) {
  return {name, "VL", 4000, true, std::move(plcs), Event::None, std::move(finalText), burned};
}

const PlcSetup kOtherIds[] = {
    {WithIds(0x7e3a, 0x0002)}, {WithIds(0x7e3b, 0x0001)}, {WithIds(0x0001, 0x7e3a)}};
const PlcSetup kUnreadable{{}, true};

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbSystemTest,
    testing::Values(
        Burn("burn_vl_full_image_with_replug", "VL", kVlImage, Event::ReplugAtPrompt, kSuccess),
        Burn("burn_vl_k_with_replug", "VL-K", 40000, Event::ReplugAtPrompt, kSuccess),
        Burn("burn_zn500_with_replug", "ZN500", 40000, Event::ReplugAtPrompt, kSuccess),
        Burn("unplug_mid_transfer_fails_within_a_second", "VL", 40000, Event::UnplugMidTransfer,
             kFailed),
        Lookup("other_vid_pid_ignored", {kOtherIds[0], kOtherIds[1], kOtherIds[2], kPlc}, kSuccess,
               3),
        Lookup("only_other_vid_pid_cannot_open", {kOtherIds[0]}, kCannotOpen, kNobody),
        Lookup("no_device_cannot_open", {}, kCannotOpen, kNobody),
        Lookup("two_plcs_first_wins", {kPlc, kPlc}, kSuccess, 0),
        Lookup("two_plcs_first_unreadable_second_wins", {kUnreadable, kPlc}, kSuccess, 1),
        Lookup("two_plcs_first_held_elsewhere_second_wins", {{HeldElsewhere()}, kPlc}, kSuccess, 1),
        Lookup("two_plcs_first_without_bulk_pair_second_wins", {{NoBulkPair()}, kPlc}, kSuccess, 1),
        Lookup("held_elsewhere_cannot_open_without_hint", {{HeldElsewhere()}}, kCannotOpen,
               kNobody),
        Lookup("node_unreadable_cannot_open_with_permission_hint", {kUnreadable}, kPermissionDenied,
               kNobody),
        Lookup("endpoints_on_interface_1", {{PipeOnInterfaceOne()}}, kSuccess, 0)),
    [](const auto& param) { return std::string(param.param.name); });

// Identification through libusb's backend, in both firmwares: read-only, and the interface is
// given back.
TEST(UsbSystem, IdentifiesThePlcWithoutChangingIt) {
  UsbTestbed testbed;
  ASSERT_TRUE(testbed.Preloaded());
  const struct {
    const char* model;
    Firmware firmware;
    unsigned version;
  } cases[] = {{"VL-K", Firmware::Application, 0x33}, {"ZN500", Firmware::BootLoader, 0x0207}};
  int port = 1;  // each PLC on a port of its own: umockdev keeps a removed device's place
  for (const auto& c : cases) {
    SimOptions options;
    options.startInBootLoader = c.firmware == Firmware::BootLoader;
    options.appVersion = 0x33;
    options.bootVersion = 0x0207;
    EmulatedUsbPlc plc(testbed, *FindModel(c.model), options, {}, UsbAddress{1, port, port + 1});
    ++port;
    SystemLinkOpener opener;
    const PlcIdentity found = IdentifyPort(opener, "USB");
    ASSERT_TRUE(found.Answered()) << c.model << ": " << found.problem;
    EXPECT_EQ(found.firmware, c.firmware) << c.model;
    EXPECT_EQ(CandidateNames(found.candidates), c.model);
    EXPECT_EQ(found.bootVersion ? *found.bootVersion : *found.updateVersion, c.version) << c.model;
    EXPECT_FALSE(plc.Device().AnyInterfaceClaimed()) << c.model;
    plc.Inspect([&](const PlcSim& sim) {
      const SimCounters& got = sim.Counters();
      EXPECT_EQ(got.eraseRequests + got.bootErases + got.updates + got.handovers, 0u) << c.model;
    });
  }
}

}  // namespace
}  // namespace plcburn
