#include "metrics/station_metrics.h"

#include <array>
#include <charconv>
#include <utility>

namespace plcburn {

namespace {

constexpr std::array kOutcomes{BurnVerdict::Ok, BurnVerdict::Failed, BurnVerdict::Stopped,
                               BurnVerdict::Refused};

// Shortest text that reads back as the same double; Prometheus reads Go's float syntax.
std::string Number(double value) {
  char buf[32];
  const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  return std::string(buf, end);
}

// {name="value",...} from pairs, values escaped.
std::string Labels(std::initializer_list<std::pair<std::string_view, std::string_view>> labels) {
  std::string out = "{";
  for (const auto& [name, value] : labels) {
    if (out.size() > 1) out += ',';
    out += name;
    out += "=\"";
    out += EscapeLabelValue(value);
    out += '"';
  }
  return out + "}";
}

void Header(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, std::string_view name, const std::string& labels,
            const std::string& value) {
  out += name;
  out += labels;
  out += ' ';
  out += value;
  out += '\n';
}

}  // namespace

std::string_view BurnVerdictName(BurnVerdict outcome) {
  switch (outcome) {
    case BurnVerdict::Ok: return "ok";
    case BurnVerdict::Failed: return "failed";
    case BurnVerdict::Stopped: return "stopped";
    case BurnVerdict::Refused: return "refused";
  }
  return "unknown";
}

BurnVerdict VerdictOf(const BurnRecord& record) {
  if (record.result.stopped) return BurnVerdict::Stopped;
  if (record.result.ok) return BurnVerdict::Ok;
  if (record.result.step == kStepSizeCheck) return BurnVerdict::Refused;
  return BurnVerdict::Failed;
}

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

StationMetrics::StationMetrics(BuildInfo build) : build_(std::move(build)) {}

void StationMetrics::AddSlot(const std::string& slot) {
  const std::lock_guard lock(mutex_);
  slots_.try_emplace(slot);
}

void StationMetrics::SetSlotState(const std::string& slot, SlotState state) {
  const std::lock_guard lock(mutex_);
  slots_[slot].state = state;
}

void StationMetrics::Count(const std::string& slot, const BurnRecord& record) {
  const BurnVerdict outcome = VerdictOf(record);
  const double seconds = static_cast<double>(record.durationMs) / 1000.0;
  const std::lock_guard lock(mutex_);
  // All four results of a model in a slot show from its first burn on, so that a ratio of
  // failures to burns has both sides before the first failure.
  for (const BurnVerdict o : kOutcomes) burns_.try_emplace({record.model, slot, o}, 0);
  ++burns_[{record.model, slot, outcome}];
  slots_[slot].blockRetries += record.blocks.resent;
  // A refused burn never reached a PLC: its duration says nothing about burning.
  if (outcome == BurnVerdict::Refused) return;
  Durations& d = durations_[record.model];
  for (std::size_t i = 0; i < kBuckets; ++i)
    if (seconds <= kBucketSeconds[i]) ++d.inBucket[i];
  ++d.count;
  d.sumSeconds += seconds;
}

std::string StationMetrics::Render() const {
  const std::lock_guard lock(mutex_);
  std::string out;
  Header(out, "plcburn_burns_total", "counter", "Burns that ended, by model, slot and result.");
  for (const auto& [key, n] : burns_) {
    const auto& [model, slot, outcome] = key;
    Sample(out, "plcburn_burns_total",
           Labels({{"model", model}, {"slot", slot}, {"result", BurnVerdictName(outcome)}}),
           std::to_string(n));
  }

  Header(out, "plcburn_burn_duration_seconds", "histogram",
         "Time from the start of a burn to its end, by model; refused burns are not counted.");
  for (const auto& [model, d] : durations_) {
    for (std::size_t i = 0; i < kBuckets; ++i)
      Sample(out, "plcburn_burn_duration_seconds_bucket",
             Labels({{"model", model}, {"le", Number(kBucketSeconds[i])}}),
             std::to_string(d.inBucket[i]));
    Sample(out, "plcburn_burn_duration_seconds_bucket", Labels({{"model", model}, {"le", "+Inf"}}),
           std::to_string(d.count));
    Sample(out, "plcburn_burn_duration_seconds_sum", Labels({{"model", model}}),
           Number(d.sumSeconds));
    Sample(out, "plcburn_burn_duration_seconds_count", Labels({{"model", model}}),
           std::to_string(d.count));
  }

  Header(out, "plcburn_slot_state", "gauge", "The state each slot is in, at 1.");
  for (const auto& [slot, s] : slots_)
    Sample(out, "plcburn_slot_state", Labels({{"slot", slot}, {"state", SlotStateName(s.state)}}),
           "1");

  Header(out, "plcburn_block_retries_total", "counter",
         "Blocks written again after their first write, by slot.");
  for (const auto& [slot, s] : slots_)
    Sample(out, "plcburn_block_retries_total", Labels({{"slot", slot}}),
           std::to_string(s.blockRetries));

  Header(out, "plcburn_build_info", "gauge", "The plcburn version and the image it burns, at 1.");
  Sample(out, "plcburn_build_info",
         Labels({{"version", build_.version},
                 {"image", build_.image},
                 {"image_sha256", build_.imageSha256}}),
         "1");
  return out;
}

}  // namespace plcburn
