#pragma once
// A burning station: every PLC plugged into one of its slots is burned once, all slots at once,
// with no keyboard. The re-plug prompt of the USB models is answered by the re-plug itself; a
// power cycle is confirmed at once (the model's pause still runs). A device whose burn has ended
// is not burned again until it has gone away and come back; one that was there when the station
// started is left alone unless asked.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "burn/burn_runner.h"
#include "core/burn_record.h"
#include "core/slot_state.h"
#include "link/slot_watch.h"

namespace plcburn {

// What a station shows; called on the station's threads, one call at a time per device.
class StationView {
 public:
  virtual ~StationView() = default;
  // A device's burn changed its state; `note` is the final message, or what the station did.
  virtual void Changed(const std::string& device, SlotState state, std::string_view note) = 0;
  virtual void Message(const std::string& device, std::string_view caption,
                       std::string_view text) = 0;
  virtual void Prompt(const std::string& device, const ReconnectPrompt& prompt) = 0;
  // The burn's record, once kept.
  virtual void Result(const std::string& device, const BurnRecord& record) = 0;
};

// The model and image a PLC gets when the station identifies it first, or why it gets none.
struct StationImage {
  std::optional<std::size_t> modelRow;  // none: refused, with `refusal`
  std::vector<std::uint8_t> bytes;
  std::string imageName;
  std::string imageSha256;
  std::string refusal;
};

struct StationConfig {
  std::vector<std::string> slots;
  std::size_t modelRow = 0;
  std::span<const std::uint8_t> image;
  RecordFacts facts;
  BurnJournal* log = nullptr;  // the burn log, if any
  std::chrono::milliseconds replugTimeout{60000};
  bool burnPresentAtStart = false;
  std::chrono::milliseconds second{1000};  // the runners' second (shorter in tests)
  // When set, each PLC is identified on its own link first and burned with what this gives,
  // instead of `modelRow` and `image`; it runs on the device's own thread.
  std::function<StationImage(LinkOpener&, const SlotDevice&)> chooseImage;
};

class Station {
 public:
  using OpenerFor = std::function<std::unique_ptr<LinkOpener>(const SlotDevice&)>;
  Station(StationConfig config, SlotWatch& watch, OpenerFor openerFor, StationView& view);
  ~Station();

  // Burns what is plugged until Stop; returns once every burn has ended.
  void Run();
  // Safe from any thread: running burns end as stopped, idle slots just close.
  void Stop();

  struct Totals {
    int burned = 0;
    int failed = 0;
  };
  Totals CurrentTotals() const;
  // A device's live panel values while it is known, for the front end's lines.
  struct DeviceStatus {
    std::string device;
    std::size_t slot = 0;
    SlotState state = SlotState::Empty;
    std::string note;
    std::int32_t flashStatus = 0, progress = 0, errCounter = 0, totalErrCounter = 0,
                 elapsedTime = 0;
  };
  std::vector<DeviceStatus> Devices() const;

 private:
  class Unit;
  void Sync(const std::vector<SlotDevice>& present);
  void StartUnit(const SlotDevice& device);

  const StationConfig config_;
  SlotWatch& watch_;
  OpenerFor openerFor_;
  StationView& view_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
  std::set<std::string> leftIn_;  // present at the start, or ended and not yet gone
  std::map<std::string, std::unique_ptr<Unit>> units_;
  Totals totals_;
};

}  // namespace plcburn
