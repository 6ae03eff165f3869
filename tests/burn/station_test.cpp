#include "burn/station.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "sim/plc_sim.h"
#include "sim/sim_link.h"
#include "tests/support/sim_bench.h"

namespace plcburn {
namespace {

using namespace std::chrono_literals;

// Devices that the test plugs and unplugs, each a simulated PLC behind its own clock.
class FakeSlots : public SlotWatch {
 public:
  struct Plc {
    std::unique_ptr<PlcSim> sim;
    VirtualClock clock;
    std::unique_ptr<SimOpener> opener;
  };

  // Plugs a fresh PLC of `model` at `key`, reached through the slots listed.
  PlcSim& Plug(const std::string& key, const char* model, std::vector<std::size_t> slots = {0}) {
    std::lock_guard lock(mutex_);
    Plc& plc = plcs_[key];
    plc.sim = std::make_unique<PlcSim>(*FindModel(model));
    plc.opener = std::make_unique<SimOpener>(*plc.sim, plc.clock);
    present_[key] = std::move(slots);
    Changed();
    return *plc.sim;
  }
  void Unplug(const std::string& key) {
    std::lock_guard lock(mutex_);
    present_.erase(key);
    Changed();
  }
  // The same PLC back in its socket.
  void Replug(const std::string& key) {
    std::lock_guard lock(mutex_);
    present_[key] = {0};
    Changed();
  }
  LinkOpener& OpenerOf(const std::string& key) {
    std::lock_guard lock(mutex_);
    return *plcs_.at(key).opener;
  }

  // Until the station has looked once, a PLC plugged would count as there at its start.
  void WaitUntilWatched() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return looked_; });
  }

  // Until the station has looked since the last change, a quick unplug and plug may pass unseen.
  void WaitUntilSeen() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return seenChange_; });
  }

  std::vector<SlotDevice> Present() override {
    std::lock_guard lock(mutex_);
    looked_ = true;
    seenChange_ = true;
    wake_.notify_all();
    std::vector<SlotDevice> found;
    for (const auto& [key, slots] : present_)
      for (std::size_t slot : slots) found.push_back({slot, key, key, key.starts_with("usb:")});
    return found;
  }
  void WaitForChange(std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, timeout, [&] { return changes_ != seen_; });
    seen_ = changes_;
  }
  void Wake() override {
    std::lock_guard lock(mutex_);
    Changed();
  }

 private:
  void Changed() {
    ++changes_;
    seenChange_ = false;
    wake_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  int changes_ = 0, seen_ = 0;
  bool looked_ = false;
  bool seenChange_ = false;
  std::map<std::string, std::vector<std::size_t>> present_;
  std::map<std::string, Plc> plcs_;
};

// Forwards to the PLC's opener; the station owns one per device.
class ForwardingOpener : public LinkOpener {
 public:
  explicit ForwardingOpener(LinkOpener& inner) : inner_(inner) {}
  OpenResult OpenCom(const std::string& port) override { return inner_.OpenCom(port); }
  OpenResult OpenUsb() override { return inner_.OpenUsb(); }

 private:
  LinkOpener& inner_;
};

// What the station showed, and a hook for each prompt.
class SeenView : public StationView {
 public:
  void Changed(const std::string& device, SlotState state, std::string_view) override {
    std::lock_guard lock(mutex_);
    states[device].push_back(state);
    wake_.notify_all();
  }
  void Message(const std::string&, std::string_view, std::string_view) override {}
  void Prompt(const std::string& device, const ReconnectPrompt& prompt) override {
    if (onPrompt) onPrompt(device, prompt);
  }
  void Result(const std::string& device, const BurnRecord& record) override {
    std::lock_guard lock(mutex_);
    results[device].push_back(record);
    wake_.notify_all();
  }
  // Waits, bounded, until `device` has had `count` results.
  bool WaitForResults(const std::string& device, std::size_t count) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, 20s, [&] { return results[device].size() >= count; });
  }
  bool WaitForState(const std::string& device, SlotState state) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(
        lock, 20s, [&] { return !states[device].empty() && states[device].back() == state; });
  }

  std::function<void(const std::string&, const ReconnectPrompt&)> onPrompt;
  std::function<void()> stopStation;  // as a signal would
  std::map<std::string, std::vector<SlotState>> states;
  std::map<std::string, std::vector<BurnRecord>> results;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
};

struct StationCase {
  const char* name;
  const char* model;
  std::function<void(FakeSlots&, SeenView&)> before;  // plugged before the station starts
  bool burnPresentAtStart;
  std::function<void(FakeSlots&, SeenView&)> run;  // what happens, and what it must show
  std::chrono::milliseconds replugTimeout = 20s;
};

class StationTest : public ::testing::TestWithParam<StationCase> {};

TEST_P(StationTest, BurnsWhatIsPlugged) {
  const StationCase& c = GetParam();
  FakeSlots slots;
  SeenView view;
  const std::vector<std::uint8_t> image = testing::Image(20000);
  if (c.before) c.before(slots, view);
  StationConfig config;
  config.slots = {"A", "B"};
  config.modelRow = *FindModel(c.model);
  config.image = image;
  config.replugTimeout = c.replugTimeout;
  config.burnPresentAtStart = c.burnPresentAtStart;
  config.second = 1ms;
  Station station(
      config, slots,
      [&](const SlotDevice& d) {
        return std::make_unique<ForwardingOpener>(slots.OpenerOf(d.key));
      },
      view);
  view.stopStation = [&] { station.Stop(); };
  std::thread running([&] { station.Run(); });
  slots.WaitUntilWatched();
  c.run(slots, view);
  station.Stop();
  running.join();
}

