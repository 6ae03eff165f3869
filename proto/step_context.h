#pragma once
// What every protocol step works with: the burn's shared counters, the selected model's rules,
// and the burn's link and image (for the steps that take them from the burn, not an argument).

#include <cstdint>

#include "burn/burn_state.h"
#include "burn/catalogue.h"
#include "link/link.h"

namespace plcburn {

struct StepContext {
  BurnState& state;
  const ModelRules& model;
  Link* hSerial = nullptr;
  const std::uint8_t* fin = nullptr;  // read cursor into the image, advanced by FileRead
  std::uint32_t fileLength = 0;
};

}  // namespace plcburn
