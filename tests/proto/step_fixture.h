#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/burn_state.h"
#include "core/catalogue.h"
#include "proto/step_context.h"
#include "tests/support/memory_link.h"
#include "tests/support/replies.h"

namespace plcburn::testing {

// A step context for one model on an in-memory link.
struct StepFixture {
  explicit StepFixture(std::string_view model, std::uint32_t fileLength = 0)
      : ctx{state, ModelAt(*FindModel(model)), &link, {}, fileLength} {}
  BurnState state;
  MemoryLink link;
  StepContext ctx;
};

}  // namespace plcburn::testing
