#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/console_operator.h"
#include "app/cli/image_choice.h"
#include "app/cli/json_events.h"
#include "app/cli/plain_progress.h"
#include "app/cli/station_conf.h"
#include "app/common/cli_options.h"
#include "app/common/image_file.h"
#include "app/common/stop_signals.h"
#include "burn/burn_control.h"
#include "core/catalogue.h"
#include "core/message_help.h"
#include "core/result_codes.h"
#include "core/stopped_burn.h"
#include "sim/sim_link.h"

namespace plcburn {
namespace {

TEST(CliOptions, ParsesAndRefuses) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    std::string error;
  } cases[] = {
      {{}, true, ""},
      {{"--port", "ttyUSB0", "--yes"}, true, ""},
      {{"--port", "/dev/pts/3", "--port", "USB"}, true, ""},
      {{"--model", "QN4", "--image", "x.bin"}, true, ""},
      {{"--version"}, true, ""},
      {{"--image", "x.bin"}, true, ""},  // the model comes from the name, or is asked for later
      {{"--model", "QN4"}, false, "--model needs --image"},
      {{"--model", "qn4", "--image", "x.bin"}, false, "unknown model: qn4"},
      {{"--port"}, false, "--port needs a port"},
      {{"--port", "--yes"}, false, "--port needs a port, not --yes"},
      {{"--image", "-y", "--model", "VL"}, false, "--image needs a file, not -y"},
      {{"--model", "VL", "--image", "a.bin", "--model", "VL"}, false, "--model given twice"},
      {{"--image", "a.bin", "--image", "b.bin"}, false, "--image given twice"},
      {{"--frobnicate"}, false, "unknown argument: --frobnicate"},
      {{"--json", "--log", "burns.jsonl"}, true, ""},
      {{"--no-log", "--json"}, true, ""},
      {{"--log", "a", "--no-log"}, false, "--log and --no-log exclude each other"},
      {{"--log", "--json"}, false, "--log needs a file, not --json"},
      {{"--trusted-key", "a.pub", "--trusted-key", "b.pub", "--image", "x.bin"}, true, ""},
      {{"--trusted-key", "--image"}, false, "--trusted-key needs a key file, not --image"},
      {{"--verify-image", "x.bin", "--verify-image", "y.bin"}, false, "--verify-image given twice"},
      {{"--verify-log", "burns.jsonl"}, true, ""},
      {{"--verify-log"}, false, "--verify-log needs a file"},
      {{"--verify-log", "--json"}, false, "--verify-log needs a file, not --json"},
      {{"--verify-log", "a", "--verify-log", "b"}, false, "--verify-log given twice"},
      {{"--identify"}, false, "--identify needs --port PORT, or --port all for every listed port"},
      {{"--images", "fw"}, false, "--images needs --port PORT or --watch SLOT"},
      {{"--images", "fw", "--image", "x.bin", "--port", "a"},
       false,
       "--images excludes --image and --model"},
      {{"--watch"}, false, "--watch needs at least one slot"},
      {{"--watch", "--now"}, false, "--watch needs at least one slot, not --now"},
      {{"--watch", "a", "--watch", "b"}, false, "--watch given twice"},
      {{"--metrics", "127.0.0.1:9464", "--port", "a"}, false, "--metrics belongs to --watch"},
      {{"--watch", "/dev/ttyUSB*", "USB", "--now", "--replug-timeout", "30"}, true, ""},
      {{"--watch", "USB", "--port", "a"},
       false,
       "--watch and --port exclude each other: the slots name the ports"},
      {{"--now"}, false, "--now, --replug-timeout and --unplug-debounce belong to --watch"},
      {{"--watch", "USB", "--replug-timeout", "0"},
       false,
       "--replug-timeout needs a number of seconds from 1 to 3600, not 0"},
      {{"--watch", "USB", "--unplug-debounce", "0.5"}, true, ""},
      {{"--port", "a", "--serial", "4711-0193"}, true, ""},
      {{"--serial", "4711", "--watch", "USB"},
       false,
       "--serial names one PLC: give it for a single burn only"},
      {{"--serial", std::string(65, '7')},
       false,
       "--serial " + std::string(65, '7') + ": a serial longer than 64 characters"},
      {{"--require-serial"},
       false,
       "--require-serial, --scan-timeout and --scanner belong to --watch"},
      {{"--watch", "USB", "--require-serial", "--scan-timeout", "0"},
       false,
       "--scan-timeout needs a number of seconds from 1 to 3600, not 0"},
      {{"--watch", "USB", "--unplug-debounce", "2s"},
       false,
       "--unplug-debounce needs a number of seconds from 0 to 60, not 2s"},
      {{"--history"}, true, ""},
      {{"--history", "4711-0193", "--since", "2026-03-01", "--log", "a", "--log=b", "--json"},
       true,
       ""},
      {{"--history", "--since", "2026-03-01T08:15", "--records-db", "postgresql://db/burns"},
       true,
       ""},
      {{"--history", "4711", "--port", "a"},
       false,
       "--history takes only a serial, --since, --log, --records-db and --json, not --port"},
      {{"--history", "--since", "March"},
       false,
       "--since needs a date, as 2026-03-01 or 2026-03-01T08:15 (UTC), not March"},
      {{"--since", "2026-03-01"}, false, "--since belongs to --history"},
      {{"--history", "--log", "a", "--records-db", "host=db"},
       false,
       "--history reads the burn logs, or with --records-db the database: not both"},
      {{"--history", "4711\x01"}, false, "--history 4711\x01: a serial with control characters"},
      {{"--log", "a", "--log", "b"}, false, "--log given twice"},
      {{"--watch", "USB", "--records-db", "postgresql://station@db.plant/burns"}, true, ""},
      {{"--port", "a", "--records-db", "host=db", "--no-log"},
       false,
       "--records-db sends the burn log's records: it excludes --no-log"},
      {{"--verify-log", "a", "--records-db", "host=db"},
       false,
       "--records-db belongs to burns and to --history"},
  };
  for (const Case& c : cases) {
    const ParsedCli parsed = ParseCli(c.args);
    EXPECT_EQ(parsed.options.has_value(), c.ok) << parsed.error;
    EXPECT_EQ(parsed.error, c.error);
  }
  const ParsedCli gang = ParseCli({"--port", "a", "--port", "b", "--list-ports"});
  ASSERT_TRUE(gang.options);
  EXPECT_EQ(gang.options->ports, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(gang.options->listPorts);
  const ParsedCli history =
      ParseCli({"--log", "a", "--history", "S-1", "--log", "b", "--since", "2026-03-01T08:15:02Z"});
  ASSERT_TRUE(history.options);
  EXPECT_EQ(history.options->historySerial, "S-1");
  EXPECT_EQ(history.options->historyLogs, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(history.options->sinceMs, 1772352902000u);
  EXPECT_EQ(history.options->log, "");
  const ParsedCli keys = ParseCli({"--trusted-key", "a.pub", "--trusted-key", "b.pub"});
  ASSERT_TRUE(keys.options);
  EXPECT_EQ(keys.options->trustedKeys, (std::vector<std::string>{"a.pub", "b.pub"}));
}

TEST(CliOptions, TheModelComesFromTheImagesNameUnlessBothNameOne) {
  const std::size_t build = *FindModel("VL");
  const struct {
    std::string model, image;
    const char* chosen;  // nullptr: a usage error
    const char* error;
  } cases[] = {
      {"", "", "VL", ""},
      {"", "/fw/TR7-B_v12_20170101.bin", "TR7-B", ""},
      {"", "qk4-k_v3.bin", "QK4-K", ""},  // the build's lookup ignores case too
      {"", "/fw/firmware.bin", nullptr, "does not begin with a model's name"},
      {"", "VL", "VL", ""},  // no "_": the whole name
      {"QW", "TR7-B_v12_20170101.bin", nullptr, "named for the TR7-B, not the QW"},
      {"QK4", "QK4-K_v3.bin", nullptr, "named for the QK4-K, not the QK4"},
      {"QW", "QW_v2.bin", "QW", ""},
      {"QW", "firmware.bin", "QW", ""},
      {"QW", "/TR7-B_dir/QW_v2.bin", "QW", ""},  // the file's name, not its folder's
  };
  for (const auto& c : cases) {
    CliOptions options;
    options.model = c.model;
    options.image = c.image;
    const ModelChoice choice = ChooseModel(options, build);
    ASSERT_EQ(choice.row.has_value(), c.chosen != nullptr) << c.image << ": " << choice.error;
    if (c.chosen) {
      EXPECT_EQ(ModelAt(*choice.row).name, c.chosen) << c.image;
    }
    EXPECT_NE(choice.error.find(c.error), std::string::npos) << choice.error;
  }
}

// station.conf as the Windows service reads it: the Linux unit's keys, split into words.
TEST(StationConf, TheKeysOfTheLinuxUnitBecomeTheWatchsArguments) {
  const std::string watch = "--watch COM5 COM1? --log L";
  const struct {
    std::string text;
    std::string args;   // joined by spaces; empty when refused
    std::string error;  // part of the refusal
  } cases[] = {
      {"SLOTS=COM5 COM1?\nOPTIONS=\n", watch, ""},
      {"\xEF\xBB\xBF# settings\r\n; more\r\n\r\n  SLOTS = COM5\tCOM1?  \r\n", watch, ""},
      {"SLOTS=\"COM5 COM1?\"\nOPTIONS='--now --image C:\\fw\\VL_v2.bin'",
       watch + " --now --image C:\\fw\\VL_v2.bin", ""},
      {"SLOTS=USB\nSLOTS=COM5 COM1?\n", watch, ""},  // the last one counts, as in the unit
      {"", "", "SLOTS names no slot"},
      {"SLOTS=\nOPTIONS=--now", "", "SLOTS names no slot"},
      {"SLOTS=USB\nslots=COM5\n", "", "line 2: unknown key slots"},
      {"SLOTS=USB\n--now\n", "", "line 2: not KEY=VALUE"},
      {"SLOTS=USB\nOPTIONS=--log C:\\x.jsonl", "", "--log is not for OPTIONS"},
      {"SLOTS=USB\nOPTIONS=--no-log", "", "--no-log is not for OPTIONS"},
  };
  for (const auto& c : cases) {
    const StationConfArgs got = StationConfToArgs(c.text, "L");
    std::string args;
    for (const std::string& arg : got.args) args += (args.empty() ? "" : " ") + arg;
    EXPECT_EQ(args, c.args) << c.text;
    EXPECT_EQ(got.error.empty(), c.error.empty()) << c.text;
    EXPECT_NE(got.error.find(c.error), std::string::npos) << got.error;
  }
}

TEST(ImageFile, ReadsRegularFilesUpToOneByteOverTheLimit) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "plcburn-image-file-test";
  fs::create_directories(dir / "folder.bin");
  std::ofstream(dir / "ten.bin") << "0123456789";
  const struct {
    fs::path path;
    std::uint32_t limit;
    std::optional<std::string> bytes;  // none: refused
  } cases[] = {
      {dir / "ten.bin", 100, "0123456789"},    {dir / "ten.bin", 10, "0123456789"},
      {dir / "ten.bin", 4, "01234"},  // enough to know it is too long
      {dir / "folder.bin", 100, std::nullopt}, {dir / "missing.bin", 100, std::nullopt},
      {"/dev/zero", 100, std::nullopt},
  };
  for (const auto& c : cases) {
    const ImageFile file = ReadImageFile(c.path.string(), c.limit);
    ASSERT_EQ(file.bytes.has_value(), c.bytes.has_value()) << c.path << ": " << file.error;
    if (c.bytes) {
      EXPECT_EQ(std::string(file.bytes->begin(), file.bytes->end()), *c.bytes);
    } else {
      EXPECT_NE(file.error.find(c.path.string()), std::string::npos) << file.error;
    }
  }
  fs::remove_all(dir);
}

// The image a PLC gets from a folder: the one named for the model it turns out to be, or a
// refusal naming the model and the files.
TEST(ImageChoice, OneImageNamedForTheIdentifiedModelOrNone) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "plcburn-image-choice-test";
  fs::create_directories(dir / "QW_folder.bin");
  for (const char* name : {"QN4_v1.bin", "qk48_v2.BIN", "TR7-D_a.bin", "TR7-D_b.bin", "QW.bin",
                           "TR7-B_v1.bin", "QW_v1.txt"})
    std::ofstream(dir / name) << name;
  const struct {
    const char* model;
    bool boot;
    const char* chosen;  // nullptr: refused
    std::string refusal;
  } cases[] = {
      {"QN4", false, "QN4_v1.bin", ""},
      {"QK48", false, "qk48_v2.BIN", ""},  // names compared as the build does, without case
      {"TR7-D", true, nullptr,
       "more than one image for the TR7-D in " + dir.string() + ": TR7-D_a.bin, TR7-D_b.bin"},
      {"QW", false, nullptr, "no image for the QW in " + dir.string() + " (QW_*.bin)"},
      {"TR7-B", true, nullptr, "may be a TR7-MX7 or TR7-B"},
  };
  for (const auto& c : cases) {
    SimOptions options;
    options.startInBootLoader = c.boot;
    PlcSim sim(*FindModel(c.model), options);
    VirtualClock clock;
    SimOpener opener(sim, clock);
    const ImageChoice choice = ChooseImageForPlc(opener, "ttyS0", dir.string(), TrustPolicy{});
    // Each image holds its own name.
    EXPECT_EQ(std::string(choice.bytes.begin(), choice.bytes.end()), c.chosen ? c.chosen : "");
    EXPECT_NE(choice.refusal.find(c.refusal), std::string::npos) << choice.refusal;
    EXPECT_FALSE(opener.AnyLinkOpen()) << c.model;
  }
  EXPECT_NE(ImagesDirProblem((dir / "QW_folder.bin").string()).find("holds no image"),
            std::string::npos);
  EXPECT_NE(ImagesDirProblem((dir / "absent").string()).find("cannot read"), std::string::npos);
  fs::remove_all(dir);
}

