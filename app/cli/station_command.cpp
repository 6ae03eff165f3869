#include "app/cli/station_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>

#include "app/cli/image_choice.h"
#include "app/cli/json_events.h"
#include "app/cli/output_queue.h"
#include "app/cli/station_lines.h"
#include "app/cli/terminal_scans.h"
#include "app/common/exit_status.h"
#include "app/common/image_file.h"
#include "app/common/station_metrics_view.h"
#include "app/common/station_options.h"
#include "app/common/stop_signals.h"
#include "burn/station.h"
#include "core/utf8_text.h"
#include "core/version.h"
#include "link/slot_watch.h"
#include "record/log_then_send.h"
#ifdef PLCBURN_SCANNER
#include "link/evdev_scanner.h"
#endif
#include "link/system_opener.h"
#include "metrics/metrics_address.h"
#include "metrics/metrics_server.h"
#include "record/burn_log.h"
#ifdef PLCBURN_RECORDS_DB
#include "record/records_sender.h"
#endif
#include "record/sha256.h"

namespace plcburn {

namespace {

using Stream = OutputQueue::Stream;

// Every image a station with --images may burn, as its build information names them.
std::vector<BuildImage> ImagesIn(const std::string& dir) {
  std::vector<BuildImage> images;
  for (const auto& [path, row] : NamedImages(dir)) {
    const ImageFile file = ReadImageFile(path, ModelAt(row).maxSize);
    if (file.bytes)
      images.push_back({Utf8FromPath(PathFromUtf8(path).filename()), Sha256Hex(*file.bytes)});
  }
  return images;
}

}  // namespace

int RunStation(const CliOptions& options, std::size_t modelRow, std::span<const std::uint8_t> image,
               const RecordFacts& facts, const std::optional<std::filesystem::path>& logPath,
               const TrustPolicy& policy) {
  const ModelRules& model = ModelAt(modelRow);
  for (const std::string& slot : options.watch) {
    const std::string problem = SlotProblemFor(slot, options.images.empty() ? &model : nullptr);
    if (!problem.empty()) {
      std::fprintf(stderr, "plcburn-cli: %s\n", problem.c_str());
      return kExitUsage;
    }
  }
#ifndef PLCBURN_SCANNER
  if (!options.scanner.empty()) {
    std::fprintf(stderr, "plcburn-cli: --scanner reads input devices on Linux only\n");
    return kExitUsage;
  }
#endif
  std::optional<MetricsAddress> metricsAt;
  if (!options.metrics.empty()) {
    const ParsedMetricsAddress parsed = ParseMetricsAddress(options.metrics);
    if (!parsed.address) {
      std::fprintf(stderr, "plcburn-cli: %s\n", parsed.error.c_str());
      return kExitUsage;
    }
    metricsAt = parsed.address;
  }
  // Before any thread starts (the watch's, the server's, the burns'): every thread then leaves
  // the signals to the watcher.
  std::atomic<int> stopSignal{0};
  std::mutex stationMutex;
  Station* running = nullptr;
  StopSignals stopSignals([&](int signal) {
    int none = 0;
    stopSignal.compare_exchange_strong(none, signal);
    std::lock_guard lock(stationMutex);
    if (running != nullptr) running->Stop();
  });
  if (!stopSignals.Error().empty()) {
    std::fprintf(stderr, "plcburn-cli: cannot watch for Ctrl+C: %s\n", stopSignals.Error().c_str());
    return kExitFailed;
  }
  std::string error;
  const std::unique_ptr<SlotWatch> watch = MakeSystemSlotWatch(options.watch, &error);
  if (!watch) {
    std::fprintf(stderr, "plcburn-cli: %s\n", error.c_str());
    return kExitFailed;
  }
  // The figures are served from before the first burn, so a scrape sees the station at once.
  StationMetrics metrics(
      {std::string(kVersion), options.images.empty()
                                  ? std::vector<BuildImage>{{facts.imageName, facts.imageSha256}}
                                  : ImagesIn(options.images)});
  for (const std::string& slot : options.watch) metrics.AddSlot(slot);
  MetricsServer server(metrics);
  if (metricsAt && !server.Start(*metricsAt)) {
    std::fprintf(stderr, "plcburn-cli: --metrics %s: %s\n", options.metrics.c_str(),
                 server.Error().c_str());
    return kExitFailed;
  }
  if (options.images.empty()) {
    std::fprintf(stderr, "plcburn-cli: station for the %s, image of %zu bytes, on %zu slot%s\n",
                 std::string(model.name).c_str(), image.size(), options.watch.size(),
                 options.watch.size() == 1 ? "" : "s");
  } else {
    std::fprintf(stderr, "plcburn-cli: station for the images in %s, on %zu slot%s\n",
                 options.images.c_str(), options.watch.size(),
                 options.watch.size() == 1 ? "" : "s");
  }

  // From here on the station's own output never waits for a reader.
  OutputQueue out;
  std::optional<BurnLog> log;
  if (logPath) {
    log.emplace(*logPath, [&out](const std::string& warning) {
      out.Post(Stream::Err, "plcburn-cli: " + warning + "\n");
    });
    metrics.CountRecordsLostFrom([&log] { return log->Lost(); });
  }
#ifdef PLCBURN_RECORDS_DB
  // Each record goes to the plant's database too, once it is in the log.
  std::unique_ptr<RecordsSender> sender;
  if (log && !options.recordsDb.empty()) {
    sender = std::make_unique<RecordsSender>(
        log->Path(), options.recordsDb,
        [&out](const std::string& line) { out.Post(Stream::Err, "plcburn-cli: " + line + "\n"); });
    metrics.CountRecordsUnsentFrom(sender->UnsentCount());
  }
#endif
  std::optional<LogThenSend> logThenSend;
  if (log) {
    logThenSend.emplace(*log, [&] {
#ifdef PLCBURN_RECORDS_DB
      if (sender) sender->RecordWritten();
#endif
    });
  }
  JsonEvents events([&out](std::string line) { out.Post(Stream::Out, std::move(line)); });
  StationLines lines(options.watch, out, options.json ? &events : nullptr);
  StationMetricsView view(&lines, metricsAt ? &metrics : nullptr);
  StationConfig config =
      StationConfigFrom(options, modelRow, image, facts, log ? &*logThenSend : nullptr);
  if (!options.images.empty()) {
    config.chooseImage = [dir = options.images, &metrics, &policy](LinkOpener& opener,
                                                                   const SlotDevice& device) {
      ImageChoice choice = ChooseImageForPlc(opener, device.port, dir, policy);
      StationImage chosen;
      chosen.plc = choice.plc;
      chosen.refusal = choice.refusal;
      if (const Admission& a = choice.admission; a.reason) {
        // Changed since the station began, and refused by its check.
        chosen.imageName = Utf8FromPath(PathFromUtf8(choice.path).filename());
        chosen.imageSha256 = Sha256Hex(choice.bytes);
        chosen.imageRefused = BurnRecord::Result::Refused{*a.reason, a.keyId};
        chosen.imageSize = static_cast<std::uint32_t>(choice.bytes.size());
      }
      if (!choice.row || !choice.refusal.empty()) return chosen;
      chosen.modelRow = choice.row;
      chosen.imageName = Utf8FromPath(PathFromUtf8(choice.path).filename());
      chosen.imageSha256 = Sha256Hex(choice.bytes);
      chosen.signingKeyId = choice.admission.keyId;
      chosen.trustedComment = choice.admission.trustedComment;
      chosen.bytes = std::move(choice.bytes);
      metrics.AddImage({chosen.imageName, chosen.imageSha256});
      return chosen;
    };
  }
  Station station(config, *watch, &SystemOpenerFor, view);
  {
    std::lock_guard lock(stationMutex);
    running = &station;
    if (stopSignal.load() != 0) station.Stop();
  }
  // Scanned labels: typed into this terminal, or from the scanner named.
  TerminalScans typed([&station](const std::string& line) { station.Scanned(line); });
#ifdef PLCBURN_SCANNER
  std::unique_ptr<EvdevScanner> scanner;
  if (!options.scanner.empty()) {
    scanner = EvdevScanner::Open(
        options.scanner, [&station](const std::string& line) { station.Scanned(line); }, &error);
    if (!scanner) {
      std::fprintf(stderr, "plcburn-cli: %s\n", error.c_str());
      return kExitFailed;
    }
  }
#endif
  lines.Start(station);
  station.Run();
  lines.Finish();
  {
    std::lock_guard lock(stationMutex);
    running = nullptr;
  }
  if (!options.json)
    out.Post(Stream::Out, "Station: " + TotalsLine(station.CurrentTotals()) + "\n");
#ifdef PLCBURN_RECORDS_DB
  // What was not sent waits in the log for the station's next start.
  sender.reset();
#endif
  out.Close(std::chrono::seconds(1));
  return ExitForSignal(stopSignal.load());
}

}  // namespace plcburn
