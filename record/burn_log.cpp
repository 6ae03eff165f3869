#include "record/burn_log.h"

#include <cstdio>

#include "record/burn_record_json.h"
#include "record/file_append.h"

namespace plcburn {

BurnLog::BurnLog(std::filesystem::path path, Warn warn)
    : path_(std::move(path)), warn_(std::move(warn)) {}

void BurnLog::Keep(const BurnRecord& record) {
  std::string error;
  if (!path_.empty() && AppendWhole(path_, RecordLine(record), error)) return;
  if (path_.empty()) error = "no place for it: neither XDG_STATE_HOME nor HOME is set";
  if (warned_.exchange(true)) return;
  const std::string warning = "cannot write the burn log " + path_.string() + ": " + error;
  if (warn_)
    warn_(warning);
  else
    std::fprintf(stderr, "plcburn: %s\n", warning.c_str());
}

}  // namespace plcburn