ReconnectPrompt ReplugPrompt(std::string_view text) {
  return {"VL", ReconnectKind::Replug, "Information", text, 2000};
}
TEST(PlainProgress, ALineForEachChangeButTheSecondsAlone) {
  const struct {
    const char* last;
    const char* line;
    bool printed;
  } cases[] = {
      {"", "Idle          0%  errors 0/0  0s", true},
      {"Idle          0%  errors 0/0  3s", "Idle          0%  errors 0/0  4s", false},
      {"Idle          0%  errors 0/0  3s", "Idle          0%  errors 1/1  3s", true},
      {"Programming  10%  errors 0/1  12s", "Programming  10%  errors 0/2  13s", true},
      {"Erasing     100%  errors 0/0  20s", "Programming   0%  errors 0/0  20s", true},
      {"COM3: Idle    0%  errors 0/0  1s", "COM3: Idle    0%  errors 0/0  2s", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PlainProgressChanged(c.line, c.last), c.printed) << c.last << " -> " << c.line;
}

#ifndef _WIN32
TEST(StopSignals, SaysWhyItCannotWatch) {
  rlimit was{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &was), 0);
  rlimit none = was;
  none.rlim_cur = static_cast<rlim_t>(dup(2));  // the lowest free descriptor: no new one
  close(static_cast<int>(none.rlim_cur));
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  const std::string error = StopSignals([](int) {}).Error();
  setrlimit(RLIMIT_NOFILE, &was);
  EXPECT_EQ(error, "Too many open files (error 24)");
}
#endif

