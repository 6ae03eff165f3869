#pragma once
// Times as the burn records write them, read back: a record's start, and the date a history
// begins at.

#include <cstdint>
#include <optional>
#include <string_view>

namespace plcburn {

// Milliseconds since 1970 UTC for "2026-03-01", "2026-03-01T08:15", "2026-03-01T08:15:02" or
// "2026-03-01T08:15:02.345", each with or without a closing "Z": always UTC, as the records
// are. None for anything else, or a date that no calendar has.
std::optional<std::uint64_t> ParseUtcTime(std::string_view text);

}  // namespace plcburn
