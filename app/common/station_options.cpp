#include "app/common/station_options.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/common/image_file.h"
#include "app/common/image_trust.h"
#include "core/catalogue.h"
#include "core/port_name.h"
#include "core/utf8_text.h"
#include "link/slot_watch.h"
#include "metrics/metrics_address.h"
#include "record/host_name.h"
#include "record/sha256.h"
#include "res/builtin_image.h"

namespace plcburn {

std::span<const std::uint8_t> StationSetup::Image() const {
  return options.image.empty() ? BuiltinImage() : std::span<const std::uint8_t>(fileImage);
}

bool WantsStation(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--station") != args.end();
}

ParsedStation ParseStationArgs(const std::vector<std::string>& args, std::size_t buildRow) {
  // The station's options are the CLI's with --watch spelt --station; --metrics is the window's.
  std::vector<std::string> cli;
  StationSetup setup;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--metrics") {
      if (!setup.metrics.empty()) return {std::nullopt, "--metrics given twice"};
      if (i + 1 >= args.size()) return {std::nullopt, "--metrics needs ADDRESS:PORT"};
      setup.metrics = args[++i];
      if (const auto at = ParseMetricsAddress(setup.metrics); !at.address)
        return {std::nullopt, at.error};
    } else if (args[i] == "--watch") {
      return {std::nullopt, "unknown argument: --watch (the window's slots follow --station)"};
    } else {
      cli.push_back(args[i] == "--station" ? "--watch" : args[i]);
    }
  }
  ParsedCli parsed = ParseCli(cli);
  if (!parsed.options) {
    std::string error = parsed.error;
    for (std::size_t at = error.find("--watch"); at != std::string::npos;
         at = error.find("--watch", at))
      error.replace(at, 7, "--station");
    return {std::nullopt, error};
  }
  setup.options = std::move(*parsed.options);
  const CliOptions& o = setup.options;
  if (!o.ports.empty() || o.json || o.identify || !o.verifyImage.empty() || !o.verifyLog.empty() ||
      o.listPorts || o.buildModel || o.yes || !o.images.empty() || !o.scanner.empty() ||
      !o.recordsDb.empty() || o.history)
    return {std::nullopt,
            "the station window takes only its slots, --model, --image, --trusted-key, "
            "--require-model, --replug-timeout, --unplug-debounce, --now, --require-serial, "
            "--scan-timeout, --log, --no-log and --metrics"};

  const ModelChoice choice = ChooseModel(o, buildRow);
  if (!choice.row) return {std::nullopt, choice.error};
  setup.modelRow = *choice.row;
  const ModelRules& model = ModelAt(setup.modelRow);
  for (const std::string& slot : o.watch) {
    if (const std::string problem = SlotProblemFor(slot, &model); !problem.empty())
      return {std::nullopt, problem};
  }

  const LoadedPolicy policy = RunTrustPolicy(o);
  if (!policy.policy) return {std::nullopt, policy.error};
  const bool builtIn = o.image.empty();
  if (!builtIn) {
    ImageFile file = ReadImageFile(o.image, model.maxSize);
    if (!file.bytes) return {std::nullopt, file.error};
    setup.fileImage = std::move(*file.bytes);
  }
  const std::string path = builtIn ? std::string(BuiltinImageName()) : o.image;
  const Admission admitted =
      AdmitImage({path, setup.Image(), setup.modelRow, builtIn}, *policy.policy);
  if (!admitted.accepted) {
    RecordFacts run{HostName(), "", ""};
    KeepInRunLog(o, {ImageRefusalRecord(run, "", path, setup.Image(), admitted)}, "plcburn");
    return {std::nullopt, admitted.error};
  }
  setup.facts = {
      HostName(),
      builtIn ? std::string(BuiltinImageName()) : Utf8FromPath(PathFromUtf8(o.image).filename()),
      builtIn ? std::string(BuiltinImageSha256()) : Sha256Hex(setup.Image()), admitted.keyId,
      admitted.trustedComment};
  return {std::move(setup), ""};
}

StationConfig StationConfigFrom(const CliOptions& options, std::size_t modelRow,
                                std::span<const std::uint8_t> image, const RecordFacts& facts,
                                BurnJournal* log) {
  StationConfig config;
  config.slots = options.watch;
  config.modelRow = modelRow;
  config.image = image;
  config.facts = facts;
  config.log = log;
  config.replugTimeout = std::chrono::seconds(options.replugTimeoutS);
  config.unplugDebounce = std::chrono::milliseconds(options.unplugDebounceMs);
  config.burnPresentAtStart = options.now;
  config.requireSerial = options.requireSerial;
  config.scanTimeout = std::chrono::seconds(options.scanTimeoutS);
  return config;
}

}  // namespace plcburn
