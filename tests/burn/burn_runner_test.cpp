#include "burn/burn_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/stopped_burn.h"
#include "tests/support/sim_bench.h"

namespace plcburn {
namespace {

using namespace std::chrono_literals;
using testing::Bench;
using testing::Faults;

// What the test does from the operator's side when the burn shows its re-plug prompt.
enum class AtPrompt { Confirm, Stop, StartAnother };

struct RunnerCase {
  const char* name;
  bool startInBootLoader;
  AtPrompt atPrompt;
  bool ok;
  bool stopped;
};

class BurnRunnerTest : public ::testing::TestWithParam<RunnerCase> {};

// Each case runs twice on one runner: a runner serves burn after burn.
TEST_P(BurnRunnerTest, RunsStopsAndTellsTheOutcome) {
  const RunnerCase& c = GetParam();
  for (int run = 0; run < 2; ++run) {
    Bench b("VL", 50000, Faults({}, c.startInBootLoader));
    BurnRunner runner(b.state, b.ui, 5ms);
    bool secondStartRefused = false;
    std::int32_t secondsAtPrompt = 0;
    b.ui.onMessage = [&](const testing::Shown& shown) {
      if (shown.text != b.selection.Model().reconnectPrompt) return;
      // The seconds run while the operator is asked; the front end shows them as it repaints.
      const auto until = std::chrono::steady_clock::now() + 10s;
      while (b.state.elapsedTime < 3 && std::chrono::steady_clock::now() < until) {
        runner.ShowElapsed();
        std::this_thread::sleep_for(1ms);
      }
      secondsAtPrompt = b.state.elapsedTime;
      if (c.atPrompt == AtPrompt::Stop) runner.Stop();
      if (c.atPrompt == AtPrompt::StartAnother)
        secondStartRefused = !runner.Start({b.selection, b.opener, b.image});
    };
    ASSERT_TRUE(runner.Start({b.selection, b.opener, b.image}));
    const std::optional<BurnOutcome> outcome = runner.Wait();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(outcome->ok, c.ok) << outcome->text;
    EXPECT_EQ(outcome->stopped, c.stopped);
    EXPECT_EQ(outcome->record.result.stopped, c.stopped);
    EXPECT_EQ(outcome->text, b.Final().text) << "the outcome is the final message";
    EXPECT_EQ(c.stopped, outcome->text == kMsgBurnStopped);
    EXPECT_GE(secondsAtPrompt, c.startInBootLoader ? 0 : 3);
    EXPECT_EQ(secondStartRefused, c.atPrompt == AtPrompt::StartAnother);
    EXPECT_FALSE(b.Final().timerRunning) << "the seconds stop before the final message";
    EXPECT_GE(b.Final().elapsedTime, secondsAtPrompt);
    // After the end the panel is reset and the seconds do not run on.
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(b.state.elapsedTime, 0);
    b.ExpectCleanEnd();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BurnRunnerTest,
    ::testing::Values(RunnerCase{"boot_loader_at_start", true, AtPrompt::Confirm, true, false},
                      RunnerCase{"replug_confirmed", false, AtPrompt::Confirm, true, false},
                      RunnerCase{"stopped_at_the_prompt", false, AtPrompt::Stop, false, true},
                      RunnerCase{"second_start_refused", false, AtPrompt::StartAnother, true,
                                 false}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace plcburn
