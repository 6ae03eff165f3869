#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/console_operator.h"

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
      {{"--model", "QN4"}, false, "--model and --image go together"},
      {{"--image", "x.bin"}, false, "--model and --image go together"},
      {{"--model", "qn4", "--image", "x.bin"}, false, "unknown model: qn4"},
      {{"--port"}, false, "--port needs a port"},
      {{"--frobnicate"}, false, "unknown argument: --frobnicate"},
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
    EXPECT_FALSE(op.EndedInError());
  }
  EXPECT_EQ(Contents(out), "ERROR: CANNOT open USB Port!!!\nInformation: Please REPLUG\n");
  EXPECT_EQ(Contents(err), "No permission\n");
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

}  // namespace
}  // namespace plcburn
