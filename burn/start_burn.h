#pragma once
// One complete update of the connected PLC, from the size check to the final message.

#include <cstdint>

#include "burn/burn_control.h"
#include "burn/burn_recording.h"
#include "core/burn_state.h"
#include "core/image_source.h"
#include "core/operator.h"
#include "link/link.h"

namespace plcburn {

// Everything one burn works with; the front end owns it and keeps it alive during the burn.
struct BurnSession {
  BurnState& state;
  Selection& selection;
  Operator& ui;
  LinkOpener& opener;
  ImageSource& image;
  BurnControl* control = nullptr;      // optional: lets another thread stop the burn
  BurnRecording* recording = nullptr;  // optional: keeps the burn's record as it ends
};

// How many attempts may find the application still running after its erase before the burn
// gives up (the PLC never reaching its boot loader would otherwise loop for ever).
inline constexpr int kMaxAppModeAttempts = 5;

std::uint32_t StartBurn(BurnSession& session);

}  // namespace plcburn
