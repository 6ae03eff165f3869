// A station on the "USB" slot with the system's own watch and opener, libusb's Linux backend and
// its hotplug events included, into PLCs emulated with umockdev (under its preload library, which
// CTest sets). Each PLC is named by its port; a re-plug is answered by the cable itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "burn/station.h"
#include "link/system_opener.h"
#include "sim/emulated_usb_plc.h"

namespace plcburn {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kLong = 30s;  // bound of a wait for what must come
constexpr char kSuccess[] = "Firmware update is SUCCESSFUL!, please REPLUG the USB cable";
constexpr char kFailed[] = "Firmware update is FAILED";

// The system's watch, and what the station last saw through it. The emulation's "add" uevent
// goes out before its node can be opened, where the kernel and udev have the node ready first:
// a device is shown only once the test has finished plugging it.
class SeenWatch : public SlotWatch {
 public:
  explicit SeenWatch(std::unique_ptr<SlotWatch> inner) : inner_(std::move(inner)) {}
  SlotLook Look() override {
    SlotLook look = inner_->Look();
    std::lock_guard lock(mutex_);
    std::erase_if(look.devices, [&](const SlotDevice& d) { return !ready_.contains(d.port); });
    seen_.clear();
    for (const SlotDevice& d : look.devices) seen_.push_back(d.port);
    looked_ = true;
    wake_.notify_all();
    return look;
  }
  void Ready(const std::string& port, bool ready) {
    {
      std::lock_guard lock(mutex_);
      if (ready)
        ready_.insert(port);
      else
        ready_.erase(port);
    }
    if (ready) inner_->Wake();
  }
  void WaitForChange(std::chrono::milliseconds timeout) override { inner_->WaitForChange(timeout); }
  void Wake() override { inner_->Wake(); }

  // Until the station has looked once: a PLC plugged before would count as there at its start.
  bool WaitLooked() {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, kLong, [&] { return looked_; });
  }
  // Until the station has looked and `port` was (or was not) there.
  bool WaitSeen(const std::string& port, bool there) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, kLong, [&] {
      return looked_ && (std::find(seen_.begin(), seen_.end(), port) != seen_.end()) == there;
    });
  }

 private:
  std::unique_ptr<SlotWatch> inner_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::string> seen_;
  std::set<std::string> ready_;
  bool looked_ = false;
};

struct Event {
  std::string device;
  SlotState state;
  std::string note;
  Clock::time_point at;
};

class SeenView : public StationView {
 public:
  void Changed(const DeviceLabel& who, SlotState state, std::string_view note) override {
    std::lock_guard lock(mutex_);
    events.push_back({who.port, state, std::string(note), Clock::now()});
    last_[who.port] = state;
    int busy = 0;
    for (const auto& [d, s] : last_) busy += s == SlotState::Burning || s == SlotState::Replug;
    mostAtOnce = std::max(mostAtOnce, busy);
    wake_.notify_all();
  }
  void Message(const DeviceLabel&, std::string_view, std::string_view) override {}
  void Prompt(const DeviceLabel& who, const ReconnectPrompt&) override {
    if (onPrompt) onPrompt(who.port);
  }
  void Result(const DeviceLabel&, const BurnRecord&) override {}

  // Until `device` is in `state` with a note that begins with `note`.
  bool WaitFor(const std::string& device, SlotState state, const std::string& note = "") {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, kLong, [&] { return Find(device, state, note) != nullptr; });
  }
  const Event* Find(const std::string& device, SlotState state, const std::string& note) const {
    for (const Event& e : events)
      if (e.device == device && e.state == state && e.note.starts_with(note)) return &e;
    return nullptr;
  }
  // Burns begun for `device`.
  int Starts(const std::string& device) {
    std::lock_guard lock(mutex_);
    return int(std::count_if(events.begin(), events.end(), [&](const Event& e) {
      return e.device == device && e.state == SlotState::Burning && e.note.empty();
    }));
  }
  // What it showed, for a failure's message.
  std::string Shown() {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const Event& e : events)
      text += e.device + ": " + std::string(SlotStateName(e.state)) + " " + e.note + "\n";
    return text;
  }
  // The most burns running at once so far.
  int MostAtOnce() {
    std::lock_guard lock(mutex_);
    return mostAtOnce;
  }

  std::function<void(const std::string&)> onPrompt;
  std::vector<Event> events;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, SlotState> last_;
  int mostAtOnce = 0;
};

