#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/cli_journal.h"
#include "app/cli/console_operator.h"
#include "core/result_codes.h"
#include "core/stopped_burn.h"
#include "record/burn_log.h"
#include "record/burn_log_check.h"
#include "record/burn_record_json.h"
#include "record/file_append.h"
#include "tests/support/sim_bench.h"

namespace plcburn {
namespace {

using testing::Bench;
using Json = nlohmann::json;

constexpr std::uint64_t kWallBase = 1772352902345;  // 2026-03-01T08:15:02.345Z

// Keeps records in memory, notes how many messages the operator had seen by then, and may stop
// the burn as a phase begins.
class MemoryJournal : public BurnJournal {
 public:
  explicit MemoryJournal(Bench& b) : b_(b) {}
  void PhaseBegins(BurnPhase phase) override {
    if (phase == stopAt) control.Cancel();
  }
  void Keep(const BurnRecord& record) override {
    records.push_back(record);
    messagesSeen = b_.ui.messages.size();
  }

  std::optional<BurnPhase> stopAt;
  BurnControl control;
  std::vector<BurnRecord> records;
  std::size_t messagesSeen = 0;

 private:
  Bench& b_;
};

BurnRecording RecordingOn(Bench& b, BurnJournal& journal) {
  return {journal,
          {"station-7", "VL_test.bin", std::string(64, 'a'), "FC31175C19F83329", "VL v190", "", "",
           "4711-0193"},
          [&b] { return b.clock.NowMs(); },
          [&b] { return kWallBase + b.clock.NowMs(); }};
}

std::filesystem::path FreshFolder(const std::string& name) {
  const auto folder = std::filesystem::temp_directory_path() / ("plcburn-record-" + name);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

struct RecordCase {
  const char* name;
  const char* model;
  std::size_t imageLength;
  SimOptions sim;
  std::string mutedCommand;
  std::optional<BurnPhase> stopAt;
  // expected
  bool ok;
  std::optional<std::uint8_t> code;
  std::string step;
  BurnRecord::Blocks blocks;  // sent and resent
  BurnRecord::Plc plc;
  std::uint64_t minHandshakeMs;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
  *os << c.name;
}

class BurnRecordOf : public ::testing::TestWithParam<RecordCase> {};

TEST_P(BurnRecordOf, OneRecordBeforeTheFinalMessage) {
  const RecordCase& c = GetParam();
  Bench b(c.model, c.imageLength, c.sim);
  testing::MutingOpener muting(b.opener, c.mutedCommand);
  MemoryJournal journal(b);
  journal.stopAt = c.stopAt;
  BurnRecording recording = RecordingOn(b, journal);
  b.Run(c.mutedCommand.empty() ? nullptr : &muting, &journal.control, &recording);

  ASSERT_EQ(journal.records.size(), 1u);
  EXPECT_EQ(journal.messagesSeen, b.ui.messages.size() - 1) << "kept before the final message";
  const BurnRecord& r = journal.records[0];
  EXPECT_EQ(r.result.ok, c.ok);
  EXPECT_EQ(r.result.ok, b.Final().icon == MessageIcon::Information);
  EXPECT_EQ(r.result.code, c.code);
  EXPECT_EQ(r.result.step, c.step);
  EXPECT_EQ(r.result.caption + ": " + r.result.text, b.Final().caption + ": " + b.Final().text);
  EXPECT_EQ(r.result.stopped, c.stopAt.has_value());
  EXPECT_TRUE(!r.result.stopped || r.result.text == kMsgBurnStopped);
  EXPECT_EQ(r.blocks.sent, c.blocks.sent);
  EXPECT_EQ(r.blocks.resent, c.blocks.resent);
  EXPECT_EQ(r.plc, c.plc);
  EXPECT_EQ(r.errorsTotal, static_cast<std::uint32_t>(b.Final().totalErrCounter));
  const auto& p = r.phases;
  EXPECT_GE(p.handshakeMs, c.minHandshakeMs);
  EXPECT_GE(p.reconnectMs, std::accumulate(b.ui.waits.begin(), b.ui.waits.end(), 0ull));
  EXPECT_LE(p.handshakeMs + p.reconnectMs + p.eraseMs + p.transferMs, r.durationMs);

  // The line a log gets: one line that reads back as the same record.
  const std::string line = RecordLine(r);
  ASSERT_EQ(line.find('\n'), line.size() - 1);
  const Json j = Json::parse(line);
  EXPECT_EQ(j["schema"], 1);
  EXPECT_EQ(j["start"], "2026-03-01T08:15:02.345Z");
  EXPECT_EQ(j["end"], IsoUtc(kWallBase + r.durationMs));
  const bool usb = ModelAt(b.row).IsUsb();
  EXPECT_EQ(j["port"].get<std::string>() + " " + j["link"].get<std::string>(),
            usb ? "USB usb" : "ttyS9 serial");
  EXPECT_EQ(
      j["image"],
      Json::parse(R"({"name":"VL_test.bin","size":)" + std::to_string(c.imageLength) +
                  R"(,"sha256":")" + std::string(64, 'a') +
                  R"(","signature":{"key_id":"FC31175C19F83329","trusted_comment":"VL v190"}})"));
  EXPECT_EQ(j["result"]["code"].is_null(), !c.code.has_value());
  EXPECT_EQ(j["plc"]["identifier"].is_null(), !c.plc.identifier.has_value());
  EXPECT_EQ(j["plc"]["serial"], "4711-0193");
  EXPECT_EQ(j["warnings"], Json::array());
}

constexpr BurnRecord::Plc kVlPlc{0x0015, 0x0015, {}, {}, {}, {}};
constexpr BurnRecord::Plc kVlBoot{{}, 0x0015, {}, {}, {}, {}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Ends, BurnRecordOf,
    ::testing::Values(
        RecordCase{"success", "VL", 50000, testing::Faults({"lose-ack:3"}), "", {},
                   true, RC_OK, "SendFW", {0, 196, 1}, kVlPlc, 2000},
        RecordCase{"zn500_versions", "ZN500", 10000, {}, "", {},
                   true, RC_OK, "SendFW", {0, 24, 0}, {0x3000, 0x3000, 1, 0x0100, {}, {}}, 0},
        RecordCase{"tr7b_register", "TR7-B", 5000, {}, "", {},
                   true, RC_OK, "SendFW", {0, 40, 0}, {0x000C, 0x000C, {}, {}, 0x4138, {}}, 0},
        RecordCase{"refused_size", "VL", 491521, {}, "", {},
                   false, {}, "size check", {}, {}, 0},
        RecordCase{"no_response", "QN4", 5000, testing::Faults({"silence"}), "", {},
                   false, RC_NO_RESPONSE, "ConfirmComm", {}, {}, 18000},
        RecordCase{"run_mode", "QN4", 5000, testing::Faults({"nak:1:1"}), "", {},
                   false, RC_RUN_MODE, "ConfirmComm", {}, {}, 0},
        RecordCase{"wrong_identifier", "QN4", 5000, testing::Faults({"wrong-id-app"}), "", {},
                   false, RC_NO_RESPONSE, "CheckID_A", {}, {0x010E, {}, {}, {}, {}, {}}, 2000},
        RecordCase{"no_erase", "VL", 50000, testing::Faults({}, true), "ERASE", {},
                   false, RC_FAIL, "SendErase_B", {}, kVlBoot, 0},
        RecordCase{"failed_transfer", "VL", 50000, testing::Faults({"hangup:5"}, true), "", {},
                   false, RC_FAIL, "SendFW", {0, 6, 5}, kVlBoot, 0},
        RecordCase{"interrupted", "VL", 50000, {}, "", BurnPhase::Transfer,
                   false, RC_FAIL, "SendUpdate", {}, kVlPlc, 0}),
    [](const auto& param) { return std::string(param.param.name); });
// clang-format on

// The console's messages and prompts, with its pauses taken on the virtual clock.
class VirtualPauses : public Operator {
 public:
  VirtualPauses(ConsoleBoard& board, Bench& b)
      : console_(board, board.Add(b.selection.ComPort(), b.state)), clock_(b.clock) {}
  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override {
    console_.ShowMessage(caption, text, icon);
  }
  bool Prompt(const ReconnectPrompt& prompt) override { return console_.Prompt(prompt); }
  void SetStartEnabled(bool) override {}
  void WaitMs(std::uint32_t ms) override { clock_.Advance(ms); }

