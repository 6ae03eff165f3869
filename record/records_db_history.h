#pragma once
// --history from the records database instead of the burn logs.

#include <chrono>
#include <string>
#include <vector>

#include "record/burn_history.h"

namespace plcburn {

// The records the query asks for, newest first, into `into`. Empty, or why they could not be
// read; each exchange with the database takes at most `limit`.
std::string ReadHistoryFromDb(const std::string& url, const HistoryQuery& query,
                              std::vector<HistoryEntry>& into,
                              std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace plcburn
