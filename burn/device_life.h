#pragma once
// One device's life at a burning station, as a state machine fed by events: it appears, it
// vanishes, its burn asks for a re-plug, its burn ends, time passes, the station stops. Each
// transition says what the station must do about it. The station, not a comparison of flags
// between two looks, decides from this alone when a device is burned, when a re-plug has come
// and when its slot is free again.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "core/burn_verdict.h"

namespace plcburn {

enum class DeviceStage {
  Absent,          // not plugged in (where a life starts and ends)
  AwaitingScan,    // plugged in with no scanned serial waiting, where one is required
  LeftAlone,       // plugged in when the station started: burned only after it was unplugged
  LeftAloneAway,   // left alone and gone for less than the debounce
  Burning,         // its burn runs
  BurningAway,     // its burn runs and it has gone: its return is a re-plug
  AwaitingReplug,  // its burn waits for it to be unplugged and plugged again
  ReplugAway,      // unplugged while its burn waits: its return is the re-plug
  Ended,           // its burn ended (ok, failed, stopped or refused); it waits for the unplug
  EndedAway,       // ended and gone for less than the debounce
};

// "absent", "left alone", ...
std::string_view DeviceStageName(DeviceStage stage);

enum class DeviceEventKind {
  PresentAtStart,  // there at the station's first look
  Appeared,        // seen in a slot (again, or as another plug of it: see `instance`)
  Vanished,        // no longer in any slot
  ReplugAsked,     // its burn asks the operator to re-plug it
  BurnEnded,       // its burn has ended, with `verdict`
  Scanned,         // a serial was scanned for it
  Tick,            // time has passed (debounces run out)
  Stop,            // the station stops
};

using StationClock = std::chrono::steady_clock;

struct DeviceEvent {
  DeviceEventKind kind = DeviceEventKind::Tick;
  StationClock::time_point at{};
  std::string instance = {};              // Appeared, PresentAtStart: which plug of the device
  bool scanWaiting = false;               // Appeared, PresentAtStart: a scanned serial waits
  BurnVerdict verdict = BurnVerdict::Ok;  // BurnEnded
};

// What the station does after a transition.
enum class DeviceAction {
  None,
  StartBurn,   // a new plug: burn it
  AwaitScan,   // a new plug that waits for its serial to be scanned
  ReplugSeen,  // tell its burn's prompt that it has been re-plugged
  StopBurn,    // stop its burn
  Free,        // its life has ended: its slot shows empty again
};

struct DeviceRules {
  // A device gone for less than this that comes back to the same place is the same device.
  std::chrono::milliseconds debounce{2000};
  bool burnPresentAtStart = false;
  bool taking = true;          // false once the station stops: nothing new is burned
  bool requireSerial = false;  // a plug is burned only with a scanned serial
};

struct DeviceLife {
  DeviceStage stage = DeviceStage::Absent;
  // A USB PLC is the same device wherever it re-enumerates at its port; a serial device is the
  // same only as the same plug (a reused node is another device).
  bool usb = false;
  std::string instance;                   // the plug last seen
  BurnVerdict verdict = BurnVerdict::Ok;  // of the burn that ended
  StationClock::time_point awaySince{};   // when it vanished, in the *Away stages
};

// Moves `life` on by `event`; what the station must do.
DeviceAction Advance(DeviceLife& life, const DeviceEvent& event, const DeviceRules& rules);

// When a Tick may next change `life`: the end of its debounce, or never.
std::optional<StationClock::time_point> NextDeadline(const DeviceLife& life,
                                                     const DeviceRules& rules);

}  // namespace plcburn