 private:
  ConsoleOperator console_;
  VirtualClock& clock_;
};

// plcburn-cli's parts as its main puts them together for a gang burn of four with --json: the
// log gets four whole lines, and the stream, read line by line, ends each port's events with its
// result.
TEST(GangBurn, FourLinesInTheLogAndEachPortsStreamEndsWithItsResult) {
  const auto log = FreshFolder("gang") / "state" / "burns.jsonl";
  BurnLog burnLog(log);
  std::FILE* out = std::tmpfile();
  JsonEvents events(out);
  struct PortBurn {
    PortBurn(const std::string& port, BurnLog& log, JsonEvents& events, ConsoleBoard& board)
        : bench("MX7-GLT", 3000, {}, port),
          journal(port, &log, &events),
          recording(RecordingOn(bench, journal)),
          ui(board, bench) {}
    Bench bench;
    CliJournal journal;
    BurnRecording recording;
    VirtualPauses ui;
  };
  std::vector<std::unique_ptr<PortBurn>> burns;
  {
    ConsoleBoard board(true, out, out);
    board.SendEventsTo(events);
    for (int i = 0; i < 4; ++i)
      burns.push_back(
          std::make_unique<PortBurn>("ttyUSB" + std::to_string(i), burnLog, events, board));
    board.Start();
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < burns.size(); ++i) {
      threads.emplace_back([&, i] {
        Bench& b = burns[i]->bench;
        BurnSession session{b.state, b.selection, burns[i]->ui,        b.opener,
                            b.image, nullptr,     &burns[i]->recording};
        StartBurn(session);
        board.BurnEnded(i);
        burns[i]->journal.SendResult();
      });
    }
    for (auto& t : threads) t.join();
  }
  // The event's record is the log's line without the log's own chain.
  std::map<std::string, Json> logged;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    Json record = Json::parse(line);
    record.erase("seq");
    record.erase("prev_sha256");
    logged[record["port"]] = record;
  }
  EXPECT_EQ(logged.size(), 4u);
  std::ifstream again(log);
  EXPECT_EQ(CheckBurnLog(again).checked, 4u);

