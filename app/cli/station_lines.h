#pragma once
// What a station shows in a terminal: on a terminal, one live line per slot and device and the
// totals; elsewhere, a line for each change; with --json, the events of every burn as a one-shot
// burn gives them, each with its slot and device. Everything goes out through the output queue,
// so a reader that stalls never holds up the station.

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/json_events.h"
#include "app/cli/output_queue.h"
#include "burn/station.h"

namespace plcburn {

// "burned 3, failed 1", with the stopped and refused burns where there are any.
std::string TotalsLine(const Station::Totals& totals);

class StationLines : public StationView {
 public:
  // `events`: with --json, where the events go; null for lines.
  StationLines(const std::vector<std::string>& slots, OutputQueue& out, JsonEvents* events);
  ~StationLines() override { Finish(); }

  // Shows the station's devices from now on (live lines, progress events); Finish stops that.
  void Start(const Station& station);
  void Finish();

  void Changed(const DeviceLabel& who, SlotState state, std::string_view note) override;
  void Phase(const DeviceLabel& who, BurnPhase phase) override;
  void Message(const DeviceLabel& who, std::string_view caption, std::string_view text) override;
  void Prompt(const DeviceLabel& who, const ReconnectPrompt& prompt) override;
  void Result(const DeviceLabel& who, const BurnRecord& record) override;
  void Misfit(const std::string& slot, const std::string& path, std::string_view why) override;
  void ScanSaid(std::string_view serial, std::string_view what) override;

 private:
  struct LastProgress {
    std::string values;
    std::chrono::steady_clock::time_point at;
  };

  std::string Line(const Station::DeviceStatus& d) const;
  void Report();
  void ReportProgress(const std::vector<Station::DeviceStatus>& devices);

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

}  // namespace plcburn
