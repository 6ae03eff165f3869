// plcburn-cli --watch as a program of its own: simulated PLCs on pseudo-terminals, linked into
// temporary folders as a hub's sockets would appear under /dev, come and go as its slots.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/catalogue.h"
#include "core/stopped_burn.h"
#include "sim/plc_sim.h"
#include "tests/support/cli_run.h"
#include "tests/support/plc_on_pty.h"
#include "tests/support/pty_pair.h"

namespace plcburn {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::PlcOnPty;
using test::WaitUntil;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLong(30000);  // bound of a wait for what must come; a busy machine is slow

std::vector<std::uint8_t> Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines of `text` that begin with "`port`: " and hold `what`.
std::size_t Lines(const std::string& text, const std::string& port, const std::string& what) {
  std::istringstream lines(text);
  std::size_t n = 0;
  for (std::string line; std::getline(lines, line);)
    n += line.starts_with(port + ": ") && line.find(what) != std::string::npos;
  return n;
}

// plcsim in a process of its own; it exits once the image is in, and its terminal goes.
class PlcsimProcess {
 public:
  PlcsimProcess(const fs::path& work, const std::string& name, std::vector<std::string> args)
      : saved_(work / (name + ".received")) {
    const fs::path ptyFile = work / (name + ".pty");
    args.insert(args.begin(), PLCSIM);
    args.insert(args.end(), {"--save", saved_.string()});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (!std::freopen(ptyFile.c_str(), "w", stdout)) ::_exit(126);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    WaitUntil(kLong, [&] {
      std::ifstream in(ptyFile);
      return std::getline(in, path_) && !path_.empty();
    });
  }
  ~PlcsimProcess() {
    Kill();
    Exited(milliseconds(5000));
  }
  const std::string& Path() const { return path_; }
  std::vector<std::uint8_t> Saved() const { return Bytes(saved_); }
  void Kill() const { ::kill(pid_, SIGKILL); }
  bool Exited(milliseconds limit) {
    return WaitUntil(
        limit, [&] { return exited_ || (exited_ = ::waitpid(pid_, nullptr, WNOHANG) == pid_); });
  }

