#pragma once
// The record of a PLC that was identified first and got no image, or whose identification was
// stopped: nothing was erased, and the record says what the PLC told of itself.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/burn_record.h"
#include "proto/identify_plc.h"

namespace plcburn {

struct RefusedBurn {
  RecordFacts facts;
  std::string port;
  bool usb = false;
  PlcIdentity plc = {};
  std::string why = {};                  // the refusal, or the stopped burn's message
  bool stopped = false;                  // the identification was stopped, not refused
  std::uint64_t startMs = 0, endMs = 0;  // wall clock, milliseconds since 1970 UTC
  std::uint64_t durationMs = 0;
};

BurnRecord RefusedBurnRecord(const RefusedBurn& refused);

// Milliseconds since 1970 UTC, as a record's start and end are stamped.
std::uint64_t WallClockMs();

}  // namespace plcburn
