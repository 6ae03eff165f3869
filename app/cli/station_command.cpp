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
#include "app/cli/json_events.h"
#include "app/cli/stop_signals.h"
#include "app/cli/terminal.h"
#include "app/station_metrics_view.h"
#include "burn/station.h"
#include "core/message_help.h"
#include "core/utf8_text.h"
#include "core/version.h"
#include "link/slot_watch.h"
#include "link/system_opener.h"
#include "metrics/metrics_address.h"
#ifdef PLCBURN_METRICS_SERVER
#include "metrics/metrics_server.h"
#endif
#include "record/sha256.h"

namespace plcburn {

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSignalBase = 128;

// What the station shows on a terminal: one live line per slot and device, and the totals. Not
// on a terminal: a line for each change; with --json, the events of every device.
class StationLines : public StationView {
 public:
  StationLines(const std::vector<std::string>& slots, JsonEvents* events)
      : slots_(slots), events_(events), live_(events == nullptr && IsTerminal(stderr)) {}
  ~StationLines() override { Finish(); }

  void Start(const Station& station) {
    station_ = &station;
    started_ = std::time(nullptr);
    if (live_) reporter_ = std::thread([this] { Report(); });
  }
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    wake_.notify_all();
    if (reporter_.joinable()) reporter_.join();
  }

  void Changed(const std::string& device, SlotState state, std::string_view note) override {
    if (events_ != nullptr || live_) return;
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "%s: %s%s%.*s\n", device.c_str(),
                 std::string(SlotStateName(state)).c_str(), note.empty() ? "" : ": ",
                 static_cast<int>(note.size()), note.data());
    std::fflush(stderr);
  }
  void Message(const std::string& device, std::string_view caption,
               std::string_view text) override {
    if (events_ != nullptr) return events_->Message(device, caption, text);
    std::lock_guard lock(mutex_);
    ClearLive();
    const std::string_view first = text.substr(0, text.find('\n'));
    std::printf("%s: %.*s: %.*s\n", device.c_str(), static_cast<int>(caption.size()),
                caption.data(), static_cast<int>(first.size()), first.data());
    std::fflush(stdout);
    if (first.size() < text.size())
      std::fprintf(stderr, "%s: %.*s\n", device.c_str(),
                   static_cast<int>(text.size() - first.size() - 1),
                   text.data() + first.size() + 1);
    if (const std::string_view hint = HintFor(text); !hint.empty())
      std::fprintf(stderr, "%s: %.*s\n", device.c_str(), static_cast<int>(hint.size()),
                   hint.data());
  }
  void Prompt(const std::string& device, const ReconnectPrompt& prompt) override {
    if (events_ != nullptr) events_->Prompt(device, prompt.caption, prompt.text);
  }
  void Result(const std::string& device, const BurnRecord& record) override {
    if (events_ != nullptr) events_->Result(device, record);
  }

 private:
  void ClearLive() {
    if (live_ && drawn_ > 0) {
      std::fprintf(stderr, "\x1b[%dA\r\x1b[J", drawn_);
      drawn_ = 0;
    }
  }

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
      case SlotState::Empty: std::snprintf(text, sizeof text, "empty"); break;
    }
    return d.device + "  " + text;
  }

  void Report() {
    std::unique_lock lock(mutex_);
    while (!finished_) {
      wake_.wait_for(lock, std::chrono::milliseconds(200));
      const auto devices = station_->Devices();
      const auto totals = station_->CurrentTotals();
      ClearLive();
      std::vector<bool> busy(slots_.size());
      for (const auto& d : devices) busy[d.slot] = true;
      for (std::size_t i = 0; i < slots_.size(); ++i)
        if (!busy[i]) std::fprintf(stderr, "%s  empty\x1b[K\n", slots_[i].c_str()), ++drawn_;
      for (const auto& d : devices) std::fprintf(stderr, "%s\x1b[K\n", Line(d).c_str()), ++drawn_;
      char since[32];
      std::strftime(since, sizeof since, "%Y-%m-%d %H:%M", std::localtime(&started_));
      std::fprintf(stderr, "burned %d, failed %d since %s\x1b[K\n", totals.burned, totals.failed,
                   since);
      ++drawn_;
      std::fflush(stderr);
    }
  }

  const std::vector<std::string> slots_;
  JsonEvents* const events_;
  const bool live_;
  const Station* station_ = nullptr;
  std::time_t started_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;
  int drawn_ = 0;
  std::thread reporter_;
};

}  // namespace

int RunStation(const CliOptions& options, std::size_t modelRow, std::span<const std::uint8_t> image,
               const RecordFacts& facts, BurnJournal* log) {
  const ModelRules& model = ModelAt(modelRow);
  for (const std::string& slot : options.watch) {
    std::string problem = SlotProblem(slot);
    if (problem.empty() && slot == "USB" && options.images.empty() && !model.IsUsb())
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
  StationMetrics metrics({std::string(kVersion), facts.imageName, facts.imageSha256});
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
  JsonEvents events(stdout);
  StationLines lines(options.watch, options.json ? &events : nullptr);
  StationMetricsView view(lines, metricsAt ? &metrics : nullptr);
  StationConfig config;
  config.slots = options.watch;
  config.modelRow = modelRow;
  config.image = image;
  config.facts = facts;
  config.log = log;
  config.replugTimeout = std::chrono::seconds(options.replugTimeoutS);
  config.burnPresentAtStart = options.now;
  if (!options.images.empty()) {
    config.chooseImage = [dir = options.images](LinkOpener& opener, const SlotDevice& device) {
      ImageChoice choice = ChooseImageForPlc(opener, device.usb ? "USB" : device.port, dir);
      StationImage chosen;
      chosen.refusal = choice.refusal;
      if (!choice.row || !choice.refusal.empty()) return chosen;
      chosen.modelRow = choice.row;
      chosen.imageName = Utf8FromPath(PathFromUtf8(choice.path).filename());
      chosen.imageSha256 = Sha256Hex(choice.bytes);
      chosen.bytes = std::move(choice.bytes);
      return chosen;
    };
  }
  Station station(config, *watch, &SystemOpenerFor, view);
  if (options.images.empty()) {
    std::fprintf(stderr, "plcburn-cli: station for the %s, image of %zu bytes, on %zu slot%s\n",
                 std::string(model.name).c_str(), image.size(), options.watch.size(),
                 options.watch.size() == 1 ? "" : "s");
  } else {
    std::fprintf(stderr, "plcburn-cli: station for the images in %s, on %zu slot%s\n",
                 options.images.c_str(), options.watch.size(),
                 options.watch.size() == 1 ? "" : "s");
  }
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
  const auto totals = station.CurrentTotals();
  if (!options.json) std::printf("Station: burned %d, failed %d\n", totals.burned, totals.failed);
  return kExitSignalBase + stopSignal.load();
}

}  // namespace plcburn