  std::rewind(out);
  std::map<std::string, std::vector<Json>> byPort;
  for (char line[8192]; std::fgets(line, sizeof line, out) != nullptr;) {
    const Json event = Json::parse(line);
    byPort[event["port"]].push_back(event);
  }
  std::fclose(out);
  ASSERT_EQ(byPort.size(), 4u);
  for (const auto& [port, stream] : byPort) {
    std::vector<std::string> kinds;
    for (const Json& e : stream)
      if (e["event"] != "progress") kinds.push_back(e["event"]);
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"phase", "prompt", "phase", "phase", "message", "result"}))
        << port;
    EXPECT_TRUE(stream.back()["ok"]);
    EXPECT_EQ(stream.back()["record"], logged[port]);
  }
}

TEST(BurnLog, UnwritableLogLeavesASuccessfulBurnSuccessful) {
  const auto folder = FreshFolder("unwritable");
  std::ofstream(folder / "file") << "not a folder";
#ifndef _WIN32
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
#endif
  const struct {
    std::filesystem::path log;
    const char* reason;
  } cases[] = {
      {folder / "file" / "burns.jsonl", ""},
      {folder, "not a regular file"},
#ifndef _WIN32
      {folder / "fifo", "not a regular file"},  // nobody reads it: must not wait for one
      {"/dev/null", "not a regular file"},
#endif
  };
  for (const auto& c : cases) {
    std::vector<std::string> warnings;
    BurnLog journal(c.log, [&](const std::string& w) { warnings.push_back(w); });
    for (int burn = 0; burn < 2; ++burn) {
      Bench b("QN4", 5000, testing::Faults({}, true));
      BurnRecording recording = RecordingOn(b, journal);
      b.Run(nullptr, nullptr, &recording);
      EXPECT_EQ(b.Final().text, "Firmware update is SUCCESSFUL");
      b.ExpectCleanEnd();
    }
    ASSERT_EQ(warnings.size(), 1u) << c.log << ": one warning, not one per burn";
    EXPECT_NE(warnings[0].find(c.log.string()), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find(c.reason), std::string::npos) << warnings[0];
  }
}

BurnRecord LoggedRecord(int n, std::size_t textLength = 30) {
  BurnRecord r;
  r.facts.host = "station-7";
  r.port = "ttyS" + std::to_string(n);
  r.model = "QN4";
  r.startMs = r.endMs = kWallBase + static_cast<std::uint64_t>(n);
  r.result.text = std::string(textLength, 'x');
  return r;
}

// The log's lines, each with its newline where it has one.
std::vector<std::string> LinesOf(const std::filesystem::path& log) {
  std::ifstream in(log, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

void Rewrite(const std::filesystem::path& log, const std::vector<std::string>& lines) {
  std::ofstream out(log, std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines) out << line;
}

void Burns(const std::filesystem::path& log, int count, int first = 1,
           std::size_t textLength = 30) {
  BurnLog journal(log);
  for (int n = first; n < first + count; ++n) journal.Keep(LoggedRecord(n, textLength));
}

// Spoils line `n` of the log (from 1) in place.
void Spoil(const std::filesystem::path& log, std::size_t n,
           const std::function<void(std::vector<std::string>&, std::size_t)>& spoil) {
  std::vector<std::string> lines = LinesOf(log);
  spoil(lines, n - 1);
  Rewrite(log, lines);
}

#ifdef _WIN32
constexpr int kOtherProcessBurns = 0;
#else
constexpr int kOtherProcessBurns = 40;
#endif

// Burns of four threads and, on Linux, of a second process, all at once on one log.
void BurnsAtOnce(const std::filesystem::path& log) {
#ifndef _WIN32
  // Forked before any thread is started, so the child inherits no lock of a thread's.
  const pid_t child = fork();
  if (child == 0) {
    Burns(log, kOtherProcessBurns, 1000);
    _exit(0);
  }
#endif
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&log, t] { Burns(log, 40, 100 * t); });
  for (std::thread& t : threads) t.join();
#ifndef _WIN32
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
#endif
}

