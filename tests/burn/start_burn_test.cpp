#include "burn/start_burn.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/sim_bench.h"

namespace plcburn {
namespace {

using testing::Bench;
using ::testing::ElementsAre;
using testing::Faults;
using testing::MutingOpener;
using testing::Shown;

TEST(StartBurn, VlUpdateAsTraced) {
  Bench b("VL", 426032);
  b.state.elapsedTime = 12;
  b.Run();
  ASSERT_EQ(b.ui.messages.size(), 2u);
  EXPECT_EQ(b.ui.messages[0].caption, "Information");
  EXPECT_EQ(b.ui.messages[0].text, "Please REPLUG the USB Cable, and then press OK to continue");
  EXPECT_TRUE(b.ui.messages[0].timerRunning);
  EXPECT_EQ(b.Final().caption, "Information");
  EXPECT_EQ(b.Final().text, "Firmware update is SUCCESSFUL!, please REPLUG the USB cable");
  EXPECT_EQ(b.Final().icon, MessageIcon::Information);
  EXPECT_EQ(b.Final().flashStatus, PROGRAM);
  EXPECT_EQ(b.Final().progress, 100);
  EXPECT_EQ(b.Final().elapsedTime, 12) << "reset only after the box is closed";
  EXPECT_THAT(b.ui.waits, ElementsAre(2000u));
  EXPECT_EQ(b.opener.Opens(), 2);
  EXPECT_EQ(b.sim.Counters().bootErases, 27u);
  EXPECT_EQ(b.sim.Counters().blocksAccepted, 1665u);
  EXPECT_EQ(b.sim.ReceivedImage().size(), 1665u * 256u);
  EXPECT_TRUE(b.ImageReceived());
  b.ExpectCleanEnd();
}

TEST(StartBurn, Tr7bUpdateAsTraced) {
  Bench b("TR7-B", 426032, Faults({"silent-erase"}), "COM3");
  b.Run();
  ASSERT_EQ(b.ui.messages.size(), 2u);
  EXPECT_EQ(b.ui.messages[0].text, "Please POWER OFF=>ON the PLC, and then press OK to continue");
  EXPECT_EQ(b.Final().caption, "INFORMATION");
  EXPECT_EQ(b.Final().text, "Firmware update is SUCCESSFUL");
  EXPECT_THAT(b.ui.waits, ElementsAre(2000u));
  EXPECT_EQ(b.opener.LastPortName(), "COM3");
  EXPECT_EQ(b.sim.Counters().registerReads, 1u);
  EXPECT_EQ(b.sim.Counters().bootErases, 4u);
  EXPECT_EQ(b.sim.Counters().blocksAccepted, 3329u);
  EXPECT_TRUE(b.ImageReceived());
  b.ExpectCleanEnd();
}

TEST(StartBurn, EveryModelBurnsItsImage) {
  for (std::size_t row = 0; row < kModelCount; ++row) {
    const ModelRules& m = ModelAt(row);
    Bench b(plcList[row], m.maxSize < 426032 ? m.maxSize : 426032);
    b.Run();
    EXPECT_EQ(b.Final().text, m.successText) << m.name;
    ASSERT_EQ(b.ui.waits.size(), 1u) << m.name;
    EXPECT_EQ(b.ui.waits[0], m.reconnectWaitMs);
    EXPECT_EQ(b.ui.messages.size(), m.reconnectPrompt.empty() ? 1u : 2u) << m.name;
    EXPECT_TRUE(b.ImageReceived()) << m.name;
    b.ExpectCleanEnd();
  }
}

TEST(StartBurn, PlcAlreadyInItsBootLoader) {
  Bench b("QN4", 5000, Faults({}, true));
  b.Run();
  ASSERT_EQ(b.ui.messages.size(), 1u);
  EXPECT_EQ(b.Final().text, "Firmware update is SUCCESSFUL");
  EXPECT_EQ(b.sim.Counters().idRequests, 0u);
  EXPECT_TRUE(b.ui.waits.empty());
  b.ExpectCleanEnd();
}

TEST(StartBurn, LostAckAndNakedBlockStillSucceed) {
  Bench b("VL", 426032, Faults({"lose-ack:3", "nak-block:7:2"}, true));
  b.Run();
  EXPECT_EQ(b.Final().text, "Firmware update is SUCCESSFUL!, please REPLUG the USB cable");
  EXPECT_EQ(b.sim.Counters().blocksDuplicate, 1u);
  EXPECT_EQ(b.sim.Counters().blocksNaked, 2u);
  EXPECT_EQ(b.Final().errCounter, 0);
  EXPECT_TRUE(b.ImageReceived());
}

// Ends that show one error box: the text, and the panel while it is open.
struct FailureCase {
  const char* name;
  const char* model;
  std::size_t imageLength;
  std::vector<const char*> faults;
  bool boot;
  std::string message;
  std::int32_t flashStatusShown;
  std::string mutedCommand = {};
};

class BurnFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(BurnFailure, OneErrorBoxThenReset) {
  const FailureCase& c = GetParam();
  SimOptions options;
  options.startInBootLoader = c.boot;
  for (const char* f : c.faults) options.faults.push_back(*ParseFault(f));
  Bench b(c.model, c.imageLength, options);
  MutingOpener muting(b.opener, c.mutedCommand);
  b.Run(c.mutedCommand.empty() ? nullptr : &muting);
  const auto errors = std::count_if(b.ui.messages.begin(), b.ui.messages.end(),
                                    [](const Shown& s) { return s.icon == MessageIcon::Error; });
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(b.Final().caption, "ERROR");
  EXPECT_EQ(b.Final().text, c.message);
  EXPECT_EQ(b.Final().flashStatus, c.flashStatusShown);
  b.ExpectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BurnFailure,
    ::testing::Values(
        FailureCase{"probe_silent", "QN4", 5000, {"silence"}, false, "NO RESPONSE @ State 1", IDLE},
        FailureCase{"run_mode", "QN4", 5000, {"nak:1:1"}, false, "PLC in RUN MODE", IDLE},
        FailureCase{"flow_state_2", "QN4", 5000, {"nak:2:2"}, false, "FLOW ERROR @ State 2", IDLE},
        FailureCase{
            "wrong_app_id", "QN4", 5000, {"wrong-id-app"}, false, "NO RESPONSE @ State 2", IDLE},
        FailureCase{
            "lower_case_hex", "QW", 5000, {"lowercase"}, false, "NO RESPONSE @ State 1", IDLE},
        FailureCase{"bad_lrc", "QW", 5000, {"bad-lrc"}, false, "NO RESPONSE @ State 1", IDLE},
        FailureCase{
            "short_reply", "QW", 5000, {"short-reply"}, false, "NO RESPONSE @ State 1", IDLE},
        FailureCase{"erase_unanswered",
                    "QK4-K",
                    5000,
                    {"silent-erase"},
                    false,
                    "NO RESPONSE @ State 3",
                    IDLE},
        FailureCase{"never_enters_boot_loader",
                    "QN4",
                    5000,
                    {"no-handover"},
                    false,
                    "PLC DOES NOT enter the boot loader",
                    IDLE},
        FailureCase{
            "wrong_boot_id", "TR7-D", 5000, {"wrong-id-boot"}, true, "PLC type is WRONG", IDLE},
        FailureCase{"no_version",
                    "ZN500",
                    10000,
                    {},
                    true,
                    "PLC DOES NOT respond to the version read",
                    IDLE,
                    "VERSION"},
        FailureCase{"no_erase",
                    "VL",
                    50000,
                    {},
                    true,
                    "PLC DOES NOT respond to the erasing signal",
                    ERASE,
                    "ERASE"},
        FailureCase{"no_update",
                    "VL",
                    50000,
                    {},
                    true,
                    "PLC DOES NOT respond to the update signal",
                    ERASE,
                    "UPDATE"},
        FailureCase{"vanishes_mid_transfer",
                    "VL",
                    50000,
                    {"hangup:5"},
                    true,
                    "Firmware update is FAILED",
                    PROGRAM}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(StartBurn, ModelChecksStopBeforeTheErase) {
  struct Case {
    const char* model;
    std::optional<std::uint16_t> d1386, d1148;
    const char* message;
  } cases[] = {
      {"TR7-MX7", 0x4137, {}, "Check PLC, TR7-MX7 is different than TR7-B"},
      {"TR7-B", 0x1234, {}, "Check PLC, TR7-MX7 is different than TR7-B"},
      {"QK4", {}, 1, "Check PLC, 16QK4 is different than 48QK4"},
      {"QK48", {}, 0, "Check PLC, 48QK4 is different than 16QK4"},
  };
  for (const Case& c : cases) {
    SimOptions o;
    o.d1386 = c.d1386;
    o.d1148 = c.d1148;
    Bench b(c.model, 5000, o);
    b.Run();
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_EQ(b.Final().text, c.message) << c.model;
    EXPECT_EQ(b.sim.Counters().eraseRequests, 0u);
    b.ExpectCleanEnd();
  }
}

TEST(StartBurn, UnansweredRegisterAndVersionReads) {
  struct Case {
    const char* model;
    const char* muted;
    const char* message;
  } cases[] = {
      // A register read that runs out of retries reads as 0: a TR7-B then looks like a TR7-MX7.
      {"TR7-B", ":0003156A00017D\r\n", "Check PLC, TR7-MX7 is different than TR7-B"},
      // The application's version is informative: the burn goes on to the erase.
      {"ZN500", ":00640159053D\r\n", "Firmware update is SUCCESSFUL!, please REPLUG the USB cable"},
  };
  for (const Case& c : cases) {
    Bench b(c.model, 8000);
    MutingOpener muting(b.opener, c.muted);
    b.Run(&muting);
    EXPECT_EQ(b.Final().text, c.message) << c.model;
    b.ExpectCleanEnd();
  }
}

TEST(StartBurn, EndsWithoutALinkChangeOnlyTheSeconds) {
  struct Case {
    const char* model;
    std::size_t length;
    bool failOpen;
    std::string port;
    std::string message;
  } cases[] = {
      {"40MX7-PQN", 426032, false, "COM1", "The file size EXCEEDS the MAXIMUM size (4 * 1024)"},
      {"VL", 491521, false, "USB", "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)"},
      {"ZN500", 4095, false, "USB", "The file size is BELOW the MINIMUM size (4 * 1024)"},
      // Within the size rules but nothing to send: the PLC would be erased for nothing.
      {"ZN500", 4096, false, "USB",
       "The file holds NO data to send: the PLC would be erased and nothing written"},
      {"QN4", 0, false, "COM1",
       "The file holds NO data to send: the PLC would be erased and nothing written"},
      {"QN4", 5000, true, "COM9", "CANNOT open COM9 Port!!!"},
      {"VL", 5000, true, "USB", "CANNOT open USB Port!!!"},
      // A USB model's serial port is opened as that port, never replaced by the USB lookup.
      {"VL", 5000, true, "COM5", "CANNOT open COM5 Port!!!"},
  };
  for (const Case& c : cases) {
    Bench b(c.model, c.length, {}, c.port);
    b.opener.SetFailOpens(c.failOpen);
    b.state.elapsedTime = 9;
    b.state.totalErrCounter = 4;  // untouched: no step has run
    b.Run();
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_EQ(b.Final().text.substr(0, b.Final().text.find('\n')), c.message);
    EXPECT_EQ(b.state.elapsedTime, 0);
    EXPECT_EQ(b.state.totalErrCounter, 4);
    if (!c.failOpen) {
      EXPECT_EQ(b.opener.Opens(), 0) << "refused before any link is opened";
    }
    EXPECT_EQ(b.image.Releases(), 1);
    EXPECT_EQ(b.ui.enables, 1);
  }
}

TEST(StartBurn, ReopenThatYieldsNoLinkIsReportedAtOnce) {
  Bench b("VL", 5000);
  b.ui.onMessage = [&b](const Shown& s) {
    if (s.icon == MessageIcon::Information) b.opener.SetFailOpens(true);
  };
  b.Run();
  ASSERT_EQ(b.ui.messages.size(), 2u);
  EXPECT_EQ(b.Final().text.substr(0, 23), "CANNOT open USB Port!!!");
  EXPECT_LT(b.clock.NowMs(), 10000u) << "no futile retries";
  b.ExpectCleanEnd();
}

TEST(StartBurn, PowerCycleReopensThePortChosenMeanwhile) {
  Bench b("MX7-GLT", 5000, {}, "ttyUSB0");
  b.ui.onMessage = [&b](const Shown& s) {
    if (s.icon == MessageIcon::Information && b.ui.messages.size() == 1)
      b.selection.SetComPort("ttyUSB1");
  };
  b.Run();
  EXPECT_EQ(b.opener.LastPortName(), "ttyUSB1");
  EXPECT_EQ(b.Final().text, "Firmware update is SUCCESSFUL");
}

TEST(StartBurn, SecondBurnStartsFromZero) {
  Bench first("QN4", 3000, Faults({"nak-block:2:3"}, true));
  first.Run();
  ASSERT_EQ(first.Final().totalErrCounter, 3);
  // The next burn, on the same state, against a fresh PLC.
  PlcSim plc(first.row, Faults({}, true));
  SimOpener opener(plc, first.clock);
  first.Run(&opener);
  ASSERT_EQ(first.ui.messages.size(), 2u);
  EXPECT_EQ(first.Final().text, "Firmware update is SUCCESSFUL");
  EXPECT_EQ(first.Final().totalErrCounter, 0);
  EXPECT_EQ(first.image.Releases(), 2);
}

}  // namespace
}  // namespace plcburn
