#include "record/records_db_text.h"

#include "record/burn_record_json.h"

namespace plcburn {

const char* const kCreateBurnsTable =
    "CREATE TABLE IF NOT EXISTS plcburn_burns ("
    " id text PRIMARY KEY,"
    " serial text,"
    " model text,"
    " host text,"
    " slot text,"
    " start timestamptz NOT NULL,"
    " result text NOT NULL,"
    " record jsonb NOT NULL);"
    "CREATE INDEX IF NOT EXISTS plcburn_burns_serial ON plcburn_burns (serial);"
    "CREATE INDEX IF NOT EXISTS plcburn_burns_model ON plcburn_burns (model);"
    "CREATE INDEX IF NOT EXISTS plcburn_burns_host ON plcburn_burns (host);"
    "CREATE INDEX IF NOT EXISTS plcburn_burns_start ON plcburn_burns (start);"
    "CREATE INDEX IF NOT EXISTS plcburn_burns_result ON plcburn_burns (result);";

std::string OneLine(std::string_view message) {
  std::string line;
  bool space = false;
  for (const char c : message) {
    if (c == '\n' || c == '\t' || c == '\r' || c == ' ') {
      space = !line.empty();
      continue;
    }
    if (space) line += ' ';
    space = false;
    line += c;
  }
  return line;
}

namespace {

std::optional<std::string> TextAt(const nlohmann::json& record, const char* path) {
  const nlohmann::json::json_pointer at(path);
  if (!record.contains(at) || !record.at(at).is_string()) return std::nullopt;
  return record.at(at).get<std::string>();
}

}  // namespace

SqlParameters RecordParameters(const std::string& id, const std::string& line,
                               const nlohmann::json& record) {
  std::optional<std::string> slot = TextAt(record, "/slot");
  if (!slot) slot = TextAt(record, "/port");
  return {id,
          TextAt(record, "/plc/serial"),
          TextAt(record, "/model"),
          TextAt(record, "/host"),
          slot,
          TextAt(record, "/start"),
          std::string(BurnVerdictName(VerdictOfRecord(record))),
          line};
}

SqlParameters HistoryParameters(const HistoryQuery& query) {
  return {query.serial.empty() ? std::nullopt : std::optional<std::string>(query.serial),
          query.sinceMs ? std::optional<std::string>(IsoUtc(*query.sinceMs)) : std::nullopt};
}

}  // namespace plcburn
