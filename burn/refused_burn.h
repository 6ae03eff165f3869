#pragma once
// The record of a PLC that was identified first and got no image, or whose identification was
// stopped, or of an image refused by its check: nothing was erased, and the record says what the
// PLC told of itself, if it was asked.

#include <cstddef>
#include <cstdint>
#include <optional>
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
  std::string why = {};  // the refusal, or the stopped burn's message
  bool stopped = false;  // the identification was stopped, not refused
  // Of an image refused by its check: why, the model it was checked for and its size.
  std::optional<BurnRecord::Result::Refused> image = {};
  std::optional<std::size_t> imageModelRow = {};
  std::uint32_t imageSize = 0;
  std::uint64_t startMs = 0, endMs = 0;  // wall clock, milliseconds since 1970 UTC
  std::uint64_t durationMs = 0;
};

BurnRecord RefusedBurnRecord(const RefusedBurn& refused);

// Milliseconds since 1970 UTC, as a record's start and end are stamped.
std::uint64_t WallClockMs();

}  // namespace plcburn
