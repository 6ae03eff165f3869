#include "app/cli/station_command.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "app/cli/image_choice.h"
#include "app/cli/image_file.h"
#include "app/cli/json_events.h"
#include "app/cli/output_queue.h"
#include "app/cli/stop_signals.h"
#include "app/cli/terminal.h"
#include "app/station_metrics_view.h"
#include "burn/station.h"
#include "core/message_help.h"
#include "core/port_name.h"
#include "core/utf8_text.h"
#include "core/version.h"
#include "link/slot_watch.h"
#include "link/system_opener.h"
#include "metrics/metrics_address.h"
#ifdef PLCBURN_METRICS_SERVER
#include "metrics/metrics_server.h"
#endif
#include "record/burn_log.h"
#include "record/sha256.h"

namespace plcburn {

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSignalBase = 128;

using Stream = OutputQueue::Stream;

EventSource SourceOf(const DeviceLabel& who) {
  return {who.port, who.slot, who.device};
}

std::string TotalsLine(const Station::Totals& t) {
  std::string line = "burned " + std::to_string(t.burned) + ", failed " + std::to_string(t.failed);
  if (t.stopped > 0) line += ", stopped " + std::to_string(t.stopped);
  if (t.refused > 0) line += ", refused " + std::to_string(t.refused);
  return line;
}

// What the station shows: on a terminal, one live line per slot and device and the totals;
// elsewhere, a line for each change; with --json, the events of every burn as a one-shot burn
// gives them, each with its slot and device. Everything goes out through the output queue, so a
// reader that stalls never holds up the station.
class StationLines : public StationView {
 public:
  StationLines(const std::vector<std::string>& slots, OutputQueue& out, JsonEvents* events)
      : slots_(slots), out_(out), events_(events), live_(events == nullptr && IsTerminal(stderr)) {}
  ~StationLines() override { Finish(); }

  void Start(const Station& station) {
    station_ = &station;
    started_ = std::time(nullptr);
    if (live_ || events_ != nullptr) reporter_ = std::thread([this] { Report(); });
  }
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    wake_.notify_all();
    if (reporter_.joinable()) reporter_.join();
  }

  void Changed(const DeviceLabel& who, SlotState state, std::string_view note) override {
    if (events_ != nullptr || live_) return;
    std::string line = who.port + ": " + std::string(SlotStateName(state));
    if (!note.empty()) line += ": " + std::string(note);
    out_.Post(Stream::Err, line + "\n");
  }
  void Phase(const DeviceLabel& who, BurnPhase phase) override {
    if (events_ == nullptr || phase == BurnPhase::Reconnect) return;
    // As a one-shot burn: each phase once, when it follows another, and told before any
    // progress of it (the queue takes it without waiting).
    std::lock_guard lock(mutex_);
    const auto [announced, first] = announced_.try_emplace(who.device, phase);
    if (!first && announced->second == phase) return;
    announced->second = phase;
    events_->Phase(SourceOf(who), phase);
  }
  void Message(const DeviceLabel& who, std::string_view caption, std::string_view text) override {
    if (events_ != nullptr) return events_->Message(SourceOf(who), caption, text);
    const std::string_view first = text.substr(0, text.find('\n'));
    out_.Post(Stream::Out,
              who.port + ": " + std::string(caption) + ": " + std::string(first) + "\n");
    std::string more;
    if (first.size() < text.size())
      more += who.port + ": " + std::string(text.substr(first.size() + 1)) + "\n";
    if (const std::string_view hint = HintFor(text); !hint.empty())
      more += who.port + ": " + std::string(hint) + "\n";
    if (!more.empty()) out_.Post(Stream::Err, more);
  }
  void Prompt(const DeviceLabel& who, const ReconnectPrompt& prompt) override {
    if (events_ != nullptr) events_->Prompt(SourceOf(who), prompt.caption, prompt.text);
  }
  void Result(const DeviceLabel& who, const BurnRecord& record) override {
    if (events_ != nullptr) events_->Result(SourceOf(who), record);
    std::lock_guard lock(mutex_);
    announced_.erase(who.device);
    lastProgress_.erase(who.device);
  }
  void Misfit(const std::string& slot, const std::string& path, std::string_view why) override {
    out_.Post(Stream::Err, "plcburn-cli: " + path + " (slot " + slot + "): " + std::string(why) +
                               "; it is left alone\n");
    if (events_ != nullptr) events_->Other("misfit", EventSource(path, slot, path), {{"why", why}});
  }

 private:
  std::string Line(const Station::DeviceStatus& d) const {
    char text[160];
    switch (d.state) {
      case SlotState::Burning:
        std::snprintf(text, sizeof text, "burning %-11s %3d%%  errors %d/%d  %ds%s%s",
                      std::string(PhaseWord(d.flashStatus)).c_str(), d.progress, d.errCounter,
                      d.totalErrCounter, d.elapsedTime, d.note.empty() ? "" : "  ", d.note.c_str());
        break;
      case SlotState::Replug:
        std::snprintf(text, sizeof text, "waiting for the re-plug  %ds", d.elapsedTime);
        break;
      case SlotState::Ok: std::snprintf(text, sizeof text, "OK: %s", d.note.c_str()); break;
      case SlotState::Failed: std::snprintf(text, sizeof text, "FAILED: %s", d.note.c_str()); break;
      case SlotState::Stopped:
        std::snprintf(text, sizeof text, "STOPPED: %s", d.note.c_str());
        break;
      case SlotState::Refused:
        std::snprintf(text, sizeof text, "REFUSED: %s", d.note.c_str());
        break;
      case SlotState::Empty: std::snprintf(text, sizeof text, "empty"); break;
    }
    return d.device + "  " + text;
  }

