#pragma once
// plcburn --station SLOT...: the station window's command line, the slots and options of
// plcburn-cli --watch, checked the same way before anything opens: an image refused by its check
// leaves its record in the burn log the options name.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/common/cli_options.h"
#include "burn/station.h"
#include "core/burn_record.h"

namespace plcburn {

struct StationSetup {
  CliOptions options;
  std::size_t modelRow = 0;
  std::vector<std::uint8_t> fileImage;  // --image's bytes; empty for the built-in image
  RecordFacts facts;
  std::string metrics;  // --metrics ADDRESS:PORT, empty when the figures are not served

  std::span<const std::uint8_t> Image() const;
};

struct ParsedStation {
  std::optional<StationSetup> setup;
  std::string error;  // a usage error
};

// Whether the arguments (the program's name left out) ask for the station window.
bool WantsStation(const std::vector<std::string>& args);

// The station's setup from the arguments; `buildRow` is the model the build serves.
ParsedStation ParseStationArgs(const std::vector<std::string>& args, std::size_t buildRow);

// The station's settings from the command line's, for a station burning `image` as model
// `modelRow` (the --images choice is the caller's) and keeping records in `log` (may be null).
StationConfig StationConfigFrom(const CliOptions& options, std::size_t modelRow,
                                std::span<const std::uint8_t> image, const RecordFacts& facts,
                                BurnJournal* log);

inline constexpr const char* kStationUsage =
    "usage: plcburn --station SLOT... [--model NAME --image FILE | --image FILE]\n"
    "               [--trusted-key FILE]... [--require-model] [--replug-timeout S] [--now]\n"
    "               [--log FILE | --no-log] [--metrics ADDRESS:PORT]\n";

}  // namespace plcburn
