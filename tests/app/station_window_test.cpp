// The station window: its tiles as values, and the window over plcsim slots in real time.

#include "app/qt/station_window.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "app/qt/station_options.h"
#include "link/slot_watch.h"
#include "link/system_opener.h"
#include "res/builtin_image.h"

extern char** environ;

namespace plcburn {
namespace {

using S = SlotState;

Station::DeviceStatus Device(std::string name, std::size_t slot, S state, std::string note = {},
                             int progress = 0) {
  Station::DeviceStatus d;
  d.device = std::move(name);
  d.slot = slot;
  d.state = state;
  d.note = std::move(note);
  d.progress = progress;
  return d;
}

TEST(StationTiles, OneTilePerDeviceAndPerEmptySlot) {
  const std::vector<std::string> slots = {"/dev/a*", "/dev/b*", "USB"};
  const struct {
    const char* name;
    std::vector<Station::DeviceStatus> devices;
    std::vector<std::string> names, words;
    std::vector<bool> panels;
    std::vector<std::string> messages;
  } cases[] = {
      {"nothing plugged",
       {},
       {"/dev/a*", "/dev/b*", "USB"},
       {"EMPTY", "EMPTY", "EMPTY"},
       {false, false, false},
       {"", "", ""}},
      {"two in one slot, sorted, the others empty",
       {Device("/dev/a2", 0, S::Replug), Device("/dev/a1", 0, S::Burning, "", 42)},
       {"/dev/a1", "/dev/a2", "/dev/b*", "USB"},
       {"BURNING 42%", "REPLUG", "EMPTY", "EMPTY"},
       {true, true, false, false},
       {"", "", "", ""}},
      {"ended burns show their message, not the panel",
       {Device("usb:1-1.2", 2, S::Failed, "CheckID failed"), Device("/dev/b0", 1, S::Ok, "done")},
       {"/dev/a*", "/dev/b0", "usb:1-1.2"},
       {"EMPTY", "OK", "FAILED"},
       {false, false, false},
       {"", "done", "CheckID failed"}},
  };
  for (const auto& c : cases) {
    const auto tiles = StationTiles(slots, "VL", c.devices);
    ASSERT_EQ(tiles.size(), c.names.size()) << c.name;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
      EXPECT_EQ(tiles[i].name, c.names[i]) << c.name;
      EXPECT_EQ(tiles[i].word, c.words[i]) << c.name;
      EXPECT_EQ(tiles[i].showsPanel, c.panels[i]) << c.name;
      EXPECT_EQ(tiles[i].message, c.messages[i]) << c.name;
      EXPECT_EQ(tiles[i].model, "VL") << c.name;
    }
  }
  // Each state has its own colour, so the room tells them apart.
  std::vector<Color> colours;
  for (S s : {S::Empty, S::Burning, S::Replug, S::Ok, S::Failed})
    colours.push_back(StationTiles({"x"}, "VL", {Device("d", 0, s)})[0].background);
  std::sort(colours.begin(), colours.end());
  EXPECT_EQ(std::unique(colours.begin(), colours.end()), colours.end());
}

TEST(StationTiles, GridFitsTheWindow) {
  const struct {
    int tiles, width, height, columns, rows;
    bool readable;
  } cases[] = {
      {16, 1280, 800 - kTotalsHeight, 4, 4, true},  // a hub's worth on a small screen
      {1, 1280, 760, 1, 1, true},
      {3, 1280, 760, 2, 2, true},
      {4, 1280, 300, 4, 1, true},
      {40, 1280, 760, 7, 6, false},
  };
  for (const auto& c : cases) {
    const TileGrid g = GridFor(c.tiles, c.width, c.height);
    EXPECT_EQ(g.columns, c.columns) << c.tiles << " in " << c.width << "x" << c.height;
    EXPECT_EQ(g.rows, c.rows) << c.tiles << " in " << c.width << "x" << c.height;
    EXPECT_GE(g.columns * g.rows, c.tiles);
    EXPECT_LE(g.columns * g.tileWidth, c.width);
    EXPECT_LE(g.rows * g.tileHeight, c.height);
    EXPECT_EQ(g.Readable(), c.readable) << c.tiles;
  }
  std::tm since{};
  since.tm_year = 126, since.tm_mon = 11, since.tm_mday = 7, since.tm_hour = 9, since.tm_min = 5;
  EXPECT_EQ(TotalsText({3, 1}, since), "Burned 3, failed 1 since 2026-12-07 09:05");
}

// The window takes plcburn-cli --watch's slots and options, refused as the CLI refuses them.
TEST(StationOptions, SlotsAndOptionsOfTheWatch) {
  const std::string qn4 = testing::TempDir() + "QN4_station_test.bin";
  std::ofstream(qn4) << std::string(1024, 'x');
  const std::size_t vl = ModelFromImageName(BuiltinImageName());
  const struct {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
  } cases[] = {
      {{"--station", "/dev/ttyUSB*", "--now", "--replug-timeout", "30"}, ""},
      {{"--station"}, "--station needs at least one slot"},
      {{"--station", "tty*"}, "give an absolute path"},
      {{"--station", "USB", "--port", "x"}, "--station and --port exclude each other"},
      {{"--station", "USB", "--json"}, "takes only its slots"},
      {{"--station", "USB", "--metrics", "nowhere"}, "--metrics"},
      {{"--station", "USB", "--model", "QN4", "--image", qn4}, "the QN4 is not reached over USB"},
      {{"--station", "/dev/ttyS*", "--model", "QN4", "--image", qn4}, ""},
  };
  for (const auto& c : cases) {
    const std::string line = c.args.size() > 1 ? c.args[1] + " " + c.args.back() : c.args[0];
    ASSERT_TRUE(WantsStation(c.args));
    const ParsedStation parsed = ParseStationArgs(c.args, vl);
    EXPECT_EQ(parsed.setup.has_value(), c.error.empty()) << line << ": " << parsed.error;
    if (!c.error.empty()) {
      EXPECT_NE(parsed.error.find(c.error), std::string::npos) << line << ": " << parsed.error;
      continue;
    }
    const bool file = c.args.back() == qn4;
    EXPECT_EQ(parsed.setup->modelRow, file ? *FindModel("QN4") : vl) << line;
    EXPECT_EQ(parsed.setup->Image().size(), file ? 1024u : BuiltinImage().size()) << line;
    EXPECT_EQ(parsed.setup->facts.imageName, file ? "QN4_station_test.bin" : BuiltinImageName());
  }
  EXPECT_FALSE(WantsStation({"--help"}));
}

// --- The window over simulated PLCs on pseudo-terminals, linked into a slot's folder. ---

class Plcsim {
 public:
  explicit Plcsim(std::vector<std::string> args) {
    args.insert(args.begin(), PLCSIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (posix_spawn(&pid_, PLCSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    // The first line is the terminal's path; the pipe's read blocks until it comes (or plcsim
    // ends), so this wait is bounded by plcsim itself.
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') terminal_ += c;
    close(fds[0]);
  }
  ~Plcsim() {
    if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
  }
  const std::string& Terminal() const { return terminal_; }

 private:
  pid_t pid_ = -1;
  std::string terminal_;
};

// The system's watch, keeping what it last reported: the test knows when the station has seen
// a device go before it plugs it back.
class SeenWatch : public SlotWatch {
 public:
  explicit SeenWatch(std::unique_ptr<SlotWatch> watch) : watch_(std::move(watch)) {}
  std::vector<SlotDevice> Present() override {
    auto present = watch_->Present();
    std::lock_guard lock(mutex_);
    last_.clear();
    for (const auto& d : present) last_.push_back(d.port);
    return present;
  }
  void WaitForChange(std::chrono::milliseconds timeout) override { watch_->WaitForChange(timeout); }
  void Wake() override { watch_->Wake(); }
  bool Sees(const std::string& port) {
    std::lock_guard lock(mutex_);
    return std::find(last_.begin(), last_.end(), port) != last_.end();
  }

 private:
  std::unique_ptr<SlotWatch> watch_;
  std::mutex mutex_;
  std::vector<std::string> last_;
};

// Every state each device went through, as the window's `also` view hears it.
class StateLog : public StationView {
 public:
  void Changed(const std::string& device, SlotState state, std::string_view) override {
    std::lock_guard lock(mutex_);
    auto& seen = states_[device];
    if (seen.empty() || seen.back() != state) seen.push_back(state);
  }
  void Message(const std::string&, std::string_view, std::string_view) override {}
  void Prompt(const std::string&, const ReconnectPrompt&) override {}
  void Result(const std::string&, const BurnRecord&) override {}
  std::vector<SlotState> Of(const std::string& device) {
    std::lock_guard lock(mutex_);
    return states_[device];
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::vector<SlotState>> states_;
};

class AnsweringDialogs : public Dialogs {
 public:
  void ShowMessage(QWidget*, const QString&, const QString&, MessageIcon) override {}
  bool ConfirmStopAndQuit(QWidget*) override {
    ++asked;
    return answer;
  }
  std::optional<QString> ChooseFile(QWidget*) override { return std::nullopt; }
  bool answer = false;
  int asked = 0;
};

constexpr int kWaitMs = 30000;  // generous: the machine may be busy

struct Bench {
  explicit Bench(std::vector<std::string> names) {
    dir = QDir::tempPath().toStdString() + "/station_window_test_" + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    for (const auto& n : names) slots.push_back(dir + "/" + n + "*");
    std::string error;
    watch = std::make_unique<SeenWatch>(MakeSystemSlotWatch(slots, &error));
    StationConfig config;
    config.slots = slots;
    config.modelRow = ModelFromImageName(BuiltinImageName());
    config.image = BuiltinImage();
    config.replugTimeout = std::chrono::seconds(30);
    window = std::make_unique<StationWindow>(
        config, *watch,
        [](const SlotDevice&) -> std::unique_ptr<LinkOpener> {
          return std::make_unique<SystemLinkOpener>();
        },
        dialogs, &log);
  }
  ~Bench() {
    window.reset();
    std::filesystem::remove_all(dir);
  }
  std::string Plug(const Plcsim& sim, const std::string& name) {
    const std::string link = dir + "/" + name;
    std::filesystem::create_symlink(sim.Terminal(), link);
    return link;
  }
  StationTile TileOf(const std::string& name) {
    for (const auto& t : window->Tiles())
      if (t.name == name) return t;
    return {};
  }
  bool WaitTile(const std::string& name, SlotState state) {
    return QTest::qWaitFor(
        [&] { return TileOf(name).state == state && !TileOf(name).name.empty(); }, kWaitMs);
  }
  // Out and back in, as a hand re-plugs: back only once the station has seen it gone.
  bool Replug(const std::string& link, const Plcsim& sim) {
    std::filesystem::remove(link);
    if (!QTest::qWaitFor([&] { return !watch->Sees(link); }, kWaitMs)) return false;
    std::filesystem::create_symlink(sim.Terminal(), link);
    return true;
  }

  std::string dir;
  std::vector<std::string> slots;
  std::unique_ptr<SeenWatch> watch;
  AnsweringDialogs dialogs;
  StateLog log;
  std::unique_ptr<StationWindow> window;
};

TEST(StationWindow, TilesFollowRealBurnsOnPlcsimSlots) {
  const struct {
    const char* name;
    std::vector<std::string> sim;
    std::vector<SlotState> through;
    bool replug;
    std::string note;
  } cases[] = {
      {"VL with its re-plug",
       {"--model", "VL"},
       {S::Burning, S::Replug, S::Burning, S::Ok},
       true,
       "SUCCESSFUL"},
      {"another model in the socket", {"--model", "QN4"}, {S::Burning, S::Failed}, false, ""},
  };
  for (const auto& c : cases) {
    Bench bench({"plc"});
    ASSERT_TRUE(bench.WaitTile(bench.slots[0], S::Empty)) << c.name;
    Plcsim sim(c.sim);
    ASSERT_FALSE(sim.Terminal().empty()) << c.name;
    const std::string link = bench.Plug(sim, "plc1");
    if (c.replug) {
      ASSERT_TRUE(bench.WaitTile(link, S::Replug)) << c.name;
      EXPECT_TRUE(bench.TileOf(link).showsPanel) << c.name;
      ASSERT_TRUE(bench.Replug(link, sim)) << c.name;
    }
    const SlotState end = c.through.back();
    ASSERT_TRUE(bench.WaitTile(link, end)) << c.name;
    const StationTile ended = bench.TileOf(link);
    EXPECT_NE(ended.message.find(c.note), std::string::npos) << c.name << ": " << ended.message;
    EXPECT_FALSE(ended.message.empty()) << c.name;
    EXPECT_EQ(bench.log.Of(link), c.through) << c.name;
    const auto totals = bench.window->Totals();
    EXPECT_EQ(totals.burned + totals.failed, 1) << c.name;
    EXPECT_EQ(totals.failed, end == S::Failed ? 1 : 0) << c.name;
    // The ended tile stays until the device goes; then its slot is empty again.
    std::filesystem::remove(link);
    EXPECT_TRUE(bench.WaitTile(bench.slots[0], S::Empty)) << c.name;
    EXPECT_EQ(bench.TileOf(link).name, "") << c.name;
  }
}

// A real run with every kind of tile, for the docs; closing it mid-burn asks first.
TEST(StationWindow, ScreenshotOfARealRunAndClosingAsks) {
  Bench bench({"socket1-", "socket2-", "socket3-", "socket4-", "socket5-", "socket6-"});
  bench.window->show();
  Plcsim ok({"--model", "VL"}), wrong({"--model", "QN4"}), waiting({"--model", "VL"}),
      slow({"--model", "VL", "--line-rate"});
  const std::string a = bench.Plug(ok, "socket1-a"), b = bench.Plug(wrong, "socket2-b"),
                    c = bench.Plug(waiting, "socket3-c"), d = bench.Plug(slow, "socket4-d");
  ASSERT_TRUE(bench.WaitTile(a, S::Replug));
  ASSERT_TRUE(bench.Replug(a, ok));
  ASSERT_TRUE(bench.WaitTile(d, S::Replug));
  ASSERT_TRUE(bench.Replug(d, slow));
  ASSERT_TRUE(bench.WaitTile(a, S::Ok));
  ASSERT_TRUE(bench.WaitTile(b, S::Failed));
  ASSERT_TRUE(bench.WaitTile(c, S::Replug));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const auto v = bench.TileOf(d).values;
        return v.state == S::Burning && v.flashStatus == PROGRAM && v.progress >= 20;
      },
      kWaitMs));
  const QImage shot = bench.window->grab().toImage();
  EXPECT_EQ(shot.size(), QSize(1280, 800));
  QDir().mkpath(PLCBURN_SCREENSHOT_DIR);
  EXPECT_TRUE(shot.save(QString(PLCBURN_SCREENSHOT_DIR) + "/station.png"));

  bench.dialogs.answer = false;
  EXPECT_FALSE(bench.window->close());
  EXPECT_EQ(bench.dialogs.asked, 1);
  EXPECT_EQ(bench.TileOf(c).state, S::Replug);
  bench.dialogs.answer = true;
  EXPECT_TRUE(bench.window->close());
  EXPECT_EQ(bench.dialogs.asked, 2);
  EXPECT_FALSE(bench.window->Burning());
}

}  // namespace
}  // namespace plcburn
