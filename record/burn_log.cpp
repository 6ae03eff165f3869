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
  const std::uint64_t lost = ++lost_;
  std::string warning;
  {
    std::lock_guard lock(warnMutex_);
    const auto now = Clock::now();
    if (lastWarned_ && now - *lastWarned_ < kWarnEvery) return;
    lastWarned_ = now;
    const std::u8string where = path_.u8string();
    warning = "cannot write the burn log " + std::string(where.begin(), where.end()) + ": " +
              error + "; " + std::to_string(lost) + (lost == 1 ? " record" : " records") +
              " lost so far";
  }
  if (warn_)
    warn_(warning);
  else
    std::fprintf(stderr, "plcburn: %s\n", warning.c_str());
}

}  // namespace plcburn
