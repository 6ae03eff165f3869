#pragma once
// One complete update of the connected PLC, from the size check to the final message.

#include <cstdint>
#include <string>

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

// How a burn ended: its final message and its record.
struct BurnOutcome {
  bool ok = false;
  bool stopped = false;  // told to stop before its end
  std::string caption;
  std::string text;
  BurnRecord record;
};

BurnOutcome StartBurn(BurnSession& session);

}  // namespace plcburn