 private:
  fs::path saved_;
  pid_t pid_ = -1;
  bool exited_ = false;
  std::string path_;
};

// Two folders of sockets ("a" and "b"), the images, and what is plugged into them.
class StationBench {
 public:
  StationBench() {
    std::string tmpl = (fs::temp_directory_path() / "plcburn-station-XXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    fs::create_directory(root_ / "a");
    fs::create_directory(root_ / "b");
    for (const char* model : {"QN4", "TR7-B"}) {
      std::mt19937 random(7);
      std::ofstream out(Image(model), std::ios::binary);
      for (int i = 0; i < 16384; ++i) out.put(static_cast<char>(random()));
    }
  }
  ~StationBench() {
    sims_.clear();
    lasting_.clear();
    fs::remove_all(root_);
  }

  fs::path Root() const { return root_; }
  std::string Image(const std::string& model) const {
    return (root_ / (model + "_station.bin")).string();
  }
  std::string Slot(const char* folder) const { return (root_ / folder / "plc*").string(); }

  // The station on the slots of folder a (and b), burning `model`, once it has started. With
  // --now, a PLC plugged before its first look is burned all the same: a slow start cannot
  // leave it out.
  std::unique_ptr<CliRun> Station(const std::string& model,
                                  std::vector<std::string> more = {"--now"}, bool both = false) {
    std::vector<std::string> args{"--watch", Slot("a")};
    if (both) args.push_back(Slot("b"));
    args.insert(args.end(), {"--image", Image(model)});
    args.insert(args.end(), more.begin(), more.end());
    return StationWith(args);
  }
  // The station with these arguments and the log.
  std::unique_ptr<CliRun> StationWith(std::vector<std::string> args) {
    args.insert(args.end(), {"--log", (root_ / "burns.jsonl").string()});
    auto cli = std::make_unique<CliRun>(CliRun::Setup{.args = args});
    EXPECT_TRUE(cli->WaitForErr("plcburn-cli: station for", kLong)) << cli->Err();
    return cli;
  }

  // plcsim of `model` plugged in as socket `name` of each folder; returns it.
  PlcsimProcess& Plug(const std::string& name, const std::string& model,
                      std::vector<std::string> more = {},
                      std::vector<const char*> folders = {"a"}) {
    more.insert(more.begin(), {"--model", model});
    sims_.push_back(std::make_unique<PlcsimProcess>(root_, name, more));
    for (const char* folder : folders) fs::create_symlink(sims_.back()->Path(), Link(name, folder));
    return *sims_.back();
  }
  // plcsim plugged in as socket `name` of folder a in one step, replacing what was there: a node
  // reused before the station saw the one before it go.
  PlcsimProcess& PlugOver(const std::string& name, const std::string& model) {
    sims_.push_back(std::make_unique<PlcsimProcess>(root_, name + "-over",
                                                    std::vector<std::string>{"--model", model}));
    const fs::path staged = root_ / (name + ".staged");
    fs::create_symlink(sims_.back()->Path(), staged);
    fs::rename(staged, Link(name));
    return *sims_.back();
  }
  PlcOnPty& PlugLasting(const std::string& name, const std::string& model) {
    lasting_.push_back(std::make_unique<PlcOnPty>(model));
    fs::create_symlink(lasting_.back()->Path(), Link(name));
    return *lasting_.back();
  }
  std::string Link(const std::string& name, const char* folder = "a") const {
    return (root_ / folder / name).string();
  }
  std::string Log() const {
    const std::vector<std::uint8_t> bytes = Bytes(root_ / "burns.jsonl");
    return {bytes.begin(), bytes.end()};
  }

 private:
  fs::path root_;
  std::vector<std::unique_ptr<PlcsimProcess>> sims_;
  std::vector<std::unique_ptr<PlcOnPty>> lasting_;
};

constexpr char kOk[] = "Firmware update is SUCCESSFUL";

// Burned and saved by plcsim as it was sent.
void ExpectBurned(CliRun& cli, StationBench& bench, PlcsimProcess& plc, const std::string& link,
                  const std::string& model) {
  ASSERT_TRUE(WaitUntil(kLong, [&] { return Lines(cli.Out(), link, kOk) == 1; }))
      << cli.Out() << cli.Err();
  ASSERT_TRUE(plc.Exited(kLong));
  EXPECT_EQ(plc.Saved(), Bytes(bench.Image(model)));
}

TEST(StationCli, SlotsFollowThePlugs) {
  const struct {
    const char* what;
    std::function<void(StationBench&)> run;
  } cases[] = {
      {"a COM model burned byte for byte; its slot empty once it has gone",
       [](StationBench& bench) {
         auto cli = bench.Station("QN4");
         PlcsimProcess& plc = bench.Plug("plc1", "QN4");
         ExpectBurned(*cli, bench, plc, bench.Link("plc1"), "QN4");
         // plcsim has gone with its terminal; its link goes as udev's would.
         fs::remove(bench.Link("plc1"));
         EXPECT_TRUE(WaitUntil(kLong, [&] {
           return Lines(cli->Err(), bench.Link("plc1"), "empty");
         })) << cli->Err();
         // The record names the slot as given, the device in it and the port opened.
         EXPECT_TRUE(WaitUntil(kLong, [&] {
           return bench.Log().find("\"port\":\"" + bench.Link("plc1") + "\",\"slot\":\"" +
                                   bench.Slot("a") + "\",\"device\":\"/dev/pts/") !=
                  std::string::npos;
         })) << bench.Log();
       }},
      {"a power-cycle model goes through with its pause, confirmed by the station",
       [](StationBench& bench) {
         auto cli = bench.Station("TR7-B");
         PlcsimProcess& plc = bench.Plug("plc1", "TR7-B");
         ExpectBurned(*cli, bench, plc, bench.Link("plc1"), "TR7-B");
         EXPECT_EQ(Lines(cli->Err(), bench.Link("plc1"),
                         "power cycle confirmed by the station, pause of 2000 ms"),
                   1u)
             << cli->Err();
       }},
      {"a PLC left plugged in is not burned twice",
       [](StationBench& bench) {
         auto cli = bench.Station("QN4");
         PlcOnPty& left = bench.PlugLasting("plc1", "QN4");
         ASSERT_TRUE(WaitUntil(kLong, [&] { return Lines(cli->Out(), bench.Link("plc1"), kOk); }))
             << cli->Out() << cli->Err();
         const std::size_t erases = left.Counters().bootErases;
         // The next plug's whole burn is time enough for a second burn of the first to begin.
         PlcsimProcess& next = bench.Plug("plc2", "QN4");
         ExpectBurned(*cli, bench, next, bench.Link("plc2"), "QN4");
         EXPECT_EQ(left.Counters().bootErases, erases);
         EXPECT_EQ(Lines(cli->Err(), bench.Link("plc1"), "burning"), 1u) << cli->Err();
       }},
      {"a PLC present at the start is left alone, and burned with --now",
       [](StationBench& bench) {
         PlcOnPty& present = bench.PlugLasting("plc0", "QN4");
         {
           auto cli = bench.Station("QN4", {});
           PlcsimProcess& plc = bench.Plug("plc1", "QN4");
           ExpectBurned(*cli, bench, plc, bench.Link("plc1"), "QN4");
           EXPECT_EQ(present.Received().size(), 0u);
           EXPECT_EQ(Lines(cli->Err() + cli->Out(), bench.Link("plc0"), ""), 0u) << cli->Err();
         }
         auto cli = bench.Station("QN4", {"--now"});
         EXPECT_TRUE(WaitUntil(kLong, [&] { return Lines(cli->Out(), bench.Link("plc0"), kOk); }))
             << cli->Out() << cli->Err();
       }},
      {"the same node through two slots is burned once",
       [](StationBench& bench) {
         auto cli = bench.Station("QN4", {"--now"}, true);
         PlcsimProcess& plc = bench.Plug("plc1", "QN4", {}, {"b", "a"});
         ASSERT_TRUE(plc.Exited(kLong));
         EXPECT_EQ(plc.Saved(), Bytes(bench.Image("QN4")));
         fs::remove(bench.Link("plc1", "a"));
         fs::remove(bench.Link("plc1", "b"));
         // Its end, and that of a burn through the other link if one had begun.
         ASSERT_TRUE(WaitUntil(kLong, [&] {
           return Lines(cli->Err(), bench.Link("plc1", "b"), "empty") +
                      Lines(cli->Err(), bench.Link("plc1", "a"), "empty") >=
                  1;
         })) << cli->Err();
         EXPECT_EQ(Lines(cli->Err(), bench.Link("plc1", "a"), "burning") +
                       Lines(cli->Err(), bench.Link("plc1", "b"), "burning"),
                   1u)
             << cli->Err();
       }},
      {"a PLC that vanishes mid-burn fails within a second; the other slots go on",
       [](StationBench& bench) {
         auto cli = bench.Station("QN4");
         PlcsimProcess& slow = bench.Plug("plc2", "QN4", {"--line-rate"});
         // Should plc2 end first (a busy machine), its link stays while its terminal goes: held
         // open here, the terminal's number is not handed to plc3, which the link would then name.
         const int holdsNumber = ::open(slow.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
         ASSERT_GE(holdsNumber, 0);
         const std::unique_ptr<const int, void (*)(const int*)> released(
             &holdsNumber, [](const int* fd) { ::close(*fd); });
         auto failsOnceGone = [&](const std::string& link, PlcsimProcess& plc) {
           ASSERT_TRUE(plc.Exited(kLong));
           const auto gone = Clock::now();
           ASSERT_TRUE(WaitUntil(kLong, [&] { return Lines(cli->Out(), link, "ERROR"); }))
               << cli->Out();
           EXPECT_LT(Clock::now() - gone, milliseconds(1000)) << link;
           // Its link goes as udev's would, and is seen gone before the next terminal, which
           // may get the same number, appears.
           fs::remove(link);
           ASSERT_TRUE(WaitUntil(kLong, [&] { return Lines(cli->Err(), link, "empty"); }))
               << cli->Err();
         };
         // One closes its terminal in the middle of the transfer, at block 8; one is killed
         // while its burn runs, in whatever step.
         failsOnceGone(bench.Link("plc1"), bench.Plug("plc1", "QN4", {"--fault", "hangup:8"}));
         PlcsimProcess& killed = bench.Plug("plc3", "QN4", {"--line-rate"});
         ASSERT_TRUE(
             WaitUntil(kLong, [&] { return Lines(cli->Err(), bench.Link("plc3"), "burning"); }));
         killed.Kill();
         failsOnceGone(bench.Link("plc3"), killed);
         EXPECT_EQ(Lines(cli->Out(), bench.Link("plc2"), "ERROR"), 0u) << cli->Out();
         ExpectBurned(*cli, bench, slow, bench.Link("plc2"), "QN4");
       }},
      {"SIGTERM ends the station with 143, its running burn recorded as stopped",
       [](StationBench& bench) {
         auto cli = bench.Station("QN4");
         bench.Plug("plc1", "QN4", {"--line-rate"});
         ASSERT_TRUE(
             WaitUntil(kLong, [&] { return Lines(cli->Err(), bench.Link("plc1"), "burning"); }));
         cli->Signal(SIGTERM);
         ASSERT_TRUE(cli->WaitExit(kLong));
         EXPECT_EQ(cli->ExitStatus(), 143);
         EXPECT_EQ(Lines(cli->Out(), bench.Link("plc1"), std::string(kMsgBurnStopped)), 1u)
             << cli->Out();
         EXPECT_NE(bench.Log().find("\"stopped\":true"), std::string::npos) << bench.Log();
       }},
      {"SIGTERM while a plug is being taken ends its burn as stopped, with its record",
       [](StationBench& bench) {
         // With --images the PLC is identified first: the stop comes in the middle of that.
         auto cli = bench.StationWith(
             {"--watch", bench.Slot("a"), "--images", bench.Root().string(), "--now"});
         PlcsimProcess& plc = bench.Plug("plc1", "QN4", {"--line-rate"});
         ASSERT_TRUE(
             WaitUntil(kLong, [&] { return Lines(cli->Err(), bench.Link("plc1"), "burning"); }));
         const auto stopped = Clock::now();
         cli->Signal(SIGTERM);
         ASSERT_TRUE(cli->WaitExit(kLong));
         EXPECT_LT(Clock::now() - stopped, milliseconds(1500));
         EXPECT_EQ(cli->ExitStatus(), 143);
         EXPECT_EQ(Lines(cli->Out(), bench.Link("plc1"), std::string(kMsgBurnStopped)), 1u)
             << cli->Out();
         EXPECT_NE(bench.Log().find("\"stopped\":true"), std::string::npos) << bench.Log();
         EXPECT_TRUE(plc.Saved().empty());
       }},
      {"an image of --images whose signature went since the start is refused, on record",
       [](StationBench& bench) {
         const std::string root = bench.Root().string();
         const std::string sign = "cd '" + root + "' && minisign -G -W -p A.pub -s A.key && " +
                                  "minisign -S -s A.key -m QN4_station.bin TR7-B_station.bin";
         ASSERT_EQ(std::system((sign + " >/dev/null").c_str()), 0);
         auto cli = bench.StationWith({"--watch", bench.Slot("a"), "--images", root,
                                       "--trusted-key", root + "/A.pub", "--now"});
         fs::remove(bench.Image("QN4") + ".minisig");
         PlcOnPty& plc = bench.PlugLasting("plc1", "QN4");
         ASSERT_TRUE(WaitUntil(kLong,
                               [&] {
                                 return bench.Log().find(
                                            R"("refused":{"reason":"unsigned","key_id":null})") !=
                                        std::string::npos;
                               }))
             << bench.Log() << cli->Out() << cli->Err();
         EXPECT_NE(bench.Log().find(R"("step":"image check")"), std::string::npos);
         EXPECT_EQ(plc.Counters().eraseRequests + plc.Counters().bootErases, 0u);
         EXPECT_FALSE(plc.TransferComplete());
       }},
      {"a node reused before the station saw the one before go is a new PLC, burned",
       [](StationBench& bench) {
         auto cli = bench.Station("QN4");
         PlcsimProcess& first = bench.Plug("plc1", "QN4");
         ExpectBurned(*cli, bench, first, bench.Link("plc1"), "QN4");
         // Its terminal has gone, its link has not: nothing told the station. The next PLC's
         // terminal (likely the same number) takes the link's place in one step.
         PlcsimProcess& next = bench.PlugOver("plc1", "QN4");
         ASSERT_TRUE(
             WaitUntil(kLong, [&] { return Lines(cli->Out(), bench.Link("plc1"), kOk) == 2; }))
             << cli->Out() << cli->Err();
         ASSERT_TRUE(next.Exited(kLong));
         EXPECT_EQ(next.Saved(), Bytes(bench.Image("QN4")));
       }},
      {"a slot's folder deleted and made again is watched again",
       [](StationBench& bench) {
         auto cli = bench.Station("QN4");
         PlcsimProcess& first = bench.Plug("plc1", "QN4");
         ExpectBurned(*cli, bench, first, bench.Link("plc1"), "QN4");
         fs::remove_all(bench.Root() / "a");  // as udev takes /dev/serial/by-path with the last
         ASSERT_TRUE(WaitUntil(kLong, [&] {
           return Lines(cli->Err(), bench.Link("plc1"), "empty");
         })) << cli->Err();
         fs::create_directory(bench.Root() / "a");
         PlcsimProcess& second = bench.Plug("plc2", "QN4");
         ExpectBurned(*cli, bench, second, bench.Link("plc2"), "QN4");
       }},
      {"an entry that is no serial device is said once and never opened",
       [](StationBench& bench) {
         std::ofstream(bench.Link("plc-file")) << "";
         ASSERT_EQ(::mkfifo(bench.Link("plc-fifo").c_str(), 0600), 0);
         auto cli = bench.Station("QN4", {"--now", "--json"});
         PlcsimProcess& plc = bench.Plug("plc1", "QN4");  // the station looks again and again
         ASSERT_TRUE(plc.Exited(kLong));
         ASSERT_TRUE(WaitUntil(
             kLong, [&] { return cli->Out().find("\"event\":\"result\"") != std::string::npos; }));
         for (const char* name : {"plc-file", "plc-fifo"}) {
           const std::string said = "plcburn-cli: " + bench.Link(name) + " (slot ";
           std::size_t times = 0;
           for (std::size_t at = cli->Err().find(said); at != std::string::npos;
                at = cli->Err().find(said, at + 1))
             ++times;
           EXPECT_EQ(times, 1u) << cli->Err();

           EXPECT_NE(cli->Out().find("{\"event\":\"misfit\",\"port\":\"" + bench.Link(name) + "\""),
                     std::string::npos)
               << cli->Out();
         }
         EXPECT_EQ(fs::file_size(bench.Link("plc-file")), 0u);
         EXPECT_EQ(bench.Log().find("plc-f"), std::string::npos) << bench.Log();
       }},
      {"--json gives each burn's events as a one-shot burn does, with slot and device",
       [](StationBench& bench) {
         auto cli = bench.Station("QN4", {"--now", "--json"});
         PlcsimProcess& plc = bench.Plug("plc1", "QN4");
         ASSERT_TRUE(plc.Exited(kLong));
         ASSERT_TRUE(WaitUntil(
             kLong, [&] { return cli->Out().find("\"event\":\"result\"") != std::string::npos; }));
         std::vector<std::string> events;
         std::istringstream lines(cli->Out());
         const std::string from = "\"port\":\"" + bench.Link("plc1") + "\",\"slot\":\"" +
                                  bench.Slot("a") + "\",\"device\":\"/dev/pts/";
         for (std::string line; std::getline(lines, line);) {
           EXPECT_NE(line.find(from), std::string::npos) << line;
           events.push_back(line.substr(10, line.find('"', 10) - 10));
         }
         ASSERT_FALSE(events.empty());
         EXPECT_EQ(events.front(), "phase");
         EXPECT_EQ(events.back(), "result") << "the result is last";
         for (const char* kind : {"progress", "message"})
           EXPECT_NE(std::find(events.begin(), events.end(), kind), events.end()) << kind;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StationBench bench;
    c.run(bench);
  }
}

}  // namespace
}  // namespace plcburn
