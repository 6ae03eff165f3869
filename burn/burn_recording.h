#pragma once
// How a burn leaves its record: the facts only the front end knows, the clocks it is timed on,
// and the journal that keeps it.

#include "core/burn_record.h"
#include "link/link.h"

namespace plcburn {

struct BurnRecording {
  BurnJournal& journal;
  RecordFacts facts;
  LinkClock steadyMs = {};  // phases and duration; empty: the steady clock
  LinkClock wallMs = {};    // start and end, milliseconds since 1970 UTC; empty: the system clock
};

}  // namespace plcburn
