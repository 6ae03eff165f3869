#include "record/records_db_history.h"

#include "record/records_db_connection.h"

namespace plcburn {

std::string ReadHistoryFromDb(const std::string& url, const HistoryQuery& query,
                              std::vector<HistoryEntry>& into, std::chrono::milliseconds limit) {
  RecordsDbConnection db;
  if (!db.Connect(url, limit)) return db.Error();
  const auto answer = db.Exec(kSelectHistory, HistoryParameters(query), limit);
  if (!answer.ok) return answer.error;
  for (const auto& row : answer.rows) {
    if (row.empty() || !row[0]) continue;
    if (auto entry = HistoryEntryOf(*row[0], query)) into.push_back(std::move(*entry));
  }
  return {};
}

}  // namespace plcburn