const auto kReplugAnswered = [](FakeSlots& s, SeenView& v) {
  v.onPrompt = [&s](const std::string& device, const ReconnectPrompt& p) {
    EXPECT_EQ(p.kind, ReconnectKind::Replug);
    std::thread([&s, device] {
      s.Unplug(device);
      s.WaitUntilSeen();
      s.Replug(device);
    }).detach();
  };
};

INSTANTIATE_TEST_SUITE_P(
    Cases, StationTest,
    ::testing::Values(
        // Plugged, burned with the re-plug answered by a re-plug, left plugged (not burned
        // again), unplugged, and the next PLC in the same socket burned.
        StationCase{"replug_then_next_plc", "VL", kReplugAnswered, false,
                    [](FakeSlots& s, SeenView& v) {
                      PlcSim& first = s.Plug("usb:1-2", "VL");
                      ASSERT_TRUE(v.WaitForResults("usb:1-2", 1));
                      EXPECT_TRUE(v.results["usb:1-2"][0].result.ok)
                          << v.results["usb:1-2"][0].result.text;
                      EXPECT_EQ(v.results["usb:1-2"][0].facts.slot, "usb:1-2");
                      EXPECT_GT(first.Counters().blocksAccepted, 0u);
                      s.Wake();
                      std::this_thread::sleep_for(50ms);
                      EXPECT_EQ(v.results["usb:1-2"].size(), 1u) << "left plugged: burned once";
                      s.Unplug("usb:1-2");
                      ASSERT_TRUE(v.WaitForState("usb:1-2", SlotState::Empty));
                      PlcSim& second = s.Plug("usb:1-2", "VL");
                      ASSERT_TRUE(v.WaitForResults("usb:1-2", 2));
                      EXPECT_TRUE(v.results["usb:1-2"][1].result.ok)
                          << v.results["usb:1-2"][1].result.text;
                      EXPECT_GT(second.Counters().blocksAccepted, 0u);
                    }},
        // No re-plug within the time-out: the reopen failure, and the slot waits for the unplug.
        StationCase{"replug_times_out", "VL", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      s.Plug("usb:1-3", "VL");
                      ASSERT_TRUE(v.WaitForResults("usb:1-3", 1));
                      EXPECT_EQ(v.results["usb:1-3"][0].result.text, "CANNOT open USB Port!!!");
                      EXPECT_TRUE(v.WaitForState("usb:1-3", SlotState::Failed));
                    },
                    300ms},
        // A power cycle is confirmed by the station; two sockets burn at once.
        StationCase{"power_cycle_two_at_once", "TR7-B", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      std::atomic<int> prompts{0};
                      v.onPrompt = [&](const std::string&, const ReconnectPrompt& p) {
                        EXPECT_EQ(p.kind, ReconnectKind::PowerCycle);
                        ++prompts;
                      };
                      s.Plug("/dev/ttyUSB0", "TR7-B");
                      s.Plug("/dev/ttyUSB1", "TR7-B", {1});
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB1", 1));
                      EXPECT_TRUE(v.results["/dev/ttyUSB0"][0].result.ok);
                      EXPECT_TRUE(v.results["/dev/ttyUSB1"][0].result.ok);
                      EXPECT_EQ(prompts, 2);
                      v.onPrompt = nullptr;
                    }},
        // One device reached through two slots is burned once.
        StationCase{"one_device_two_slots", "QN4", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      s.Plug("/dev/ttyUSB0", "QN4", {0, 1});
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      s.Wake();
                      std::this_thread::sleep_for(50ms);
                      EXPECT_EQ(v.results.size(), 1u);
                      EXPECT_EQ(v.results["/dev/ttyUSB0"].size(), 1u);
                    }},
        // Present when the station started: left alone, burned only after a re-plug.
        StationCase{"present_at_start_left_alone", "QN4",
                    [](FakeSlots& s, SeenView&) { s.Plug("/dev/ttyUSB0", "QN4"); }, false,
                    [](FakeSlots& s, SeenView& v) {
                      std::this_thread::sleep_for(50ms);
                      EXPECT_TRUE(v.results.empty());
                      s.Unplug("/dev/ttyUSB0");
                      s.WaitUntilSeen();
                      s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                    }},
        // ... unless asked to burn it at once.
        StationCase{"present_at_start_burned_now", "QN4",
                    [](FakeSlots& s, SeenView&) { s.Plug("/dev/ttyUSB0", "QN4"); }, true,
                    [](FakeSlots&, SeenView& v) {
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      EXPECT_TRUE(v.results["/dev/ttyUSB0"][0].result.ok);
                    }},
        // Stopping the station ends a running burn as stopped, with its record.
        StationCase{"stopped_mid_burn", "VL", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      v.onPrompt = [&v](const std::string&, const ReconnectPrompt&) {
                        v.stopStation();
                      };
                      s.Plug("usb:1-2", "VL");
                      ASSERT_TRUE(v.WaitForResults("usb:1-2", 1));
                      EXPECT_TRUE(v.results["usb:1-2"][0].result.stopped);
                    }}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace plcburn
