#pragma once
// What every protocol step works with: the burn's shared counters, the selected model's rules,
// the burn's link and image (for the steps that take them from the burn, not an argument), and
// the burn's record, where the steps note what the PLC said and how the blocks went.

#include <cstdint>

#include "core/burn_record.h"
#include "core/burn_state.h"
#include "core/catalogue.h"
#include "link/link.h"
#include "proto/image_cursor.h"

namespace plcburn {

struct StepContext {
  BurnState& state;
  const ModelRules& model;
  Link* hSerial = nullptr;
  ImageCursor fin;  // read cursor into the image, advanced by FileRead
  std::uint32_t fileLength = 0;
  BurnRecord* record = nullptr;  // optional
};

}  // namespace plcburn
