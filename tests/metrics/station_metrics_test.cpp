#include "metrics/station_metrics.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "metrics/metrics_address.h"

namespace plcburn {
namespace {

// A burn that ended in a slot ("ok", "stopped" or the step that failed), a slot's new state
// (of its `device`, where one is named), another image burned, records lost, or the records
// the database lacks.
struct Feed {
  std::string slot, model, end;
  std::uint64_t ms = 0;
  std::uint32_t resent = 0;
  std::optional<SlotState> state = {};
  std::string device = {};
  std::optional<BuildImage> image = {};
  std::uint64_t lost = 0;
  std::optional<std::uint64_t> unsent = {};
  std::optional<ImageRefusal> refused = {};  // of an image refused by its check
};

struct ExpositionCase {
  const char* name;
  std::vector<Feed> feeds;
  std::vector<std::string> lines;   // whole lines of the exposition
  std::vector<std::string> absent;  // starts of lines it has not
};

class Exposition : public ::testing::TestWithParam<ExpositionCase> {};

TEST_P(Exposition, ShowsWhatTheRecordsSay) {
  const ExpositionCase& c = GetParam();
  StationMetrics metrics({"0.2.0", {{"VL_v189.bin", "ab12"}}});
  std::uint64_t lost = 0;
  metrics.CountRecordsLostFrom([&] { return lost; });
  std::uint64_t unsent = 0;
  metrics.CountRecordsUnsentFrom([&] { return unsent; });
  for (const Feed& f : c.feeds) {
    lost += f.lost;
    unsent = f.unsent.value_or(unsent);
    if (f.image) metrics.AddImage(*f.image);
    if (f.state) metrics.SetDeviceState(f.slot, f.device, *f.state);
    if (f.state || f.image || f.lost > 0 || f.unsent) continue;
    BurnRecord r;
    r.model = f.model;
    r.result.ok = f.end == "ok";
    r.result.stopped = f.end == "stopped";
    r.result.step = r.result.ok || r.result.stopped ? "SendFW" : f.end;
    r.durationMs = f.ms;
    r.blocks.resent = f.resent;
    if (f.refused) r.result.refused = BurnRecord::Result::Refused{*f.refused};
    metrics.Count(f.slot, r);
  }
  const std::string text = "\n" + metrics.Render();
  for (const std::string& line : c.lines)
    EXPECT_NE(text.find("\n" + line + "\n"), text.npos) << line;
  for (const std::string& start : c.absent) EXPECT_EQ(text.find("\n" + start), text.npos) << start;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Records, Exposition, ::testing::Values(
    ExpositionCase{"results_by_how_burns_ended",
                   {{"a", "VL", "ok"}, {"b", "VL", "stopped"}, {"c", "VL", "size check"},
                    {"d", "VL", "open"}, {"d", "VL", "SendErase_B"}},
                   {R"(plcburn_burns_total{model="VL",slot="a",result="ok"} 1)",
                    R"(plcburn_burns_total{model="VL",slot="a",result="failed"} 0)",
                    R"(plcburn_burns_total{model="VL",slot="b",result="stopped"} 1)",
                    R"(plcburn_burns_total{model="VL",slot="c",result="refused"} 1)",
                    R"(plcburn_burns_total{model="VL",slot="d",result="failed"} 2)",
                    R"(plcburn_build_info{version="0.2.0",image="VL_v189.bin",image_sha256="ab12"} 1)"}, {}},
    ExpositionCase{"durations_in_cumulative_buckets_by_model_refused_left_out",
                   {{"a", "VL", "ok", 4000}, {"b", "VL", "SendFW", 45500},
                    {"a", "QN4", "ok", 5000}, {"a", "VL", "size check", 1}},
                   {R"(plcburn_burn_duration_seconds_bucket{model="VL",le="5"} 1)",
                    R"(plcburn_burn_duration_seconds_bucket{model="VL",le="30"} 1)",
                    R"(plcburn_burn_duration_seconds_bucket{model="VL",le="60"} 2)",
                    R"(plcburn_burn_duration_seconds_bucket{model="VL",le="+Inf"} 2)",
                    R"(plcburn_burn_duration_seconds_sum{model="VL"} 49.5)",
                    R"(plcburn_burn_duration_seconds_count{model="VL"} 2)",
                    R"(plcburn_burn_duration_seconds_bucket{model="QN4",le="5"} 1)"}, {}},
    ExpositionCase{"one_state_per_slot_and_retries_summed",
                   {{"a", "", "", 0, 0, SlotState::Burning}, {"a", "VL", "ok", 1, 3},
                    {"a", "VL", "SendFW", 1, 4}, {"a", "", "", 0, 0, SlotState::Replug},
                    {"b", "", "", 0, 0, SlotState::Empty}},
                   {R"(plcburn_slot_state{slot="a",state="replug"} 1)",
                    R"(plcburn_slot_state{slot="b",state="empty"} 1)",
                    R"(plcburn_block_retries_total{slot="a"} 7)",
                    R"(plcburn_block_retries_total{slot="b"} 0)"},
                   {R"(plcburn_slot_state{slot="a",state="burning"})"}},
    ExpositionCase{"a_slot_shows_its_device_most_in_need",
                   {{"s", "", "", 0, 0, SlotState::Ok, "/dev/ttyUSB0"},
                    {"s", "", "", 0, 0, SlotState::Failed, "/dev/ttyUSB1"},
                    {"t", "", "", 0, 0, SlotState::Burning, "usb:1-2"},
                    {"t", "", "", 0, 0, SlotState::Empty, "usb:1-2"}},
                   {R"(plcburn_slot_state{slot="s",state="failed"} 1)",
                    R"(plcburn_slot_state{slot="t",state="empty"} 1)"},
                   {R"(plcburn_slot_state{slot="s",state="ok"})"}},
    ExpositionCase{"every_image_and_the_records_lost_and_unsent",
                   {{"", "", "", 0, 0, {}, "", BuildImage{"QN4_v2.bin", "cd34"}},
                    {"", "", "", 0, 0, {}, "", BuildImage{"VL_v189.bin", "ab12"}},
                    {"", "", "", 0, 0, {}, "", {}, 2}, {"", "", "", 0, 0, {}, "", {}, 1},
                    {"", "", "", 0, 0, {}, "", {}, 0, 5}, {"", "", "", 0, 0, {}, "", {}, 0, 2}},
                   {R"(plcburn_build_info{version="0.2.0",image="QN4_v2.bin",image_sha256="cd34"} 1)",
                    R"(plcburn_build_info{version="0.2.0",image="VL_v189.bin",image_sha256="ab12"} 1)",
                    "plcburn_records_lost_total 3", "plcburn_records_unsent 2"}, {}},
    ExpositionCase{"images_refused_by_reason_every_reason_from_zero",
                   {{"a", "QN4", "image check", 0, 0, {}, "", {}, 0, {}, ImageRefusal::Unsigned},
                    {"b", "QN4", "image check", 0, 0, {}, "", {}, 0, {}, ImageRefusal::Unsigned},
                    {"a", "VL", "size check", 0, 0, {}, "", {}, 0, {}, ImageRefusal::Size},
                    {"a", "VL", "image choice"}},
                   {R"(plcburn_images_refused_total{reason="unsigned"} 2)",
                    R"(plcburn_images_refused_total{reason="size"} 1)",
                    R"(plcburn_images_refused_total{reason="kind"} 0)",
                    R"(plcburn_burns_total{model="QN4",slot="a",result="refused"} 1)"}, {}},
    ExpositionCase{"label_values_escaped", {{"C:\\p\\\"x\"\nend", "VL", "ok"}},
                   {R"(plcburn_burns_total{model="VL",slot="C:\\p\\\"x\"\nend",result="ok"} 1)"}, {}}),
    [](const auto& param) { return std::string(param.param.name); });
// clang-format on

TEST(MetricsAddressOption, ParsesOrSaysWhatItWants) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {  // the host:port, or the error's start
      {"127.0.0.1:9464", "127.0.0.1:9464"},  {"[::1]:65535", "::1:65535"},
      {"localhost:1", "localhost:1"},        {"127.0.0.1", "--metrics 127.0.0.1: no port"},
      {":9464", "--metrics :9464: no address"}, {"::1:9464", "--metrics ::1:9464: an IPv6 address"},
      {"h:0", "--metrics h:0: the port is"}, {"h:65536", "--metrics h:65536: the port is"},
      {"h:94x", "--metrics h:94x: the port is"}};
  // clang-format on
  for (const auto& [text, want] : cases) {
    const ParsedMetricsAddress p = ParseMetricsAddress(text);
    const auto& a = p.address;
    const std::string got = a ? a->host + ":" + std::to_string(a->port) : p.error;
    EXPECT_EQ(got.rfind(want, 0), 0u) << got;
  }
}

}  // namespace
}  // namespace plcburn
