#include "burn/station.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    present_[key] = {std::move(slots), ++plugs_};
    Changed();
    return *plc.sim;
  }
  void Unplug(const std::string& key) {
    std::lock_guard lock(mutex_);
    present_.erase(key);
    Changed();
  }
  // The same PLC back in its socket, as a new plug.
  void Replug(const std::string& key) {
    std::lock_guard lock(mutex_);
    present_[key] = {{0}, ++plugs_};
    Changed();
  }
  // Unplugged and plugged again (the same PLC, or with `model` a fresh one) so quickly that the
  // station never looks in between.
  PlcSim* SwapUnseen(const std::string& key, const char* model = nullptr) {
    std::lock_guard lock(mutex_);
    Plc& plc = plcs_[key];
    if (model != nullptr) {
      plc.sim = std::make_unique<PlcSim>(*FindModel(model));
      plc.opener = std::make_unique<SimOpener>(*plc.sim, plc.clock);
    }
    present_[key].instance = ++plugs_;
    Changed();
    return plc.sim.get();
  }
  // What the station's next look finds besides the devices.
  void Misfit(std::size_t slot, const std::string& path, const std::string& why) {
    std::lock_guard lock(mutex_);
    misfits_.push_back({slot, path, why});
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

  SlotLook Look() override {
    std::lock_guard lock(mutex_);
    looked_ = true;
    seenChange_ = true;
    wake_.notify_all();
    SlotLook look;
    for (const auto& [key, at] : present_)
      for (std::size_t slot : at.slots)
        look.devices.push_back(
            {slot, key, key, std::to_string(at.instance), key.starts_with("usb:")});
    look.misfits = misfits_;
    return look;
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
  struct Plugged {
    std::vector<std::size_t> slots;
    int instance = 0;
  };
  std::map<std::string, Plugged> present_;
  std::map<std::string, Plc> plcs_;
  std::vector<SlotMisfit> misfits_;
  int plugs_ = 0;
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
  void Changed(const DeviceLabel& who, SlotState state, std::string_view) override {
    if (onChanged) onChanged(who.device, state);
    std::lock_guard lock(mutex_);
    states[who.device].push_back(state);
    wake_.notify_all();
  }
  void Message(const DeviceLabel&, std::string_view, std::string_view) override {}
  void Prompt(const DeviceLabel& who, const ReconnectPrompt& prompt) override {
    if (onPrompt) onPrompt(who.device, prompt);
  }
  void Result(const DeviceLabel& who, const BurnRecord& record) override {
    std::lock_guard lock(mutex_);
    results[who.device].push_back(record);
    wake_.notify_all();
  }
  void ScanSaid(std::string_view serial, std::string_view what) override {
    std::lock_guard lock(mutex_);
    scans_.push_back(std::string(serial) + ": " + std::string(what));
    wake_.notify_all();
  }
  // Until a scan note begins with `start`.
  bool WaitForScan(const std::string& start) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, 20s, [&] {
      return std::any_of(scans_.begin(), scans_.end(),
                         [&](const std::string& s) { return s.starts_with(start); });
    });
  }
  void Misfit(const std::string&, const std::string& path, std::string_view) override {
    std::lock_guard lock(mutex_);
    misfits_.push_back(path);
    wake_.notify_all();
  }
  bool WaitForMisfits(std::size_t count) {
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, 20s, [&] { return misfits_.size() >= count; });
  }
  std::vector<std::string> Misfits() {
    std::lock_guard lock(mutex_);
    return misfits_;
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
  std::function<void(const std::string&, SlotState)> onChanged;
  std::function<void()> stopStation;  // as a signal would
  std::function<Station::Totals()> totals;
  std::function<void(const std::string&)> scan;  // as a scanner would
  std::map<std::string, std::vector<SlotState>> states;
  std::map<std::string, std::vector<BurnRecord>> results;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::string> misfits_;
  std::vector<std::string> scans_;
};

struct StationCase {
  const char* name;
  const char* model;
  std::function<void(FakeSlots&, SeenView&)> before;  // plugged before the station starts
  bool burnPresentAtStart;
  std::function<void(FakeSlots&, SeenView&)> run;  // what happens, and what it must show
  std::chrono::milliseconds replugTimeout = 20s;
  std::function<StationImage(LinkOpener&, const SlotDevice&)> chooseImage = {};
  std::chrono::milliseconds unplugDebounce = 100ms;
  bool requireSerial = false;
  std::chrono::milliseconds scanTimeout = 20s;
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
  config.unplugDebounce = c.unplugDebounce;
  config.chooseImage = c.chooseImage;
  config.requireSerial = c.requireSerial;
  config.scanTimeout = c.scanTimeout;
  Station station(
      config, slots,
      [&](const SlotDevice& d) {
        return std::make_unique<ForwardingOpener>(slots.OpenerOf(d.device));
      },
      view);
  view.stopStation = [&] { station.Stop(); };
  view.totals = [&] { return station.CurrentTotals(); };
  view.scan = [&](const std::string& serial) { station.Scanned(serial); };
  std::thread running([&] { station.Run(); });
  slots.WaitUntilWatched();
  c.run(slots, view);
  station.Stop();
  running.join();
}

