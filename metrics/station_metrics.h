#pragma once
// A station's figures for Prometheus: burns by result, their durations, each slot's state, block
// retries, images refused and what the station burns. Burns feed it from their own threads; a
// scrape renders it. Every call takes one short lock, so a scrape never holds a burn up for longer
// than a copy.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/burn_record.h"
#include "core/burn_verdict.h"
#include "core/slot_state.h"

namespace plcburn {

struct BuildImage {
  std::string name;
  std::string sha256;
  bool operator<(const BuildImage& other) const {
    return std::tie(name, sha256) < std::tie(other.name, other.sha256);
  }
};

struct BuildInfo {
  std::string version;
  std::vector<BuildImage> images;  // every image the station may burn
};

class StationMetrics {
 public:
  explicit StationMetrics(BuildInfo build);

  // A slot shows from its first state on; a new slot starts empty.
  void AddSlot(const std::string& slot);
  // The state of the device in a slot (or of the slot itself, with no device named); a device
  // that is gone (Empty) leaves its slot.
  void SetSlotState(const std::string& slot, SlotState state);
  void SetDeviceState(const std::string& slot, const std::string& device, SlotState state);
  // One ended burn, with the record the burn log gets; an image refused by its check counts by
  // its reason too.
  void Count(const std::string& slot, const BurnRecord& record);
  // An image the station burns that it did not name at the start (a file changed since).
  void AddImage(const BuildImage& image);
  // Where the count of burn records that could not be written comes from.
  void CountRecordsLostFrom(std::function<std::uint64_t()> lost);
  // Where the count of burn records that the records database still lacks comes from.
  void CountRecordsUnsentFrom(std::function<std::uint64_t()> unsent);

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
    std::map<std::string, SlotState> devices;  // "" for the slot itself
    std::uint64_t blockRetries = 0;
  };
  static SlotState Shown(const Slot& slot);

  const std::string version_;
  std::vector<BuildImage> images_;
  std::function<std::uint64_t()> recordsLost_;
  std::function<std::uint64_t()> recordsUnsent_;
  mutable std::mutex mutex_;
  std::map<std::string, Slot> slots_;
  std::map<std::tuple<std::string, std::string, BurnVerdict>, std::uint64_t> burns_;
  std::map<std::string, Durations> durations_;  // by model
  std::map<ImageRefusal, std::uint64_t> imagesRefused_;
};

// A label value as the exposition format writes it between double quotes.
std::string EscapeLabelValue(std::string_view value);

}  // namespace plcburn
