#include "metrics/station_metrics.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "metrics/metrics_address.h"

namespace plcburn {
namespace {

// One ended burn in a slot, or (with no model) a slot's new state.
struct Feed {
  std::string slot;
  std::string model;
  bool ok = false;
  bool stopped = false;
  std::string step;
  std::uint64_t durationMs = 0;
  std::uint32_t resent = 0;
  std::optional<SlotState> state = {};
};

struct ExpositionCase {
  const char* name;
  std::vector<Feed> feeds;
  std::vector<std::string> lines;   // each one whole line of the exposition
  std::vector<std::string> absent;  // no line starts with these
};

void PrintTo(const ExpositionCase& c, std::ostream* os) {
  *os << c.name;
}

class Exposition : public ::testing::TestWithParam<ExpositionCase> {};

TEST_P(Exposition, ShowsWhatTheRecordsSay) {
  const ExpositionCase& c = GetParam();
  StationMetrics metrics({"0.2.0", "VL_v189.bin", "ab12"});
  for (const Feed& f : c.feeds) {
    if (f.state) {
      metrics.SetSlotState(f.slot, *f.state);
      continue;
    }
    BurnRecord r;
    r.model = f.model;
    r.result.ok = f.ok;
    r.result.stopped = f.stopped;
    r.result.step = f.step;
    r.durationMs = f.durationMs;
    r.blocks.resent = f.resent;
    metrics.Count(f.slot, r);
  }
  const std::string text = "\n" + metrics.Render();
  for (const std::string& line : c.lines)
    EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << " in" << text;
  for (const std::string& start : c.absent)
    EXPECT_EQ(text.find("\n" + start), std::string::npos) << start << " in" << text;
  EXPECT_NE(text.find("\nplcburn_build_info{version=\"0.2.0\",image=\"VL_v189.bin\","
                      "image_sha256=\"ab12\"} 1\n"),
            std::string::npos);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Records, Exposition,
    ::testing::Values(
        ExpositionCase{"ok_and_failed_with_zeros_beside",
                       {{"s1", "VL", true, false, "SendFW", 4000},
                        {"s1", "VL", false, false, "SendFW", 7000}},
                       {R"(plcburn_burns_total{model="VL",slot="s1",result="ok"} 1)",
                        R"(plcburn_burns_total{model="VL",slot="s1",result="failed"} 1)",
                        R"(plcburn_burns_total{model="VL",slot="s1",result="stopped"} 0)",
                        R"(plcburn_burns_total{model="VL",slot="s1",result="refused"} 0)"},
                       {}},
        ExpositionCase{"stopped_wins_over_the_step_that_failed",
                       {{"s1", "VL", false, true, "SendFW", 3000}},
                       {R"(plcburn_burns_total{model="VL",slot="s1",result="stopped"} 1)",
                        R"(plcburn_burns_total{model="VL",slot="s1",result="failed"} 0)"},
                       {}},
        ExpositionCase{"size_check_is_refused_and_not_timed",
                       {{"s1", "QN4", false, false, "size check", 1}},
                       {R"(plcburn_burns_total{model="QN4",slot="s1",result="refused"} 1)"},
                       {"plcburn_burn_duration_seconds_count"}},
        ExpositionCase{"a_port_that_cannot_open_is_a_failure",
                       {{"s1", "QN4", false, false, "open", 1}},
                       {R"(plcburn_burns_total{model="QN4",slot="s1",result="failed"} 1)",
                        R"(plcburn_burns_total{model="QN4",slot="s1",result="refused"} 0)"},
                       {}},
        ExpositionCase{"durations_fill_cumulative_buckets_by_model",
                       {{"s1", "VL", true, false, "SendFW", 4000},
                        {"s2", "VL", true, false, "SendFW", 45500},
                        {"s2", "TR7-B", true, false, "SendFW", 5000}},
                       {R"(plcburn_burn_duration_seconds_bucket{model="VL",le="5"} 1)",
                        R"(plcburn_burn_duration_seconds_bucket{model="VL",le="30"} 1)",
                        R"(plcburn_burn_duration_seconds_bucket{model="VL",le="60"} 2)",
                        R"(plcburn_burn_duration_seconds_bucket{model="VL",le="+Inf"} 2)",
                        R"(plcburn_burn_duration_seconds_sum{model="VL"} 49.5)",
                        R"(plcburn_burn_duration_seconds_count{model="VL"} 2)",
                        R"(plcburn_burn_duration_seconds_bucket{model="TR7-B",le="5"} 1)"},
                       {}},
        ExpositionCase{"one_state_per_slot_and_retries_summed",
                       {{"s1", "", false, false, "", 0, 0, SlotState::Burning},
                        {"s1", "VL", true, false, "SendFW", 4000, 3},
                        {"s1", "VL", false, false, "SendFW", 4000, 4},
                        {"s1", "", false, false, "", 0, 0, SlotState::Replug},
                        {"s2", "", false, false, "", 0, 0, SlotState::Empty}},
                       {R"(plcburn_slot_state{slot="s1",state="replug"} 1)",
                        R"(plcburn_slot_state{slot="s2",state="empty"} 1)",
                        R"(plcburn_block_retries_total{slot="s1"} 7)",
                        R"(plcburn_block_retries_total{slot="s2"} 0)"},
                       {R"(plcburn_slot_state{slot="s1",state="burning"})"}},
        ExpositionCase{"label_values_escaped",
                       {{"C:\\ports\\\"x\"\nend", "VL", true, false, "SendFW", 1000}},
                       {R"(plcburn_burns_total{model="VL",slot="C:\\ports\\\"x\"\nend",result="ok"} 1)"},
                       {}}),
    [](const auto& param) { return std::string(param.param.name); });
// clang-format on

struct AddressCase {
  const char* text;
  std::optional<MetricsAddress> expected;
};

TEST(MetricsAddressOption, ParsesOrSaysWhatItWants) {
  const AddressCase cases[] = {
      {"127.0.0.1:9464", MetricsAddress{"127.0.0.1", 9464}},
      {"localhost:1", MetricsAddress{"localhost", 1}},
      {"[::1]:65535", MetricsAddress{"::1", 65535}},
      {"0.0.0.0:9464", MetricsAddress{"0.0.0.0", 9464}},
      {"127.0.0.1", std::nullopt},
      {":9464", std::nullopt},
      {"::1:9464", std::nullopt},
      {"127.0.0.1:0", std::nullopt},
      {"127.0.0.1:65536", std::nullopt},
      {"127.0.0.1:94x", std::nullopt},
      {"127.0.0.1:", std::nullopt},
      {"--json", std::nullopt},
  };
  for (const AddressCase& c : cases) {
    const ParsedMetricsAddress parsed = ParseMetricsAddress(c.text);
    ASSERT_EQ(parsed.address.has_value(), c.expected.has_value()) << c.text;
    if (c.expected) {
      EXPECT_EQ(parsed.address->host, c.expected->host) << c.text;
      EXPECT_EQ(parsed.address->port, c.expected->port) << c.text;
    } else {
      EXPECT_NE(parsed.error.find(std::string(c.text) + ": "), std::string::npos) << parsed.error;
      EXPECT_NE(parsed.error.find("ADDRESS:PORT"), std::string::npos) << parsed.error;
    }
  }
}

}  // namespace
}  // namespace plcburn
