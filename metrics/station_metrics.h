#pragma once
// A station's figures for Prometheus: burns by result, their durations, each slot's state, block
// retries and what the station burns. Burns feed it from their own threads; a scrape renders it.
// Every call takes one short lock, so a scrape never holds a burn up for longer than a copy.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>

#include "core/burn_record.h"
#include "core/slot_state.h"

namespace plcburn {

enum class BurnVerdict { Ok, Failed, Stopped, Refused };

// The label value: "ok", "failed", "stopped", "refused".
std::string_view BurnVerdictName(BurnVerdict outcome);

// Stopped wins over everything (a stopped burn fails at its next step); refused is a burn that
// ended at its size check, before it tried any port. A port that cannot be opened is a failure:
// at a station it means a device that is busy or not ours to open, which the plant must see.
BurnVerdict VerdictOf(const BurnRecord& record);

struct BuildInfo {
  std::string version;
  std::string image;
  std::string imageSha256;
};

class StationMetrics {
 public:
  explicit StationMetrics(BuildInfo build);

  // A slot shows from its first state on; a new slot starts empty.
  void AddSlot(const std::string& slot);
  void SetSlotState(const std::string& slot, SlotState state);
  // One ended burn, with the record the burn log gets.
  void Count(const std::string& slot, const BurnRecord& record);

  // Prometheus's text exposition format, version 0.0.4.
  std::string Render() const;

 private:
  // Upper bounds of the duration histogram's buckets: a small image over a serial line takes
  // seconds, a large one with a re-plug several minutes.
  static constexpr double kBucketSeconds[] = {5, 10, 20, 30, 60, 120, 300, 600, 1200};
  static constexpr std::size_t kBuckets = std::size(kBucketSeconds);

  struct Durations {
    std::uint64_t inBucket[kBuckets] = {};  // burns no longer than each bound
    std::uint64_t count = 0;
    double sumSeconds = 0;
  };
  struct Slot {
    SlotState state = SlotState::Empty;
    std::uint64_t blockRetries = 0;
  };

  const BuildInfo build_;
  mutable std::mutex mutex_;
  std::map<std::string, Slot> slots_;
  std::map<std::tuple<std::string, std::string, BurnVerdict>, std::uint64_t> burns_;
  std::map<std::string, Durations> durations_;  // by model
};

// A label value as the exposition format writes it between double quotes.
std::string EscapeLabelValue(std::string_view value);

}  // namespace plcburn
