#include "burn/device_life.h"

namespace plcburn {

namespace {

using Kind = DeviceEventKind;
using Stage = DeviceStage;

// The plug seen is the one the life knows: a USB PLC at its port always is.
bool SamePlug(const DeviceLife& life, const DeviceEvent& event) {
  return life.usb || event.instance == life.instance;
}

bool WithinDebounce(const DeviceLife& life, const DeviceEvent& event, const DeviceRules& rules) {
  return event.at - life.awaySince < rules.debounce;
}

DeviceAction Move(DeviceLife& life, Stage to, DeviceAction action = DeviceAction::None) {
  life.stage = to;
  return action;
}

// A new plug: burned unless the station has stopped taking them, or it waits for its serial.
DeviceAction NewPlug(DeviceLife& life, const DeviceEvent& event, const DeviceRules& rules) {
  life.instance = event.instance;
  if (!rules.taking) return Move(life, Stage::Absent, DeviceAction::Free);
  if (rules.requireSerial && !event.scanWaiting)
    return Move(life, Stage::AwaitingScan, DeviceAction::AwaitScan);
  return Move(life, Stage::Burning, DeviceAction::StartBurn);
}

DeviceAction GoAway(DeviceLife& life, const DeviceEvent& event, Stage to) {
  life.awaySince = event.at;
  return Move(life, to);
}

// Back (or another plug at the same place) while a burn runs: that is a re-plug.
DeviceAction Replugged(DeviceLife& life, const DeviceEvent& event) {
  life.instance = event.instance;
  return Move(life, Stage::Burning, DeviceAction::ReplugSeen);
}

// A device that stays where it is (left alone, or ended) and is seen again: the same plug stays
// as it is; another plug is a new device, though the station never saw the first one go.
DeviceAction SeenWhileStaying(DeviceLife& life, const DeviceEvent& event,
                              const DeviceRules& rules) {
  if (SamePlug(life, event)) return DeviceAction::None;
  return NewPlug(life, event, rules);
}

// Back from a short absence: the same device if it is the same plug, back in time.
DeviceAction Returned(DeviceLife& life, const DeviceEvent& event, const DeviceRules& rules,
                      Stage stay) {
  if (SamePlug(life, event) && WithinDebounce(life, event, rules)) {
    life.instance = event.instance;
    return Move(life, stay);
  }
  return NewPlug(life, event, rules);
}

DeviceAction Expire(DeviceLife& life, const DeviceEvent& event, const DeviceRules& rules) {
  if (WithinDebounce(life, event, rules)) return DeviceAction::None;
  return Move(life, Stage::Absent, DeviceAction::Free);
}

DeviceAction BurnEnds(DeviceLife& life, const DeviceEvent& event, Stage to) {
  life.verdict = event.verdict;
  return Move(life, to);
}

}  // namespace

std::string_view DeviceStageName(DeviceStage stage) {
  switch (stage) {
    case Stage::Absent: return "absent";
    case Stage::AwaitingScan: return "awaiting scan";
    case Stage::LeftAlone: return "left alone";
    case Stage::LeftAloneAway: return "left alone, away";
    case Stage::Burning: return "burning";
    case Stage::BurningAway: return "burning, away";
    case Stage::AwaitingReplug: return "awaiting re-plug";
    case Stage::ReplugAway: return "re-plug, away";
    case Stage::Ended: return "ended";
    case Stage::EndedAway: return "ended, away";
  }
  return "unknown";
}

DeviceAction Advance(DeviceLife& life, const DeviceEvent& event, const DeviceRules& rules) {
  const bool burning = life.stage == Stage::Burning || life.stage == Stage::BurningAway ||
                       life.stage == Stage::AwaitingReplug || life.stage == Stage::ReplugAway;
  if (event.kind == Kind::Stop) return burning ? DeviceAction::StopBurn : DeviceAction::None;

  switch (life.stage) {
    case Stage::Absent:
      if (event.kind == Kind::Appeared) return NewPlug(life, event, rules);
      if (event.kind == Kind::PresentAtStart) {
        if (rules.burnPresentAtStart) return NewPlug(life, event, rules);
        life.instance = event.instance;
        return Move(life, Stage::LeftAlone);
      }
      break;
    case Stage::AwaitingScan:
      if (event.kind == Kind::Scanned && rules.taking)
        return Move(life, Stage::Burning, DeviceAction::StartBurn);
      if (event.kind == Kind::Vanished) return Move(life, Stage::Absent, DeviceAction::Free);
      // Another plug at the same place, unseen: it waits for its own scan.
      if (event.kind == Kind::Appeared && event.instance != life.instance)
        return NewPlug(life, event, rules);
      break;
    case Stage::LeftAlone:
      if (event.kind == Kind::Vanished) return GoAway(life, event, Stage::LeftAloneAway);
      if (event.kind == Kind::Appeared) return SeenWhileStaying(life, event, rules);
      break;
    case Stage::LeftAloneAway:
      if (event.kind == Kind::Appeared) return Returned(life, event, rules, Stage::LeftAlone);
      if (event.kind == Kind::Tick) return Expire(life, event, rules);
      break;
    case Stage::Burning:
      if (event.kind == Kind::Vanished) return GoAway(life, event, Stage::BurningAway);
      // Gone and back between two looks.
      if (event.kind == Kind::Appeared && event.instance != life.instance)
        return Replugged(life, event);
      if (event.kind == Kind::ReplugAsked) return Move(life, Stage::AwaitingReplug);
      if (event.kind == Kind::BurnEnded) return BurnEnds(life, event, Stage::Ended);
      break;
    case Stage::BurningAway:
      if (event.kind == Kind::Appeared) return Replugged(life, event);
      // Already pulled when the prompt comes: its return is the re-plug.
      if (event.kind == Kind::ReplugAsked) return Move(life, Stage::ReplugAway);
      if (event.kind == Kind::BurnEnded) return BurnEnds(life, event, Stage::EndedAway);
      break;
    case Stage::AwaitingReplug:
      if (event.kind == Kind::Vanished) return GoAway(life, event, Stage::ReplugAway);
      if (event.kind == Kind::Appeared && event.instance != life.instance)
        return Replugged(life, event);
      if (event.kind == Kind::BurnEnded) return BurnEnds(life, event, Stage::Ended);
      break;
    case Stage::ReplugAway:
      if (event.kind == Kind::Appeared) return Replugged(life, event);
      if (event.kind == Kind::BurnEnded) return BurnEnds(life, event, Stage::EndedAway);
      break;
    case Stage::Ended:
      if (event.kind == Kind::Vanished) return GoAway(life, event, Stage::EndedAway);
      if (event.kind == Kind::Appeared) return SeenWhileStaying(life, event, rules);
      break;
    case Stage::EndedAway:
      if (event.kind == Kind::Appeared) return Returned(life, event, rules, Stage::Ended);
      if (event.kind == Kind::Tick) return Expire(life, event, rules);
      break;
  }
  return DeviceAction::None;
}

std::optional<StationClock::time_point> NextDeadline(const DeviceLife& life,
                                                     const DeviceRules& rules) {
  if (life.stage == Stage::LeftAloneAway || life.stage == Stage::EndedAway)
    return life.awaySince + rules.debounce;
  return std::nullopt;
}

}  // namespace plcburn
