#pragma once
// A burn's record as JSON: one object, written on one line.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "core/burn_record.h"

namespace plcburn {

inline constexpr int kRecordSchema = 1;

// Fields in a fixed order, so that a person reading the log finds them where they expect.
nlohmann::ordered_json RecordJson(const BurnRecord& record);
// The record on one line, ending with a newline. Bytes that are no UTF-8 (a device name, say)
// come out as U+FFFD rather than breaking the line.
std::string RecordLine(const BurnRecord& record);
// The same for any JSON value.
std::string JsonLine(const nlohmann::ordered_json& value);

// "2026-03-01T08:15:02.345Z" for milliseconds since 1970 UTC.
std::string IsoUtc(std::uint64_t msSinceEpoch);

// "handshake", "reconnect", "erase", "transfer".
std::string_view PhaseName(BurnPhase phase);

}  // namespace plcburn
