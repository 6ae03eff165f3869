#pragma once
// A burning station: every PLC plugged into one of its slots is burned once, all slots at once,
// with no keyboard. The re-plug prompt of the USB models is answered by the re-plug itself; a
// power cycle is confirmed at once (the model's pause still runs). A device whose burn has ended
// is not burned again until it has gone away and come back; one that was there when the station
// started is left alone unless asked. Each device's life is a DeviceLife state machine.
//
// Threads and locks. The station's own thread (Run) looks at the slots and feeds the devices'
// lives. Each burn runs on its runner's worker; a PLC identified first (with chooseImage) is
// identified on a thread of its own. `mutex_` guards the devices, their lives and the totals.
// Lock order: `mutex_`, then a runner's or a BurnControl's lock (a stop reaches the burns under
// it); nothing takes `mutex_` while holding those. The view is never called, and no burn is
// waited for, while `mutex_` is held.

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
#include "burn/device_life.h"
#include "core/burn_record.h"
#include "core/slot_state.h"
#include "link/slot_watch.h"
#include "proto/identify_plc.h"

namespace plcburn {

// Who a station's call is about: the slot as the operator named it, the device found in it and
// the port a burn opens to reach it.
struct DeviceLabel {
  std::string slot;
  std::string device;
  std::string port;
};

// What a station shows; called on the station's threads, one call at a time per device.
class StationView {
 public:
  virtual ~StationView() = default;
  // A device's burn changed its state; `note` is the final message, or what the station did.
  virtual void Changed(const DeviceLabel& who, SlotState state, std::string_view note) = 0;
  virtual void Phase(const DeviceLabel& /*who*/, BurnPhase /*phase*/) {}
  virtual void Message(const DeviceLabel& who, std::string_view caption, std::string_view text) = 0;
  virtual void Prompt(const DeviceLabel& who, const ReconnectPrompt& prompt) = 0;
  // The burn's record, once the burn has ended and its final message was shown.
  virtual void Result(const DeviceLabel& who, const BurnRecord& record) = 0;
  // An entry in a slot that is no serial device: said once for as long as it stays; it is never
  // opened.
  virtual void Misfit(const std::string& /*slot*/, const std::string& /*path*/,
                      std::string_view /*why*/) {}
  // What became of a scanned serial: `what` says it (waiting for a plug, refused, replaced by
  // the next, timed out, given to a device, already burned today).
  virtual void ScanSaid(std::string_view /*serial*/, std::string_view /*what*/) {}
};

// The model and image a PLC gets when the station identifies it first, or why it gets none.
struct StationImage {
  PlcIdentity plc;
  std::optional<std::size_t> modelRow;  // none: refused, with `refusal`
  std::vector<std::uint8_t> bytes;
  std::string imageName;  // also of an image refused by its check
  std::string imageSha256;
  std::string signingKeyId = {};  // of an image signed by a trusted key
  std::string trustedComment = {};
  std::string refusal;
  // Of an image found for the PLC and refused by its check.
  std::optional<BurnRecord::Result::Refused> imageRefused = {};
  std::uint32_t imageSize = 0;
};

struct StationConfig {
  std::vector<std::string> slots;
  std::size_t modelRow = 0;
  std::span<const std::uint8_t> image;
  RecordFacts facts;
  BurnJournal* log = nullptr;  // the burn log, if any
  std::chrono::milliseconds replugTimeout{60000};
  // A device gone for less than this that comes back to the same place is the same device.
  std::chrono::milliseconds unplugDebounce{2000};
  bool burnPresentAtStart = false;
  // A scanned serial belongs to the next device plugged in within this time.
  std::chrono::milliseconds scanTimeout{30000};
  // Devices plugged with no scan waiting are not burned until one comes ("SCAN").
  bool requireSerial = false;
  std::chrono::milliseconds second{1000};  // the runners' second (shorter in tests)
  // When set, each PLC is identified on its own link first and burned with what this gives,
  // instead of `modelRow` and `image`; it runs on the device's own thread, and the opener it
  // gets stops with the station.
  std::function<StationImage(LinkOpener&, const SlotDevice&)> chooseImage;
};

class Station {
 public:
  using OpenerFor = std::function<std::unique_ptr<LinkOpener>(const SlotDevice&)>;
  Station(StationConfig config, SlotWatch& watch, OpenerFor openerFor, StationView& view);
  ~Station();

  // Burns what is plugged until Stop; returns once every burn has ended.
  void Run();
  // Safe from any thread, at any moment: every burn, begun or about to begin, ends as stopped
  // with its record; idle slots just close.
  void Stop();
  // A serial scanned from a label (any thread): it goes to the device waiting for one the
  // longest, or else waits for the next device plugged in.
  void Scanned(const std::string& serial);

  struct Totals {
    int burned = 0;
    int failed = 0;
    int stopped = 0;
    int refused = 0;
  };
  Totals CurrentTotals() const;
  // A device's live panel values while it is known, for the front end's lines.
  struct DeviceStatus {
    std::string device;  // what the operator sees it as: the port
    std::size_t slot = 0;
    DeviceLabel label;
    SlotState state = SlotState::Empty;
    std::string note;
    std::string serial = {};  // scanned for it, if any
    std::int32_t flashStatus = 0, progress = 0, errCounter = 0, totalErrCounter = 0,
                 elapsedTime = 0;
  };
  std::vector<DeviceStatus> Devices() const;

 private:
  class Unit;
  struct Known {
    SlotDevice at;  // where it was found for its burn
    DeviceLife life;
    std::unique_ptr<Unit> unit;
    int replugs = 0;  // re-plugs seen while its burn runs
    SlotState shown = SlotState::Empty;
    std::string note;
    std::string serial;                       // scanned for this plug
    StationClock::time_point waitingSince{};  // for its scan
  };
  struct PendingScan {
    std::string serial;
    StationClock::time_point until;
  };
  struct ScanNote {
    std::string serial, what;
  };
  // What Take decided, done once the lock is let go.
  struct Aftermath {
    std::vector<DeviceLabel> freed;
    std::vector<Unit*> started;
    std::vector<std::unique_ptr<Unit>> retired;
    std::vector<SlotMisfit> misfits;
    std::vector<DeviceLabel> awaitingScan;
    std::vector<ScanNote> scans;
  };

  DeviceRules Rules() const;
  DeviceLabel LabelOf(const SlotDevice& at) const;
  void Take(const SlotLook& look, bool first);
  void Apply(Known& known, DeviceAction action, const SlotDevice* seen, Aftermath& after,
             const std::string& serial = {});
  void ExpireScan(StationClock::time_point now, Aftermath& after);
  std::vector<std::string> WarningsFor(const std::string& serial) const;
  void Finish(Aftermath& after);
  std::chrono::milliseconds UntilNextDeadline() const;
  // Called from a unit's threads.
  void ReplugAsked(const std::string& device);
  bool WaitForReplug(const std::string& device, int seenBefore);
  int Replugs(const std::string& device) const;
  void BurnEnded(const std::string& device, const BurnRecord& record);

  const StationConfig config_;
  SlotWatch& watch_;
  OpenerFor openerFor_;
  StationView& view_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
  std::map<std::string, Known> known_;     // by device
  std::set<std::string> misfitsSaid_;      // paths of misfits said while they stay
  std::optional<PendingScan> pending_;     // scanned, waiting for a plug
  std::map<std::string, int> burnedOkOn_;  // serial -> the day it was last burned OK
  Totals totals_;
};

}  // namespace plcburn
