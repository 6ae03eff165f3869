#pragma once
// A run's trust in its images: the policy its options give, the record an image refused by its
// check leaves, and --verify-image.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/common/cli_options.h"
#include "core/burn_record.h"
#include "trust/image_gate.h"
#include "trust/trust_policy.h"

namespace plcburn {

// The installed keys and --trusted-key, with --require-model, which needs a key to sign a model.
LoadedPolicy RunTrustPolicy(const CliOptions& options);

// The record of the image at `path` refused by its check: for the PLC on `port`, or with an empty
// port where no PLC was chosen yet. `run` gives the host and the serial.
BurnRecord ImageRefusalRecord(const RecordFacts& run, const std::string& port,
                              const std::string& path, std::span<const std::uint8_t> bytes,
                              const Admission& refusal);

// The burn log the options name: --log, else the default one; none with --no-log.
std::optional<std::filesystem::path> RunBurnLogPath(const CliOptions& options);

// `records` appended to the run's burn log; a log that cannot be written is told on standard
// error under `program`'s name, as every burn's is.
void KeepInRunLog(const CliOptions& options, const std::vector<BurnRecord>& records,
                  const char* program);

// --verify-image: the facts of an accepted file on standard output, or why it is refused on
// standard error. 0 when it would be burned, 1 when refused.
int VerifyImageCommand(const CliOptions& options);

}  // namespace plcburn
