#include "app/cli/plain_progress.h"

#include <cstdio>

#include "core/burn_state.h"

namespace plcburn {

namespace {

std::string_view WithoutSeconds(std::string_view line) {
  const std::size_t last = line.rfind(' ');
  return last == std::string_view::npos ? std::string_view() : line.substr(0, last);
}

}  // namespace

bool PlainProgressChanged(std::string_view line, std::string_view last) {
  return last.empty() || WithoutSeconds(line) != WithoutSeconds(last);
}

std::string ProgressFigures(std::int32_t flashStatus, std::int32_t progress, std::int32_t errors,
                            std::int32_t totalErrors, std::int32_t seconds) {
  char text[96];
  std::snprintf(text, sizeof text, "%-11s %3d%%  errors %d/%d  %ds",
                std::string(PhaseWord(flashStatus)).c_str(), progress, errors, totalErrors,
                seconds);
  return text;
}

}  // namespace plcburn
