#pragma once
// plcburn-cli --watch: a burning station on the slots given, until a signal ends it.

#include <filesystem>
#include <optional>
#include <span>

#include "app/common/cli_options.h"
#include "core/burn_record.h"
#include "trust/trust_policy.h"

namespace plcburn {

// The exit status: 128 + the signal that ended the station, 2 for a usage error, 1 when the
// device events cannot be watched. The burn records go to the log at `logPath`, if any. With
// --images each PLC's image is checked under `policy` once the PLC is identified.
int RunStation(const CliOptions& options, std::size_t modelRow, std::span<const std::uint8_t> image,
               const RecordFacts& facts, const std::optional<std::filesystem::path>& logPath,
               const TrustPolicy& policy);

}  // namespace plcburn
