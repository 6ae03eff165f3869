#pragma once
// The burn log: a file that every burn appends its record to, one JSON line each, chained to the
// record before it (record/burn_log_chain.h). Several burns (a gang burn, several programs) may
// append at once: each reads the log's end and appends under the file's lock, in one write, so
// lines never mix and the chain stays whole. A log that cannot be written never changes a burn's
// outcome: each record lost is counted, and said at most once a minute.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "core/burn_record.h"

namespace plcburn {

class BurnLog : public BurnJournal {
 public:
  using Warn = std::function<void(const std::string& warning)>;
  using Clock = std::chrono::steady_clock;
  // `warn` hears of records that could not be written (of the first at once, then at most once
  // a minute, with how many were lost), and of the first written outside the chain (the default
  // prints them on standard error). A record whose writer cannot
  // have the log's lock within `lockWait` (another writer holds it, stuck) is written all the
  // same, outside the chain: never lost, and never a false link.
  explicit BurnLog(std::filesystem::path path, Warn warn = {},
                   std::chrono::milliseconds lockWait = std::chrono::seconds(5));

  void Keep(const BurnRecord& record) override;
  const std::filesystem::path& Path() const { return path_; }
  // Records that could not be written, since the start.
  std::uint64_t Lost() const { return lost_.load(); }

  static constexpr std::chrono::seconds kWarnEvery{60};

 private:
  std::string Where() const;
  void WarnOnce(std::atomic<bool>& warned, const std::string& warning) const;
  void Say(const std::string& warning) const;
  void Lose(const std::string& error);

  const std::filesystem::path path_;
  const Warn warn_;
  const std::chrono::milliseconds lockWait_;
  std::atomic<bool> warnedUnchained_{false};
  std::atomic<std::uint64_t> lost_{0};
  std::mutex lostMutex_;
  std::optional<Clock::time_point> lostSaid_;
};

// Where the burn log lives, by the environment that `env` reads: $XDG_STATE_HOME/plcburn, else
// ~/.local/state/plcburn on Linux; %LOCALAPPDATA%\plcburn on Windows. Empty when the environment
// names no such place.
using EnvLookup = std::function<std::optional<std::filesystem::path>(const char* name)>;
std::filesystem::path BurnLogPath(const EnvLookup& env);
// The same from this process's environment.
std::filesystem::path DefaultBurnLogPath();

}  // namespace plcburn