TEST(BurnLog, ItsChainShowsEveryEditAndOnlyThem) {
  namespace fs = std::filesystem;
  using enum LogFinding;
  const auto older = [](int n) { return RecordLine(LoggedRecord(n)); };
  const struct {
    const char* what;
    std::function<void(const fs::path& log)> make;  // the log as the row leaves it
    bool intact;
    std::uint64_t checked;
    std::vector<std::pair<LogFinding, std::uint64_t>> notes;  // and their lines
  } cases[] = {
      {"intact", [](const fs::path& log) { Burns(log, 5); }, true, 5, {}},
      {"records longer than a block read back",
       [](const fs::path& log) { Burns(log, 3, 1, 20000); },
       true,
       3,
       {}},
      {"a field edited",
       [](const fs::path& log) {
         Burns(log, 5);
         Spoil(log, 2, [](auto& lines, std::size_t i) {
           lines[i].replace(lines[i].find("ttyS2"), 5, "ttyS7");
         });
       },
       false,
       2,
       {{Edited, 2}}},
      {"a line removed",
       [](const fs::path& log) {
         Burns(log, 5);
         Spoil(log, 3, [](auto& lines, std::size_t i) { lines.erase(lines.begin() + i); });
       },
       false,
       2,
       {{Removed, 3}}},
      {"the first line removed",
       [](const fs::path& log) {
         Burns(log, 3);
         Spoil(log, 1, [](auto& lines, std::size_t i) { lines.erase(lines.begin() + i); });
       },
       false,
       0,
       {{Removed, 1}}},
      {"a copy of line 2 inserted after line 4",
       [](const fs::path& log) {
         Burns(log, 5);
         Spoil(log, 2,
               [](auto& lines, std::size_t i) { lines.insert(lines.begin() + 4, lines[i]); });
       },
       false,
       4,
       {{Inserted, 5}}},
      {"a copy of line 2 inserted after it",
       [](const fs::path& log) {
         Burns(log, 3);
         Spoil(log, 2,
               [](auto& lines, std::size_t i) { lines.insert(lines.begin() + i, lines[i]); });
       },
       false,
       2,
       {{Inserted, 3}}},
      {"two lines swapped",
       [](const fs::path& log) {
         Burns(log, 5);
         Spoil(log, 2, [](auto& lines, std::size_t i) { std::swap(lines[i], lines[i + 1]); });
       },
       false,
       1,
       {{Reordered, 2}}},
      {"the last two lines swapped",
       [](const fs::path& log) {
         Burns(log, 5);
         Spoil(log, 4, [](auto& lines, std::size_t i) { std::swap(lines[i], lines[i + 1]); });
       },
       false,
       3,
       {{Reordered, 4}}},
      {"a seq that is no number",
       [](const fs::path& log) {
         Burns(log, 3);
         Spoil(log, 2, [](auto& lines, std::size_t i) {
           lines[i].replace(lines[i].find("\"seq\":2"), 7, "\"seq\":\"2\"");
         });
       },
       false,
       1,
       {{BadLink, 2}}},
      {"a line of other JSON among the records",
       [](const fs::path& log) {
         Burns(log, 3);
         Spoil(log, 2, [](auto& lines, std::size_t i) {
           lines.insert(lines.begin() + i, "{\"event\":\"phase\"}\n");
         });
       },
       false,
       1,
       {{NotARecord, 2}}},
      {"two logs joined",
       [](const fs::path& log) {
         Burns(log, 2);
         Burns(log.string() + ".other", 2, 3);
         std::vector<std::string> lines = LinesOf(log), other = LinesOf(log.string() + ".other");
         lines.insert(lines.end(), other.begin(), other.end());
         Rewrite(log, lines);
       },
       false,
       2,
       {{ChainRestarts, 3}}},
      {"the last line cut by a power loss",
       [](const fs::path& log) {
         Burns(log, 5);
         Spoil(log, 5, [](auto& lines, std::size_t i) { lines[i].resize(lines[i].size() / 2); });
       },
       true,
       4,
       {{CutLastLine, 5}}},
      {"a cut line, then the next burn: chained past it",
       [](const fs::path& log) {
         Burns(log, 5);
         Spoil(log, 5, [](auto& lines, std::size_t i) { lines[i].resize(lines[i].size() / 2); });
         Burns(log, 1, 6);
       },
       true,
       5,
       {{CutRecord, 5}}},
      {"the last record whole but for its newline: chained to",
       [](const fs::path& log) {
         Burns(log, 2);
         Spoil(log, 2, [](auto& lines, std::size_t i) { lines[i].pop_back(); });
         Burns(log, 1, 3);
       },
       true,
       3,
       {}},
      {"not a burn log",
       [](const fs::path& log) {
         Rewrite(log, {"[Unit]\n", "Description=plcburn\n"});
       },
       false,
       0,
       {{NotABurnLog, 1}}},
      {"records of older plcburn, then the chain",
       [&older](const fs::path& log) {
         Rewrite(log, {older(1), older(2), older(3)});
         Burns(log, 2, 4);
       },
       true,
       2,
       {{OlderRecords, 1}}},
      {"records of older plcburn alone",
       [&older](const fs::path& log) {
         Rewrite(log, {older(1), older(2)});
       },
       true,
       0,
       {{OlderRecords, 1}}},
      {"a record while another writer held the lock: outside the chain, the next chained past it",
       [](const fs::path& log) {
         Burns(log, 2);
         {
           const FileAppender stuck(log, std::chrono::milliseconds(0));
           ASSERT_TRUE(stuck.Locked());
           std::vector<std::string> warnings;
           BurnLog(
               log, [&](const std::string& w) { warnings.push_back(w); },
               std::chrono::milliseconds(20))
               .Keep(LoggedRecord(3));
           ASSERT_EQ(warnings.size(), 1u);
           EXPECT_NE(warnings[0].find("outside its chain"), std::string::npos) << warnings[0];
         }
         Burns(log, 1, 4);
       },
       true,
       3,
       {{OutsideTheChain, 3}}},
      {"four threads and another process at once",
       [](const fs::path& log) { BurnsAtOnce(log); },
       true,
       160 + kOtherProcessBurns,
       {}},
  };
  const fs::path folder = FreshFolder("chain");
  int row = 0;
  for (const auto& c : cases) {
    const fs::path log = folder / ("burns" + std::to_string(++row) + ".jsonl");
    c.make(log);
    std::ifstream in(log, std::ios::binary);
    const LogCheck check = CheckBurnLog(in);
    EXPECT_EQ(check.intact, c.intact) << c.what;
    EXPECT_EQ(check.checked, c.checked) << c.what;
    std::vector<std::pair<LogFinding, std::uint64_t>> notes;
    std::string texts;
    for (const LogNote& note : check.notes) {
      notes.emplace_back(note.finding, note.line);
      texts += note.text + "\n";
    }
    EXPECT_EQ(notes, c.notes) << c.what << ":\n" << texts;
  }
}