// Reads what the board printed.
std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
  return s;
}

TEST(ConsoleBoard, OneBurnPrintsMessagesAsCaptionAndText) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  BurnState state;
  {
    ConsoleBoard board(true, out, err);
    ConsoleOperator op(board, board.Add("ttyUSB0", state));
    op.ShowMessage("ERROR", "CANNOT open USB Port!!!\nNo permission", MessageIcon::Error);
    EXPECT_TRUE(op.EndedInError());
    EXPECT_TRUE(op.Prompt(ReplugPrompt("Please REPLUG")));
    EXPECT_TRUE(op.EndedInError()) << "a prompt is no end of the burn";
    op.ShowMessage("Information", "Firmware update is SUCCESSFUL", MessageIcon::Information);
    EXPECT_FALSE(op.EndedInError());
  }
  EXPECT_EQ(Contents(out),
            "ERROR: CANNOT open USB Port!!!\nInformation: Please REPLUG\n"
            "Information: Firmware update is SUCCESSFUL\n");
  EXPECT_EQ(Contents(err),
            "No permission\n" + std::string(HintFor("CANNOT open USB Port!!!")) + "\n");
}

// Every failure keeps its one stdout line; under it on stderr come its reason, if any, and one
// hint line from the guide's table. Prompts and successes get no hint.
TEST(ConsoleBoard, EachErrorGetsOneHintLineUnderItsMessage) {
  const ModelRules& qk4 = ModelAt(*FindModel("QK4"));
  const ModelRules& vl = ModelAt(*FindModel("VL"));
  const struct {
    std::string family, text;
    MessageIcon icon = MessageIcon::Error;
  } cases[] = {
      {"image too large", std::string(vl.sizeMessage)},
      {"image too small", std::string(ModelAt(*FindModel("ZN500")).minSizeMessage)},
      {"image with nothing to send", std::string(kMsgNoDataBlock)},
      {"port without a reason", "CANNOT open COM9 Port!!!"},
      {"port with a reason", "CANNOT open ttyUSB0 Port!!!\n/dev/ttyUSB0 is in use"},
      {"no answer", std::string(AppStepMessage(AppStep::ConfirmComm, RC_NO_RESPONSE))},
      {"wrong model", std::string(AppStepMessage(AppStep::CheckID_A, RC_NO_RESPONSE))},
      {"refused", std::string(AppStepMessage(AppStep::SendErase_A, RC_FLOW_STATE4))},
      {"run mode", std::string(AppStepMessage(AppStep::ConfirmComm, RC_RUN_MODE))},
      {"unknown class", std::string(AppStepMessage(AppStep::CheckID_A, RC_UNKNOWN_CODE))},
      {"unknown code", std::string(AppStepMessage(AppStep::SendErase_A, RC_FAIL))},
      {"other variant", std::string(qk4.variantMismatchMessage)},
      {"no boot loader", std::string(kMsgNoBootLoader)},
      {"boot loader of another model", std::string(kMsgPlcTypeWrong)},
      {"boot loader silent", std::string(kMsgNoErase)},
      {"transfer failed", std::string(kMsgFwFailed)},
      {"stopped", std::string(kMsgBurnStopped)},
      {"success", std::string(vl.successText), MessageIcon::Information},
  };
  for (const auto& c : cases) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const std::string caption = c.icon == MessageIcon::Error ? "ERROR" : "INFORMATION";
    BurnState state;
    {
      ConsoleBoard board(true, out, err);
      ConsoleOperator op(board, board.Add("ttyUSB0", state));
      op.ShowMessage(caption, c.text, c.icon);
    }
    const std::string& shown = c.text;
    const std::size_t newline = shown.find('\n');
    EXPECT_EQ(Contents(out), caption + ": " + shown.substr(0, newline) + "\n") << c.family;
    std::string wanted = newline == std::string::npos ? "" : shown.substr(newline + 1) + "\n";
    if (c.icon == MessageIcon::Error) {
      ASSERT_FALSE(HintFor(shown).empty()) << c.family;
      wanted += std::string(HintFor(shown)) + "\n";
    }
    EXPECT_EQ(Contents(err), wanted) << c.family;
  }

  // With several burns each line names its port; a prompt gets no hint.
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  BurnState a, b;
  {
    ConsoleBoard board(true, out, err);
    ConsoleOperator opA(board, board.Add("A", a));
    ConsoleOperator opB(board, board.Add("B", b));
    opB.ShowMessage("ERROR", kMsgFwFailed, MessageIcon::Error);
    board.BurnEnded(1);
    opA.Prompt(ReplugPrompt("Replug"));
  }
  EXPECT_EQ(Contents(out), "B: ERROR: " + std::string(kMsgFwFailed) + "\nA: Information: Replug\n");
  EXPECT_EQ(Contents(err), "B: " + std::string(HintFor(kMsgFwFailed)) + "\n");
}

