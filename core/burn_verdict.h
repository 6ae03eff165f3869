#pragma once
// How a burn ended, as the totals, the tiles, the metrics, the records and the exit status all
// count it. Decided in one place so that they never disagree.

#include <string_view>

#include "core/burn_record.h"

namespace plcburn {

enum class BurnVerdict { Ok, Failed, Stopped, Refused };

// "ok", "failed", "stopped", "refused".
constexpr std::string_view BurnVerdictName(BurnVerdict verdict) {
  switch (verdict) {
    case BurnVerdict::Ok: return "ok";
    case BurnVerdict::Failed: return "failed";
    case BurnVerdict::Stopped: return "stopped";
    case BurnVerdict::Refused: return "refused";
  }
  return "unknown";
}

// Stopped wins over everything (a stopped burn fails at its next step). Refused is a burn that
// ended before it tried any port: its image did not pass its check or the size check, or no
// image could be chosen for the PLC. A port that cannot be opened is a failure: at a station it
// means a device that is busy or not ours to open, which the plant must see.
inline BurnVerdict VerdictOf(const BurnRecord& record) {
  if (record.result.stopped) return BurnVerdict::Stopped;
  if (record.result.ok) return BurnVerdict::Ok;
  if (record.result.refused || record.result.step == kStepSizeCheck ||
      record.result.step == kStepImageChoice)
    return BurnVerdict::Refused;
  return BurnVerdict::Failed;
}

}  // namespace plcburn