TEST(BurnLog, LivesWhereTheEnvironmentSays) {
  const std::pair<std::map<std::string, std::string>, std::filesystem::path> cases[] = {
#ifdef _WIN32
      {{{"LOCALAPPDATA", "C:\\Users\\op\\AppData\\Local"}},
       "C:\\Users\\op\\AppData\\Local\\plcburn\\burns.jsonl"},
      {{{"HOME", "C:\\Users\\op"}}, ""},
#else
      {{{"XDG_STATE_HOME", "/var/st"}, {"HOME", "/home/op"}}, "/var/st/plcburn/burns.jsonl"},
      {{{"XDG_STATE_HOME", "st"}, {"HOME", "/home/op"}},
       "/home/op/.local/state/plcburn/burns.jsonl"},
      {{{"HOME", "/home/op"}}, "/home/op/.local/state/plcburn/burns.jsonl"},
#endif
      {{}, ""},
  };
  for (const auto& [env, expected] : cases) {
    EXPECT_EQ(BurnLogPath([&](const char* name) -> std::optional<std::filesystem::path> {
                if (!env.contains(name)) return std::nullopt;
                return env.at(name);
              }),
              expected);
  }
}

// The SHA-256 is checked against sha256sum by the burns over a pseudo-terminal.
TEST(Record, TimesAsIso8601Utc) {
  EXPECT_EQ(IsoUtc(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(IsoUtc(951782400999), "2000-02-29T00:00:00.999Z");
}

}  // namespace
}  // namespace plcburn
