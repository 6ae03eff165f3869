#pragma once
// --history: the burns of one PLC, or of all since a date, from the burn logs or the records
// database, newest first.

#include "app/common/cli_options.h"

namespace plcburn {

// The burns as a table (with --json the records as kept, one a line) on standard output: 0. No
// burn asked for: 1, said on standard error, as is a database that cannot be read. A burn log
// named with --log that cannot be read: 2, a usage error.
int HistoryCommand(const CliOptions& options);

}  // namespace plcburn
