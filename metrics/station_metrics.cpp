#include "metrics/station_metrics.h"

#include <algorithm>
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

StationMetrics::StationMetrics(BuildInfo build)
    : version_(std::move(build.version)), images_(std::move(build.images)) {
  std::sort(images_.begin(), images_.end());
  // Every reason shows from the start, so that an increase is seen from zero.
  for (const ImageRefusal reason : kImageRefusals) imagesRefused_[reason] = 0;
}

void StationMetrics::AddSlot(const std::string& slot) {
  const std::lock_guard lock(mutex_);
  slots_.try_emplace(slot);
}

void StationMetrics::SetSlotState(const std::string& slot, SlotState state) {
  SetDeviceState(slot, {}, state);
}

void StationMetrics::SetDeviceState(const std::string& slot, const std::string& device,
                                    SlotState state) {
  const std::lock_guard lock(mutex_);
  auto& devices = slots_[slot].devices;
  if (state == SlotState::Empty && !device.empty()) {
    devices.erase(device);
  } else {
    devices[device] = state;
  }
}

// A slot with several devices shows the one that needs a look most: an end that went wrong,
// then a re-plug, a burn, a success; with none, it is empty.
SlotState StationMetrics::Shown(const Slot& slot) {
  constexpr SlotState kByUrgency[] = {SlotState::Failed, SlotState::Stopped, SlotState::Refused,
                                      SlotState::Replug, SlotState::Burning, SlotState::Ok};
  for (const SlotState state : kByUrgency)
    for (const auto& [device, shown] : slot.devices)
      if (shown == state) return state;
  return SlotState::Empty;
}

void StationMetrics::AddImage(const BuildImage& image) {
  const std::lock_guard lock(mutex_);
  const auto at = std::lower_bound(images_.begin(), images_.end(), image);
  if (at == images_.end() || at->name != image.name || at->sha256 != image.sha256)
    images_.insert(at, image);
}

void StationMetrics::CountRecordsLostFrom(std::function<std::uint64_t()> lost) {
  const std::lock_guard lock(mutex_);
  recordsLost_ = std::move(lost);
}

void StationMetrics::CountRecordsUnsentFrom(std::function<std::uint64_t()> unsent) {
  const std::lock_guard lock(mutex_);
  recordsUnsent_ = std::move(unsent);
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
  if (record.result.refused) ++imagesRefused_[record.result.refused->reason];
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

  Header(out, "plcburn_slot_state", "gauge",
         "The state each slot is in, at 1: of the device in it that needs a look most.");
  for (const auto& [slot, s] : slots_)
    Sample(out, "plcburn_slot_state", Labels({{"slot", slot}, {"state", SlotStateName(Shown(s))}}),
           "1");

  Header(out, "plcburn_block_retries_total", "counter",
         "Blocks written again after their first write, by slot.");
  for (const auto& [slot, s] : slots_)
    Sample(out, "plcburn_block_retries_total", Labels({{"slot", slot}}),
           std::to_string(s.blockRetries));

  Header(out, "plcburn_images_refused_total", "counter",
         "Images refused by their check (kind, size, model, signature), by reason: nothing was "
         "erased.");
  for (const auto& [reason, n] : imagesRefused_)
    Sample(out, "plcburn_images_refused_total", Labels({{"reason", ImageRefusalName(reason)}}),
           std::to_string(n));

  Header(out, "plcburn_records_lost_total", "counter",
         "Burn records that could not be written to the burn log.");
  Sample(out, "plcburn_records_lost_total", "", std::to_string(recordsLost_ ? recordsLost_() : 0));

  Header(out, "plcburn_records_unsent", "gauge",
         "Burn records in the burn log that the records database has not taken yet.");
  Sample(out, "plcburn_records_unsent", "", std::to_string(recordsUnsent_ ? recordsUnsent_() : 0));

  Header(out, "plcburn_build_info", "gauge",
         "The plcburn version and each image the station burns, at 1.");
  for (const BuildImage& image : images_)
    Sample(out, "plcburn_build_info",
           Labels({{"version", version_}, {"image", image.name}, {"image_sha256", image.sha256}}),
           "1");
  return out;
}

}  // namespace plcburn