  // The live lines five times a second; with --json, a progress event for each burn whose
  // phase, percent or counters changed, at most four a second.
  void Report() {
    std::unique_lock lock(mutex_);
    while (!finished_) {
      wake_.wait_for(lock, std::chrono::milliseconds(200));
      const auto devices = station_->Devices();
      if (events_ != nullptr) {
        ReportProgress(devices);
        continue;
      }
      std::vector<std::string> lines;
      std::vector<bool> busy(slots_.size());
      for (const auto& d : devices) busy[d.slot] = true;
      for (std::size_t i = 0; i < slots_.size(); ++i)
        if (!busy[i]) lines.push_back(slots_[i] + "  empty");
      for (const auto& d : devices) lines.push_back(Line(d));
      char since[32];
      std::strftime(since, sizeof since, "%Y-%m-%d %H:%M", std::localtime(&started_));
      lines.push_back(TotalsLine(station_->CurrentTotals()) + " since " + since);
      out_.SetLive(std::move(lines));
    }
  }

  void ReportProgress(const std::vector<Station::DeviceStatus>& devices) {
    const auto now = std::chrono::steady_clock::now();
    for (const auto& d : devices) {
      // As a one-shot burn: progress once its first phase has been told.
      if (d.state != SlotState::Burning || announced_.count(d.label.device) == 0) continue;
      const std::string values = std::to_string(d.flashStatus) + " " + std::to_string(d.progress) +
                                 " " + std::to_string(d.errCounter) + " " +
                                 std::to_string(d.totalErrCounter);
      auto& last = lastProgress_[d.label.device];
      if (values == last.values || now - last.at < std::chrono::milliseconds(250)) continue;
      last = {values, now};
      BurnState state;
      state.flashStatus = d.flashStatus;
      state.progress = d.progress;
      state.errCounter = d.errCounter;
      state.totalErrCounter = d.totalErrCounter;
      events_->Progress(SourceOf(d.label), state);
    }
  }

  struct LastProgress {
    std::string values;
    std::chrono::steady_clock::time_point at;
  };

  const std::vector<std::string> slots_;
  OutputQueue& out_;
  JsonEvents* const events_;
  const bool live_;
  const Station* station_ = nullptr;
  std::time_t started_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;
  std::map<std::string, BurnPhase> announced_;        // by device
  std::map<std::string, LastProgress> lastProgress_;  // by device
  std::thread reporter_;
};

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
               const RecordFacts& facts, const std::optional<std::filesystem::path>& logPath) {
  const ModelRules& model = ModelAt(modelRow);
  for (const std::string& slot : options.watch) {
    std::string problem = SlotProblem(slot);
    if (problem.empty() && slot == kUsbPort && options.images.empty() && !model.IsUsb())
      problem = "slot USB: the " + std::string(model.name) + " is not reached over USB";
    if (!problem.empty()) {
      std::fprintf(stderr, "plcburn-cli: %s\n", problem.c_str());
      return kExitUsage;
    }
  }
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
#ifdef PLCBURN_METRICS_SERVER
  MetricsServer server(metrics);
  if (metricsAt && !server.Start(*metricsAt)) {
    std::fprintf(stderr, "plcburn-cli: --metrics %s: %s\n", options.metrics.c_str(),
                 server.Error().c_str());
    return kExitFailed;
  }
#else
  if (metricsAt) {
    std::fprintf(stderr, "plcburn-cli: --metrics is served on Linux only for now\n");
    return kExitUsage;
  }
#endif
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
  JsonEvents events([&out](std::string line) { out.Post(Stream::Out, std::move(line)); });
  StationLines lines(options.watch, out, options.json ? &events : nullptr);
  StationMetricsView view(lines, metricsAt ? &metrics : nullptr);
  StationConfig config;
  config.slots = options.watch;
  config.modelRow = modelRow;
  config.image = image;
  config.facts = facts;
  config.log = log ? &*log : nullptr;
  config.replugTimeout = std::chrono::seconds(options.replugTimeoutS);
  config.unplugDebounce = std::chrono::milliseconds(options.unplugDebounceMs);
  config.burnPresentAtStart = options.now;
  if (!options.images.empty()) {
    config.chooseImage = [dir = options.images, &metrics](LinkOpener& opener,
                                                          const SlotDevice& device) {
      ImageChoice choice = ChooseImageForPlc(opener, device.port, dir);
      StationImage chosen;
      chosen.plc = choice.plc;
      chosen.refusal = choice.refusal;
      if (!choice.row || !choice.refusal.empty()) return chosen;
      chosen.modelRow = choice.row;
      chosen.imageName = Utf8FromPath(PathFromUtf8(choice.path).filename());
      chosen.imageSha256 = Sha256Hex(choice.bytes);
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
  lines.Start(station);
  station.Run();
  lines.Finish();
  {
    std::lock_guard lock(stationMutex);
    running = nullptr;
  }
  if (!options.json)
    out.Post(Stream::Out, "Station: " + TotalsLine(station.CurrentTotals()) + "\n");
  out.Close(std::chrono::seconds(1));
  return kExitSignalBase + stopSignal.load();
}

}  // namespace plcburn
