#ifdef _WIN32
#include <cstdlib>
#include <string>
#else
#include <cstdlib>
#endif

#include "record/burn_log.h"

namespace plcburn {

namespace {
constexpr const char* kFileName = "burns.jsonl";
}

std::filesystem::path BurnLogPath(const EnvLookup& env) {
#ifdef _WIN32
  const std::optional<std::filesystem::path> local = env("LOCALAPPDATA");
  if (!local || local->empty()) return {};
  return *local / "plcburn" / kFileName;
#else
  // A relative XDG_STATE_HOME is to be ignored, as the base directory rules say.
  const std::optional<std::filesystem::path> state = env("XDG_STATE_HOME");
  if (state && state->is_absolute()) return *state / "plcburn" / kFileName;
  const std::optional<std::filesystem::path> home = env("HOME");
  if (!home || home->empty()) return {};
  return *home / ".local" / "state" / "plcburn" / kFileName;
#endif
}

std::filesystem::path DefaultBurnLogPath() {
  return BurnLogPath([](const char* name) -> std::optional<std::filesystem::path> {
#ifdef _WIN32
    // Wide, so that a user folder with any letters in its name is found as it is.
    const std::wstring wide(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wide.c_str());
#else
    const char* value = std::getenv(name);
#endif
    if (value == nullptr) return std::nullopt;
    return std::filesystem::path(value);
  });
}

}  // namespace plcburn
