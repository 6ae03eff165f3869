#include "record/burn_log.h"

#include <cstdio>
#include <exception>

#include "record/burn_record_json.h"
#include "record/file_append.h"

namespace plcburn {

BurnLog::BurnLog(std::filesystem::path path, Warn warn)
    : path_(std::move(path)), warn_(std::move(warn)) {}

// Runs on the burn's thread at its end: nothing may escape, whatever the file system says.
void BurnLog::Keep(const BurnRecord& record) {
  std::string error = "the environment names no place for it";
  try {
    if (!path_.empty() && AppendWhole(path_, RecordLine(record), error)) return;
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (warned_.exchange(true)) return;
  const std::u8string where = path_.u8string();
  const std::string warning =
      "cannot write the burn log " + std::string(where.begin(), where.end()) + ": " + error;
  if (warn_)
    warn_(warning);
  else
    std::fprintf(stderr, "plcburn: %s\n", warning.c_str());
}

}  // namespace plcburn
