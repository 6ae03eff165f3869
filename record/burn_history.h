#pragma once
// The burns of one PLC (or of all since a date), read back from burn logs or from the plant's
// records database, newest first: as a table for people, or as the records themselves.

#include <cstdint>
#include <istream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/burn_verdict.h"

namespace plcburn {

struct HistoryQuery {
  std::string serial;                    // empty: every PLC
  std::optional<std::uint64_t> sinceMs;  // burns that started then or later
};

// One record read back.
struct HistoryEntry {
  std::string text;  // the record as it was kept: its log line without the newline
  nlohmann::json record;
  std::uint64_t startMs = 0;
};

// `text` as an entry, when it holds a burn record (with its start) that the query asks for.
std::optional<HistoryEntry> HistoryEntryOf(std::string text, const HistoryQuery& query);

// The records of `log` that the query asks for, in the file's order. Lines that hold no record
// (one a power loss cut off, a last line not written whole) are passed over.
void ReadHistory(std::istream& log, const HistoryQuery& query, std::vector<HistoryEntry>& into);

// Newest first; of two that started at once, the one read later first.
void NewestFirst(std::vector<HistoryEntry>& entries);

// A head line, then one line a burn: start, host, slot, model, serial, image, its SHA-256, the
// key that signed it, result. Empty for no entries.
std::string HistoryTable(const std::vector<HistoryEntry>& entries);

// How the burn of a record read back ended, by the rule the station counts with.
BurnVerdict VerdictOfRecord(const nlohmann::json& record);

}  // namespace plcburn
