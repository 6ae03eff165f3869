#pragma once
// Progress where standard error is not a terminal: one plain line per change worth reading.

#include <string_view>

namespace plcburn {

// Whether `line` says something that `last` did not: another phase, percent or error count. The
// seconds, the line's last field, are left out, so a running clock alone prints nothing.
bool PlainProgressChanged(std::string_view line, std::string_view last);

}  // namespace plcburn