// With --json the hint is a field of the result event: the error's, null after a success.
TEST(JsonEvents, TheResultCarriesTheErrorsHint) {
  const struct {
    bool ok;
    std::string text;
  } cases[] = {
      {true, "Firmware update is SUCCESSFUL"},
      {false, std::string(kMsgFwFailed)},
      {false, "CANNOT open ttyUSB0 Port!!!\n/dev/ttyUSB0 is in use"},
      {false, std::string(kMsgBurnStopped)},
  };
  for (const auto& c : cases) {
    std::FILE* out = std::tmpfile();
    BurnRecord record;
    record.result.ok = c.ok;
    record.result.text = c.text;
    JsonEvents(out).Result("ttyUSB0", record);
    const auto event = nlohmann::json::parse(Contents(out));
    EXPECT_EQ(event["event"], "result");
    if (c.ok) {
      EXPECT_TRUE(event["hint"].is_null()) << c.text;
    } else {
      ASSERT_FALSE(HintFor(c.text).empty()) << c.text;
      EXPECT_EQ(event["hint"], HintFor(c.text)) << c.text;
    }
  }
}

TEST(ConsoleBoard, PromptIsAskedOnceForAllBurnsThatNeedIt) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  BurnState a, b, c;
  {
    ConsoleBoard board(true, out, err);
    ConsoleOperator opA(board, board.Add("A", a));
    ConsoleOperator opB(board, board.Add("B", b));
    ConsoleOperator opC(board, board.Add("C", c));
    std::thread ta([&] { opA.Prompt(ReplugPrompt("Replug")); });
    std::thread tb([&] { opB.Prompt(ReplugPrompt("Replug")); });
    // C never needs the prompt: its end releases the two waiting burns.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    opC.ShowMessage("ERROR", "PLC type is WRONG", MessageIcon::Error);
    board.BurnEnded(2);
    ta.join();
    tb.join();
  }
  EXPECT_EQ(Contents(out), "C: ERROR: PLC type is WRONG\nA, B: Information: Replug\n");
}

