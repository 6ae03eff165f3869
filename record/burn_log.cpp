#include "record/burn_log.h"

#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>

#include "record/burn_log_chain.h"
#include "record/burn_record_json.h"
#include "record/file_append.h"

namespace plcburn {

namespace {

// The last chained record of the file, looked for from its end: past records outside the chain,
// those of older writers and lines cut off by a power loss, which no record chains to. Only a log
// that holds no chained record yet is read to its start, by its first chained record's writer.
std::optional<std::string> LastChainedLine(FileAppender& file) {
  while (std::optional<std::string> line = file.PreviousLine())
    if (ReadLink(*line).kind == LineKind::Chained) return line;
  return std::nullopt;
}

}  // namespace

BurnLog::BurnLog(std::filesystem::path path, Warn warn, std::chrono::milliseconds lockWait)
    : path_(std::move(path)), warn_(std::move(warn)), lockWait_(lockWait) {}

// Runs on the burn's thread at its end: nothing may escape, whatever the file system says.
void BurnLog::Keep(const BurnRecord& record) {
  std::string error = "the environment names no place for it";
  try {
    if (!path_.empty()) {
      FileAppender file(path_, lockWait_);
      error = file.Error();
      if (file.Opened()) {
        ChainLink link;  // outside the chain, unless the log's end was read under its lock
        std::string unchained =
            "its lock was held by another writer for " + std::to_string(lockWait_.count()) + " ms";
        if (file.Locked()) {
          const std::optional<std::string> last = LastChainedLine(file);
          if (!file.ReadFailed()) link = LinkAfter(last);
          unchained = file.ReadFailed() ? "it could not be read"
                                        : "the system could not hash its last record";
        }
        // A line cut off by a power loss ends where the record's own line begins.
        std::string line = file.EndsInsideALine() ? "\n" : "";
        line += ChainedLine(RecordJson(record), link);
        if (file.Append(line, error)) {
          if (!link.seq)
            WarnOnce(warnedUnchained_,
                     "the burn log " + Where() + " got a record outside its chain: " + unchained);
          return;
        }
      }
    }
  } catch (const std::exception& e) {
    error = e.what();
  }
  Lose(error);
}

// Said each time, at most once a minute: a plant must not lose records for weeks unaware.
void BurnLog::Lose(const std::string& error) {
  const std::uint64_t lost = ++lost_;
  {
    std::lock_guard lock(lostMutex_);
    const auto now = Clock::now();
    if (lostSaid_ && now - *lostSaid_ < kWarnEvery) return;
    lostSaid_ = now;
  }
  Say("cannot write the burn log " + Where() + ": " + error + "; " + std::to_string(lost) +
      (lost == 1 ? " record" : " records") + " lost so far");
}

std::string BurnLog::Where() const {
  const std::u8string where = path_.u8string();
  return {where.begin(), where.end()};
}

void BurnLog::WarnOnce(std::atomic<bool>& warned, const std::string& warning) const {
  if (!warned.exchange(true)) Say(warning);
}

void BurnLog::Say(const std::string& warning) const {
  if (warn_)
    warn_(warning);
  else
    std::fprintf(stderr, "plcburn: %s\n", warning.c_str());
}

}  // namespace plcburn
