// The station window: its tiles and options as values, and the window over plcsim slots in real
// time.

#include "app/qt/station_window.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "app/common/station_options.h"
#include "link/slot_watch.h"
#include "link/system_opener.h"
#include "res/builtin_image.h"
#include "tests/sim/plcsim_process.h"

namespace plcburn {
namespace {

using S = SlotState;

// The window takes plcburn-cli --watch's slots and options, refused as the CLI refuses them.
TEST(StationOptions, SlotsAndOptionsOfTheWatch) {
  const std::string qn4 = testing::TempDir() + "QN4_station_test.bin";
  std::ofstream(qn4) << std::string(1024, 'x');
  const struct {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
  } cases[] = {
      {{"--station", "/dev/ttyUSB*", "--now", "--replug-timeout", "30"}, ""},
      {{"--station", "/dev/ttyS*", "--model", "QN4", "--image", qn4}, ""},
      {{"--station"}, "--station needs at least one slot"},
      {{"--station", "tty*"}, "give an absolute path"},
      {{"--station", "USB", "--port", "x"}, "--station and --port exclude each other"},
      {{"--station", "USB", "--json"}, "takes only its slots"},
      {{"--station", "USB", "--metrics", "nowhere"}, "--metrics"},
      {{"--station", "USB", "--model", "QN4", "--image", qn4}, "the QN4 is not reached over USB"},
  };
  for (const auto& c : cases) {
    const ParsedStation parsed = ParseStationArgs(c.args, ModelFromImageName(BuiltinImageName()));
    ASSERT_EQ(parsed.setup.has_value(), c.error.empty()) << c.args.back() << parsed.error;
    EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    if (parsed.setup) {
      EXPECT_EQ(ModelAt(parsed.setup->modelRow).name, c.args.back() == qn4 ? "QN4" : "VL");
    }
  }
}

// The system's watch, keeping what it last reported: a re-plug goes back in only once the
// station has seen it out.
class SeenWatch : public SlotWatch {
 public:
  explicit SeenWatch(std::unique_ptr<SlotWatch> watch) : watch_(std::move(watch)) {}
  SlotLook Look() override {
    SlotLook look = watch_->Look();
    std::lock_guard lock(mutex_);
    last_ = look.devices;
    return look;
  }
  void WaitForChange(std::chrono::milliseconds timeout) override { watch_->WaitForChange(timeout); }
  void Wake() override { watch_->Wake(); }
  bool Sees(const std::string& port) {
    std::lock_guard lock(mutex_);
    return std::any_of(last_.begin(), last_.end(), [&](auto& d) { return d.port == port; });
  }

 private:
  std::unique_ptr<SlotWatch> watch_;
  std::mutex mutex_;
  std::vector<SlotDevice> last_;
};

struct AnsweringDialogs : Dialogs {
  void ShowMessage(QWidget*, const QString&, const QString&, MessageIcon) override {}
  bool ConfirmStopAndQuit(QWidget*) override { return ++asked, answer; }
  std::optional<QString> ChooseFile(QWidget*) override { return std::nullopt; }
  bool answer = false;
  int asked = 0;
};

// A real run with a tile in every state; then the ended tiles go with their PLCs, and closing
// mid-burn asks first.
TEST(StationWindow, TilesFollowRealBurnsOnPlcsimSlots) {
  const struct {
    std::vector<std::string> sim;  // empty: nothing plugged
    bool replug;                   // pulled and plugged back at its prompt
    SlotState at;                  // where it stands in the picture
  } sockets[] = {
      {{"--model", "VL"}, true, S::Ok},
      {{"--model", "QN4"}, false, S::Failed},  // another model in the socket
      {{"--model", "VL"}, false, S::Replug},
      {{"--model", "VL", "--line-rate"}, true, S::Burning},
      {{}, false, S::Empty},
      {{}, false, S::Empty},
  };
  const std::string dir =
      QDir::tempPath().toStdString() + "/station_test_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  std::vector<std::string> slots;
  for (std::size_t i = 0; i < std::size(sockets); ++i)
    slots.push_back(dir + "/socket" + std::to_string(i + 1) + "-*");
  std::string error;
  SeenWatch watch(MakeSystemSlotWatch(slots, &error));
  StationConfig config;
  config.slots = slots;
  config.modelRow = ModelFromImageName(BuiltinImageName());
  config.image = BuiltinImage();
  AnsweringDialogs dialogs;
  StationWindow window(
      config, watch, [](const SlotDevice&) { return std::make_unique<SystemLinkOpener>(); },
      dialogs);
  window.show();
  const auto tile = [&](std::size_t i) { return window.Tiles().at(i); };
  const auto waitFor = [&](std::size_t i, S state) {
    return QTest::qWaitFor([&] { return tile(i).state == state; }, 30000);
  };

  std::vector<std::unique_ptr<Plcsim>> sims;
  std::vector<std::string> ports;
  for (std::size_t i = 0; i < std::size(sockets); ++i) {
    ASSERT_TRUE(waitFor(i, S::Empty)) << i;
    if (sockets[i].sim.empty()) continue;
    sims.push_back(std::make_unique<Plcsim>(sockets[i].sim));
    ports.push_back(slots[i].substr(0, slots[i].size() - 1) + "plc");
    std::filesystem::create_symlink(TerminalOf(*sims.back()), ports.back());
  }
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (!sockets[i].replug) continue;
    ASSERT_TRUE(waitFor(i, S::Replug)) << i;
    const std::string terminal = std::filesystem::read_symlink(ports[i]);
    std::filesystem::remove(ports[i]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watch.Sees(ports[i]); }, 30000)) << i;
    std::filesystem::create_symlink(terminal, ports[i]);
  }
  for (std::size_t i = 0; i < std::size(sockets); ++i)
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
          const auto t = tile(i);
          return t.state == sockets[i].at &&
                 (t.state != S::Burning ||
                  (t.values.flashStatus == PROGRAM && t.values.progress >= 20));
        },
        30000))
        << i << ": " << tile(i).word;
  EXPECT_NE(tile(0).message.find("SUCCESSFUL"), std::string::npos) << tile(0).message;
  EXPECT_FALSE(tile(1).message.empty());
  EXPECT_EQ(std::pair(window.Totals().burned, window.Totals().failed), std::pair(1, 1));
  const QImage shot = window.grab().toImage();
  EXPECT_EQ(shot.size(), QSize(1280, 800));

  for (std::size_t i : {0, 1}) {
    std::filesystem::remove(ports[i]);
    EXPECT_TRUE(waitFor(i, S::Empty)) << i;
  }
  EXPECT_FALSE(window.close());
  EXPECT_EQ(tile(2).state, S::Replug);
  dialogs.answer = true;
  EXPECT_TRUE(window.close());
  EXPECT_EQ(dialogs.asked, 2);
  EXPECT_FALSE(window.Burning());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace plcburn
