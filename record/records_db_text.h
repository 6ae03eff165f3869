#pragma once
// Text between plcburn and the records database: libpq's messages on one line, and the SQL
// that makes, fills and reads the table of burns.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record/burn_history.h"

namespace plcburn {

// A message of libpq or the server (several lines, a tab before each continuation) on one line.
std::string OneLine(std::string_view message);

// Whether the table is there: one row, "t" or "f". A role that may only insert and select
// cannot create it, and need not.
inline constexpr const char* kBurnsTableThere = "SELECT to_regclass('plcburn_burns') IS NOT NULL";

// The table, one row a burn record, keyed by the SHA-256 of the record's line in its burn log.
extern const char* const kCreateBurnsTable;

// One record, its parameters as RecordParameters gives them. A record the table has already is
// left as it is: sending one again is harmless.
inline constexpr const char* kInsertBurn =
    "INSERT INTO plcburn_burns (id, serial, model, host, slot, start, result, record) "
    "VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (id) DO NOTHING";

// id, serial, model, host, slot, start, result, record; a missing value is NULL.
using SqlParameters = std::vector<std::optional<std::string>>;
SqlParameters RecordParameters(const std::string& id, const std::string& line,
                               const nlohmann::json& record);

// The records a --history asks for, newest first; its parameters are HistoryParameters'.
inline constexpr const char* kSelectHistory =
    "SELECT record::text FROM plcburn_burns "
    "WHERE ($1::text IS NULL OR serial = $1) AND ($2::timestamptz IS NULL OR start >= $2) "
    "ORDER BY start DESC, id";
SqlParameters HistoryParameters(const HistoryQuery& query);

}  // namespace plcburn
