#pragma once
// The burn log: a file that every burn appends its record to, one JSON line each. Several burns
// (a gang burn, several programs) may append at once; each record goes out in one write on a
// file opened for appending, so lines never mix. A log that cannot be written costs one warning
// and never changes a burn's outcome.

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/burn_record.h"

namespace plcburn {

class BurnLog : public BurnJournal {
 public:
  using Warn = std::function<void(const std::string& warning)>;
  // `warn` hears of the first record that could not be written (the default prints it on
  // standard error).
  explicit BurnLog(std::filesystem::path path, Warn warn = {});

  void Keep(const BurnRecord& record) override;
  const std::filesystem::path& Path() const { return path_; }

 private:
  const std::filesystem::path path_;
  const Warn warn_;
  std::atomic<bool> warned_{false};
};

// Where the burn log lives, by the environment that `env` reads: $XDG_STATE_HOME/plcburn, else
// ~/.local/state/plcburn on Linux; %LOCALAPPDATA%\plcburn on Windows. Empty when the environment
// names no such place.
using EnvLookup = std::function<std::optional<std::filesystem::path>(const char* name)>;
std::filesystem::path BurnLogPath(const EnvLookup& env);
// The same from this process's environment.
std::filesystem::path DefaultBurnLogPath();

}  // namespace plcburn
