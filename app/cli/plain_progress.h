#pragma once
// Progress where standard error is not a terminal: one plain line per change worth reading.

#include <cstdint>
#include <string>
#include <string_view>

namespace plcburn {

// A burn's figures as every progress line shows them: "PROGRAM      42%  errors 0/1  17s".
std::string ProgressFigures(std::int32_t flashStatus, std::int32_t progress, std::int32_t errors,
                            std::int32_t totalErrors, std::int32_t seconds);

// Whether `line` says something that `last` did not: another phase, percent or error count. The
// seconds, the line's last field, are left out, so a running clock alone prints nothing.
bool PlainProgressChanged(std::string_view line, std::string_view last);

}  // namespace plcburn
