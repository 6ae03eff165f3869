#pragma once
// Where a station's slot stands, as its lines, tiles and metrics show it.

#include <string_view>

#include "core/burn_verdict.h"

namespace plcburn {

enum class SlotState { Empty, Scan, Burning, Replug, Ok, Failed, Stopped, Refused };

// "empty", "scan", "burning", "replug", "ok", "failed", "stopped", "refused".
constexpr std::string_view SlotStateName(SlotState state) {
  switch (state) {
    case SlotState::Empty: return "empty";
    case SlotState::Scan: return "scan";
    case SlotState::Burning: return "burning";
    case SlotState::Replug: return "replug";
    case SlotState::Ok: return "ok";
    case SlotState::Failed: return "failed";
    case SlotState::Stopped: return "stopped";
    case SlotState::Refused: return "refused";
  }
  return "unknown";
}

// What a slot shows once its burn has ended.
constexpr SlotState EndedState(BurnVerdict verdict) {
  switch (verdict) {
    case BurnVerdict::Ok: return SlotState::Ok;
    case BurnVerdict::Failed: return SlotState::Failed;
    case BurnVerdict::Stopped: return SlotState::Stopped;
    case BurnVerdict::Refused: return SlotState::Refused;
  }
  return SlotState::Failed;
}

}  // namespace plcburn