// Stopped, every burn of the board is told to stop, a prompt waiting for the others returns at
// once unconfirmed, and a success that had already come stands.
TEST(ConsoleBoard, StopTellsEveryBurnAndCutsItsPromptShort) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  BurnState a, b;
  std::atomic<int> told{0};
  {
    ConsoleBoard board(true, out, err);
    ConsoleOperator opA(board, board.Add("A", a, [&] { ++told; }));
    ConsoleOperator opB(board, board.Add("B", b, [&] { ++told; }));
    std::atomic<bool> confirmed{true};
    // A waits at the prompt for B, which never comes to it.
    std::thread prompting([&] { confirmed = opA.Prompt(ReplugPrompt("Replug")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto stopped = std::chrono::steady_clock::now();
    board.Stop(15);
    prompting.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(told, 2);
    EXPECT_EQ(board.StopSignal(), 15);
    board.Stop(2);  // a second signal changes nothing
    EXPECT_EQ(board.StopSignal(), 15);
    EXPECT_EQ(told, 2);

    EXPECT_FALSE(opA.Prompt(ReplugPrompt("Replug")));  // not asked any more
    opA.ShowMessage("ERROR", kMsgBurnStopped, MessageIcon::Error);
    opB.ShowMessage("Information", "Firmware update is SUCCESSFUL", MessageIcon::Information);
    EXPECT_TRUE(opA.EndedInError());
    EXPECT_FALSE(opB.EndedInError());
  }
  EXPECT_EQ(Contents(out), "A: ERROR: " + std::string(kMsgBurnStopped) +
                               "\nB: Information: Firmware update is SUCCESSFUL\n");
}

}  // namespace
}  // namespace plcburn