std::vector<std::uint8_t> Image(std::size_t n) {
  std::vector<std::uint8_t> image(n);
  for (std::size_t i = 0; i < n; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  return image;
}

// The station, its view and the PLCs of one row.
struct Bench {
  Bench(UsbTestbed& bed, int first) : testbed(bed), firstPort(first), nextDevnum(2 + 3 * first) {}
  UsbTestbed& testbed;
  int firstPort;  // the row's ports from here: a removed device's record keeps its place
  std::map<int, std::unique_ptr<EmulatedUsbPlc>> plcs;  // by the row's port number
  std::atomic<int> nextDevnum;                          // nor does its device number
  SeenWatch* watch = nullptr;
  SeenView view;
  std::mutex handsMutex;
  std::vector<std::thread> hands;  // re-plugging, each a PLC

  std::string Port(int port) const { return "usb:1-" + std::to_string(firstPort + port); }
  EmulatedUsbPlc& Plug(int port, bool bootLoader = false, std::vector<SimFault> faults = {}) {
    SimOptions options;
    options.startInBootLoader = bootLoader;
    options.faults = std::move(faults);
    plcs[port] =
        std::make_unique<EmulatedUsbPlc>(testbed, *FindModel("VL"), options, UsbDeviceDescription{},
                                         UsbAddress{1, firstPort + port, nextDevnum++});
    watch->Ready(Port(port), true);
    return *plcs[port];
  }
  void Unplug(int port) {
    watch->Ready(Port(port), false);
    plcs.at(port)->Unplug();
  }
  // As a hand does it: out, seen gone by the station, and back in; or so quickly that the
  // station does not look in between.
  void Replug(int port) {
    Unplug(port);
    if (!quickHands) {
      EXPECT_TRUE(watch->WaitSeen(Port(port), false));
    }
    plcs.at(port)->Plug(nextDevnum++);
    watch->Ready(Port(port), true);
  }
  bool quickHands = false;
  bool Burned(int port, std::size_t length) {
    return plcs.at(port)->Inspect([&](const PlcSim& sim) {
      return sim.TransferComplete() && sim.ReceivedImage().size() >= length;
    });
  }
};

TEST(StationUsb, BurnsEachPlcPluggedIntoAPort) {
  const std::size_t length = 40000;
  const struct {
    const char* what;
    std::function<void(Bench&)> run;
  } cases[] = {
      {"plugged, burned, re-plugged when asked, unplugged; the next one burned",
       [&](Bench& b) {
         b.Plug(1);
         ASSERT_TRUE(b.view.WaitFor(b.Port(1), SlotState::Ok, kSuccess)) << b.view.Shown();
         EXPECT_TRUE(b.Burned(1, length));
         EXPECT_EQ(b.plcs[1]->Plugs().size(), 2u);
         b.Unplug(1);
         ASSERT_TRUE(b.view.WaitFor(b.Port(1), SlotState::Empty)) << b.view.Shown();
         b.Plug(2);
         ASSERT_TRUE(b.view.WaitFor(b.Port(2), SlotState::Ok, kSuccess)) << b.view.Shown();
         EXPECT_TRUE(b.Burned(2, length));
       }},
      {"two PLCs in two ports burn at once; left plugged, neither is burned again",
       [&](Bench& b) {
         b.Plug(1);
         b.Plug(2);
         ASSERT_TRUE(b.view.WaitFor(b.Port(1), SlotState::Ok, kSuccess)) << b.view.Shown();
         ASSERT_TRUE(b.view.WaitFor(b.Port(2), SlotState::Ok, kSuccess)) << b.view.Shown();
         EXPECT_EQ(b.view.MostAtOnce(), 2);
         // A third one's burn, re-plug and all, is time enough for a second burn to begin.
         b.Plug(3);
         ASSERT_TRUE(b.view.WaitFor(b.Port(3), SlotState::Ok, kSuccess)) << b.view.Shown();
         EXPECT_EQ(b.view.Starts(b.Port(1)), 1);
         EXPECT_EQ(b.view.Starts(b.Port(2)), 1);
       }},
      {"a re-plug between two looks of the station answers the prompt",
       [&](Bench& b) {
         b.quickHands = true;
         b.Plug(1);
         ASSERT_TRUE(b.view.WaitFor(b.Port(1), SlotState::Ok, kSuccess)) << b.view.Shown();
         EXPECT_TRUE(b.Burned(1, length));
       }},
      {"a PLC that drops off the bus for a moment after its burn is not burned again",
       [&](Bench& b) {
         b.Plug(1);
         ASSERT_TRUE(b.view.WaitFor(b.Port(1), SlotState::Ok, kSuccess)) << b.view.Shown();
         b.quickHands = true;
         b.Replug(1);  // a restart: gone and back within the debounce
         b.Plug(2);    // whose whole burn is time enough for a second burn of the first
         ASSERT_TRUE(b.view.WaitFor(b.Port(2), SlotState::Ok, kSuccess)) << b.view.Shown();
         EXPECT_EQ(b.view.Starts(b.Port(1)), 1) << b.view.Shown();
       }},
      {"an unplug mid-transfer fails that PLC only, within a second",
       [&](Bench& b) {
         EmulatedUsbPlc& lost = b.Plug(1, true, {{FaultKind::Hangup, 40, 0}});
         b.Plug(2, true);
         ASSERT_TRUE(lost.WaitUntil(
             [](const PlcSim& plc, std::size_t reads) { return plc.HungUp() && reads > 0; },
             kLong));
         const auto unplugged = Clock::now();
         b.Unplug(1);
         ASSERT_TRUE(b.view.WaitFor(b.Port(1), SlotState::Failed, kFailed));
         EXPECT_LT(b.view.Find(b.Port(1), SlotState::Failed, kFailed)->at - unplugged, 1s);
         ASSERT_TRUE(b.view.WaitFor(b.Port(2), SlotState::Ok, kSuccess)) << b.view.Shown();
         EXPECT_TRUE(b.Burned(2, length));
         EXPECT_TRUE(b.view.WaitFor(b.Port(1), SlotState::Empty)) << b.view.Shown();
       }},
  };
  const std::vector<std::uint8_t> image = Image(length);
  // One testbed for the process: libusb keeps what it found in the first.
  UsbTestbed testbed;
  ASSERT_TRUE(testbed.Preloaded()) << "needs umockdev's preload library, as CTest runs it";
  int firstPort = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bench b(testbed, firstPort);
    firstPort += 10;
    std::string error;
    auto system = MakeSystemSlotWatch({"USB"}, &error);
    ASSERT_TRUE(system) << error;
    SeenWatch watch(std::move(system));
    b.watch = &watch;
    b.view.onPrompt = [&](const std::string& device) {
      const int port = std::stoi(device.substr(device.rfind('-') + 1)) - b.firstPort;
      std::lock_guard lock(b.handsMutex);
      b.hands.emplace_back([&b, port] { b.Replug(port); });
    };
    StationConfig config;
    config.slots = {"USB"};
    config.modelRow = *FindModel("VL");
    config.image = image;
    config.replugTimeout = 20s;
    Station station(
        config, watch,
        [](const SlotDevice& d) { return std::make_unique<SystemLinkOpener>(d.port); }, b.view);
    std::thread running([&] { station.Run(); });
    ASSERT_TRUE(watch.WaitLooked());
    c.run(b);
    station.Stop();
    running.join();
    for (std::thread& hand : b.hands) hand.join();
  }
}

}  // namespace
}  // namespace plcburn