// The re-plug done between two looks of the station: it sees only another plug of the PLC.
const auto kReplugUnseen = [](FakeSlots& s, SeenView& v) {
  v.onPrompt = [&s](const std::string& device, const ReconnectPrompt&) { s.SwapUnseen(device); };
};

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
                      EXPECT_EQ(v.results["usb:1-2"][0].facts.slot, "A");
                      EXPECT_EQ(v.results["usb:1-2"][0].facts.device, "usb:1-2");
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
                    }},
        // A stop that comes while the plug is being taken, before its burn has begun: the burn
        // ends as stopped, with its record, and the PLC is never opened.
        StationCase{"stopped_while_the_plug_is_taken", "QN4", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      v.onChanged = [&v](const std::string&, SlotState state) {
                        if (state == SlotState::Burning) v.stopStation();
                      };
                      PlcSim& plc = s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      EXPECT_TRUE(v.results["/dev/ttyUSB0"][0].result.stopped);
                      EXPECT_EQ(plc.Counters().dummyFrames + plc.Counters().probes, 0u);
                      EXPECT_EQ(v.totals().stopped, 1);
                      EXPECT_EQ(v.totals().failed, 0);
                    }},
        // The re-plug comes and goes between two looks: the PLC's new plug answers it.
        StationCase{"replug_between_two_looks", "VL", kReplugUnseen, false,
                    [](FakeSlots& s, SeenView& v) {
                      s.Plug("usb:1-2", "VL");
                      ASSERT_TRUE(v.WaitForResults("usb:1-2", 1));
                      EXPECT_TRUE(v.results["usb:1-2"][0].result.ok)
                          << v.results["usb:1-2"][0].result.text;
                    }},
        // A node reused by a new adapter after an unplug the station never saw is a new device.
        StationCase{"reused_node_is_a_new_device", "QN4", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      PlcSim* next = s.SwapUnseen("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 2));
                      EXPECT_TRUE(v.results["/dev/ttyUSB0"][1].result.ok);
                      EXPECT_GT(next->Counters().blocksAccepted, 0u);
                    }},
        // A USB PLC that drops off the bus for a moment after its burn is the same device; gone
        // for longer, it is a new plug.
        StationCase{"usb_plc_back_within_debounce",
                    "VL",
                    kReplugAnswered,
                    false,
                    [](FakeSlots& s, SeenView& v) {
                      s.Plug("usb:1-2", "VL");
                      ASSERT_TRUE(v.WaitForResults("usb:1-2", 1));
                      v.onPrompt = nullptr;
                      s.Unplug("usb:1-2");
                      s.WaitUntilSeen();
                      s.Replug("usb:1-2");
                      s.WaitUntilSeen();
                      std::this_thread::sleep_for(500ms);  // past the debounce: time to go wrong
                      EXPECT_EQ(v.results["usb:1-2"].size(), 1u) << "burned again";
                      EXPECT_EQ(v.states["usb:1-2"].back(), SlotState::Ok);
                      s.Unplug("usb:1-2");
                      ASSERT_TRUE(v.WaitForState("usb:1-2", SlotState::Empty));
                      v.onPrompt = [&s](const std::string& d, const ReconnectPrompt&) {
                        s.SwapUnseen(d);
                      };
                      s.Replug("usb:1-2");
                      ASSERT_TRUE(v.WaitForResults("usb:1-2", 2));
                    },
                    20s,
                    {},
                    200ms},
        // A PLC no image is chosen for: a whole record, counted as refused with its model.
        StationCase{"refused_plc_has_a_whole_record", "QN4", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      PlcSim& plc = s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      const BurnRecord& r = v.results["/dev/ttyUSB0"][0];
                      EXPECT_EQ(VerdictOf(r), BurnVerdict::Refused);
                      EXPECT_EQ(r.model, "QN4");
                      EXPECT_GT(r.startMs, 0u);
                      EXPECT_GE(r.endMs, r.startMs);
                      EXPECT_EQ(r.facts.slot, "A");
                      EXPECT_EQ(r.facts.device, "/dev/ttyUSB0");
                      EXPECT_EQ(v.totals().refused, 1);
                      EXPECT_EQ(v.totals().failed, 0);
                      EXPECT_EQ(v.states["/dev/ttyUSB0"].back(), SlotState::Refused);
                      EXPECT_EQ(plc.Counters().bootErases, 0u);
                    },
                    20s,
                    [](LinkOpener&, const SlotDevice&) {
                      StationImage none;
                      none.plc.firmware = Firmware::Application;
                      none.plc.identifier = 0x13;
                      none.plc.candidates = {*FindModel("QN4")};
                      none.refusal = "no image for the QN4";
                      return none;
                    }},
        // Scanned, then plugged: the serial is the PLC's in its record.
        StationCase{"scan_then_plug", "QN4", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      v.scan("4711-0193");
                      ASSERT_TRUE(v.WaitForScan("4711-0193: waiting"));
                      s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      EXPECT_EQ(v.results["/dev/ttyUSB0"][0].facts.serial, "4711-0193");
                    }},
        // Plugged with no scan where one is required: SCAN, nothing sent, until a scan comes.
        StationCase{"plug_then_scan_required",
                    "QN4",
                    nullptr,
                    false,
                    [](FakeSlots& s, SeenView& v) {
                      PlcSim& plc = s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForState("/dev/ttyUSB0", SlotState::Scan));
                      EXPECT_EQ(plc.Counters().dummyFrames + plc.Counters().probes, 0u);
                      v.scan("4711-0194");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      EXPECT_TRUE(v.results["/dev/ttyUSB0"][0].result.ok);
                      EXPECT_EQ(v.results["/dev/ttyUSB0"][0].facts.serial, "4711-0194");
                    },
                    20s,
                    {},
                    100ms,
                    true},
        // A scan no plug takes in time is forgotten, and said so.
        StationCase{"scan_times_out",
                    "QN4",
                    nullptr,
                    false,
                    [](FakeSlots& s, SeenView& v) {
                      v.scan("4711-0195");
                      ASSERT_TRUE(v.WaitForScan("4711-0195: timed out"));
                      s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      EXPECT_EQ(v.results["/dev/ttyUSB0"][0].facts.serial, "");
                    },
                    20s,
                    {},
                    100ms,
                    false,
                    200ms},
        // Bad scans are refused and leave nothing waiting; of two scans, the second counts.
        StationCase{"bad_scans_refused_two_scans_one_plug", "QN4", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      for (const std::string bad : {std::string(),
                                                    std::string("47\x01"
                                                                "1"),
                                                    std::string(65, '7')})
                        v.scan(bad);
                      ASSERT_TRUE(v.WaitForScan(std::string(65, '7') + ": refused"));
                      v.scan("4711-0001");
                      v.scan("4711-0002");
                      ASSERT_TRUE(v.WaitForScan("4711-0001: replaced by 4711-0002"));
                      s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      EXPECT_EQ(v.results["/dev/ttyUSB0"][0].facts.serial, "4711-0002");
                    }},
        // The same label burned OK twice in a day: burned again, with a warning on record.
        StationCase{"serial_burned_twice_today", "QN4", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      v.scan("4711-0003");
                      s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 1));
                      EXPECT_TRUE(v.results["/dev/ttyUSB0"][0].facts.warnings.empty());
                      s.Unplug("/dev/ttyUSB0");
                      ASSERT_TRUE(v.WaitForState("/dev/ttyUSB0", SlotState::Empty));
                      v.scan("4711-0003");
                      s.Plug("/dev/ttyUSB0", "QN4");
                      ASSERT_TRUE(v.WaitForResults("/dev/ttyUSB0", 2));
                      EXPECT_EQ(v.results["/dev/ttyUSB0"][1].facts.warnings.size(), 1u);
                      EXPECT_TRUE(v.WaitForScan("4711-0003: serial 4711-0003 was burned OK"));
                    }},
        // A slot entry that is no serial device is said once, however often the station looks.
        StationCase{"misfit_said_once", "QN4", nullptr, false,
                    [](FakeSlots& s, SeenView& v) {
                      s.Misfit(0, "/dev/slot/plc-file", "not a serial device: a regular file");
                      ASSERT_TRUE(v.WaitForMisfits(1));
                      for (int look = 0; look < 2; ++look) {  // the second look has been taken
                        s.Wake();
                        s.WaitUntilSeen();
                      }
                      EXPECT_EQ(v.Misfits(), std::vector<std::string>{"/dev/slot/plc-file"});
                    }}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace plcburn
