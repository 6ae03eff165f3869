#pragma once
// Where a station's slot stands, as its lines, tiles and metrics show it.

#include <string_view>

namespace plcburn {

enum class SlotState { Empty, Burning, Replug, Ok, Failed };

// "empty", "burning", "replug", "ok", "failed".
constexpr std::string_view SlotStateName(SlotState state) {
  switch (state) {
    case SlotState::Empty: return "empty";
    case SlotState::Burning: return "burning";
    case SlotState::Replug: return "replug";
    case SlotState::Ok: return "ok";
    case SlotState::Failed: return "failed";
  }
  return "unknown";
}

}  // namespace plcburn
