#include "app/cli/history_command.h"

#include <cstdio>
#include <fstream>

#include "app/cli/burn_log_file.h"
#include "app/common/exit_status.h"
#include "core/utf8_text.h"
#include "record/burn_history.h"
#include "record/burn_log.h"
#include "record/burn_record_json.h"
#ifdef PLCBURN_RECORDS_DB
#include "record/records_db_history.h"
#endif

namespace plcburn {

namespace {

std::string Asked(const CliOptions& options) {
  std::string asked = "no burn";
  if (!options.historySerial.empty()) asked += " of " + options.historySerial;
  if (options.sinceMs) asked += " since " + IsoUtc(*options.sinceMs);
  return asked;
}

}  // namespace

int HistoryCommand(const CliOptions& options) {
  const HistoryQuery query{options.historySerial, options.sinceMs};
  std::vector<HistoryEntry> entries;
  std::string where;
  if (!options.recordsDb.empty()) {
#ifdef PLCBURN_RECORDS_DB
    const std::string why = ReadHistoryFromDb(options.recordsDb, query, entries);
    if (!why.empty()) {
      std::fprintf(stderr, "plcburn-cli: cannot read the records database: %s\n", why.c_str());
      return kExitFailed;
    }
    where = "the records database";
#else
    std::fprintf(stderr, "plcburn-cli: --records-db is not available on this system\n");
    return kExitUsage;
#endif
  } else {
    // The default log may not be there yet: no burn was kept. A log named must be there.
    const bool named = !options.historyLogs.empty();
    std::vector<std::string> logs = options.historyLogs;
    if (!named) logs.push_back(Utf8FromPath(DefaultBurnLogPath()));
    for (const std::string& log : logs) {
      if (log.empty()) {
        where = "the burn log: the environment names no place for it";
        continue;
      }
      std::ifstream in;
      const std::string why = OpenBurnLog(log, in);
      if (!why.empty() && named) {
        std::fprintf(stderr, "plcburn-cli: cannot read the burn log %s: %s\n", log.c_str(),
                     why.c_str());
        return kExitUsage;
      }
      if (why.empty()) ReadHistory(in, query, entries);
      where += (where.empty() ? "" : ", ") + log;
    }
    NewestFirst(entries);
  }
  if (entries.empty()) {
    std::fprintf(stderr, "plcburn-cli: %s in %s\n", Asked(options).c_str(), where.c_str());
    return kExitFailed;
  }
  if (options.json) {
    for (const HistoryEntry& entry : entries) std::printf("%s\n", entry.text.c_str());
  } else {
    std::fputs(HistoryTable(entries).c_str(), stdout);
  }
  return kExitSuccess;
}

}  // namespace plcburn
