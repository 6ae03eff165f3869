#include <gtest/gtest.h>

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

#include "app/cli/cli_options.h"
#include "app/cli/console_operator.h"
#include "app/cli/image_file.h"
#include "app/cli/json_events.h"
#include "app/cli/plain_progress.h"
#include "app/cli/stop_signals.h"
#include "burn/burn_control.h"
#include "core/catalogue.h"
#include "core/message_help.h"
#include "core/result_codes.h"
#include "core/stopped_burn.h"

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
    ConsoleOperator op(board, board.Add("ttyUSB0", state), "Please REPLUG");
    op.ShowMessage("ERROR", "CANNOT open USB Port!!!\nNo permission", MessageIcon::Error);
    EXPECT_TRUE(op.EndedInError());
    op.ShowMessage("Information", "Please REPLUG", MessageIcon::Information);
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
    bool stopFirst = false;
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
      {"stopped", std::string(kMsgFwFailed), MessageIcon::Error, true},
      {"success", std::string(vl.successText), MessageIcon::Information},
  };
  for (const auto& c : cases) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const std::string caption = c.icon == MessageIcon::Error ? "ERROR" : "INFORMATION";
    BurnState state;
    {
      ConsoleBoard board(true, out, err);
      ConsoleOperator op(board, board.Add("ttyUSB0", state), "");
      if (c.stopFirst) board.Stop(2);
      op.ShowMessage(caption, c.text, c.icon);
    }
    const std::string shown = c.stopFirst ? std::string(kMsgBurnStopped) : c.text;
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
    ConsoleOperator opA(board, board.Add("A", a), "Replug");
    ConsoleOperator opB(board, board.Add("B", b), "Replug");
    opB.ShowMessage("ERROR", kMsgFwFailed, MessageIcon::Error);
    board.BurnEnded(1);
    opA.ShowMessage("Information", "Replug", MessageIcon::Information);
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
    ConsoleOperator opA(board, board.Add("A", a), "Replug");
    ConsoleOperator opB(board, board.Add("B", b), "Replug");
    ConsoleOperator opC(board, board.Add("C", c), "Replug");
    std::thread ta([&] { opA.ShowMessage("Information", "Replug", MessageIcon::Information); });
    std::thread tb([&] { opB.ShowMessage("Information", "Replug", MessageIcon::Information); });
    // C never needs the prompt: its end releases the two waiting burns.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    opC.ShowMessage("ERROR", "PLC type is WRONG", MessageIcon::Error);
    board.BurnEnded(2);
    ta.join();
    tb.join();
  }
  EXPECT_EQ(Contents(out), "C: ERROR: PLC type is WRONG\nA, B: Information: Replug\n");
}

// A link that only records whether it was interrupted.
struct InterruptibleLink : Link {
  std::size_t Write(const std::uint8_t*, std::size_t) override { return 0; }
  std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
  bool SetTimeouts(const CommTimeouts&) override { return true; }
  bool ApplyLineProfile(const LineProfile&) override { return true; }
  void Close() override {}
  void Interrupt() override { interrupted = true; }
  std::atomic<bool> interrupted{false};
};

// Stopped, every burn of the board is interrupted, stops waiting, and ends with the one message
// that it was stopped; a success that had already come stands.
TEST(ConsoleBoard, StopEndsEveryBurnWithTheStoppedMessage) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  BurnState a, b;
  BurnControl controlA, controlB;
  InterruptibleLink linkA, linkB;
  controlA.Attach(&linkA);
  controlB.Attach(&linkB);
  {
    ConsoleBoard board(true, out, err);
    ConsoleOperator opA(board, board.Add("A", a, &controlA), "Replug");
    ConsoleOperator opB(board, board.Add("B", b, &controlB), "Replug");
    std::thread pausing([&] { opA.WaitMs(60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto stopped = std::chrono::steady_clock::now();
    board.Stop(15);
    pausing.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
    EXPECT_TRUE(linkA.interrupted && linkB.interrupted);
    EXPECT_EQ(board.StopSignal(), 15);
    board.Stop(2);  // a second signal changes nothing
    EXPECT_EQ(board.StopSignal(), 15);

    opA.ShowMessage("Information", "Replug", MessageIcon::Information);  // not asked any more
    opA.ShowMessage("ERROR", "NO RESPONSE @ State 1", MessageIcon::Error);
    opB.ShowMessage("Information", "Firmware update is SUCCESSFUL", MessageIcon::Information);
    EXPECT_TRUE(opA.EndedInError());
    EXPECT_FALSE(opB.EndedInError());
  }
  EXPECT_EQ(Contents(out), "A: ERROR: " + std::string(kMsgBurnStopped) +
                               "\nB: Information: Firmware update is SUCCESSFUL\n");
}

}  // namespace
}  // namespace plcburn
