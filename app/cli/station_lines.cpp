#include "app/cli/station_lines.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/cli/plain_progress.h"
#include "app/cli/terminal.h"
#include "core/message_help.h"

namespace plcburn {

namespace {

using Stream = OutputQueue::Stream;

EventSource SourceOf(const DeviceLabel& who) {
  return {who.port, who.slot, who.device};
}

}  // namespace

std::string TotalsLine(const Station::Totals& t) {
  std::string line = "burned " + std::to_string(t.burned) + ", failed " + std::to_string(t.failed);
  if (t.stopped > 0) line += ", stopped " + std::to_string(t.stopped);
  if (t.refused > 0) line += ", refused " + std::to_string(t.refused);
  return line;
}

StationLines::StationLines(const std::vector<std::string>& slots, OutputQueue& out,
                           JsonEvents* events)
    : slots_(slots), out_(out), events_(events), live_(events == nullptr && IsTerminal(stderr)) {}

void StationLines::Start(const Station& station) {
  station_ = &station;
  started_ = std::time(nullptr);
  if (live_ || events_ != nullptr) reporter_ = std::thread([this] { Report(); });
}
void StationLines::Finish() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  wake_.notify_all();
  if (reporter_.joinable()) reporter_.join();
}

void StationLines::Changed(const DeviceLabel& who, SlotState state, std::string_view note) {
  if (events_ != nullptr || live_) return;
  std::string line = who.port + ": " + std::string(SlotStateName(state));
  if (!note.empty()) line += ": " + std::string(note);
  out_.Post(Stream::Err, line + "\n");
}
void StationLines::Phase(const DeviceLabel& who, BurnPhase phase) {
  if (events_ == nullptr || phase == BurnPhase::Reconnect) return;
  // As a one-shot burn: each phase once, when it follows another, and told before any
  // progress of it (the queue takes it without waiting).
  std::lock_guard lock(mutex_);
  const auto [announced, first] = announced_.try_emplace(who.device, phase);
  if (!first && announced->second == phase) return;
  announced->second = phase;
  events_->Phase(SourceOf(who), phase);
}
void StationLines::Message(const DeviceLabel& who, std::string_view caption,
                           std::string_view text) {
  if (events_ != nullptr) return events_->Message(SourceOf(who), caption, text);
  const std::string_view first = text.substr(0, text.find('\n'));
  out_.Post(Stream::Out, who.port + ": " + std::string(caption) + ": " + std::string(first) + "\n");
  std::string more;
  if (first.size() < text.size())
    more += who.port + ": " + std::string(text.substr(first.size() + 1)) + "\n";
  if (const std::string_view hint = HintFor(text); !hint.empty())
    more += who.port + ": " + std::string(hint) + "\n";
  if (!more.empty()) out_.Post(Stream::Err, more);
}
void StationLines::Prompt(const DeviceLabel& who, const ReconnectPrompt& prompt) {
  if (events_ != nullptr) events_->Prompt(SourceOf(who), prompt.caption, prompt.text);
}
void StationLines::Result(const DeviceLabel& who, const BurnRecord& record) {
  if (events_ != nullptr) events_->Result(SourceOf(who), record);
  std::lock_guard lock(mutex_);
  announced_.erase(who.device);
  lastProgress_.erase(who.device);
}
void StationLines::Misfit(const std::string& slot, const std::string& path, std::string_view why) {
  out_.Post(Stream::Err, "plcburn-cli: " + path + " (slot " + slot + "): " + std::string(why) +
                             "; it is left alone\n");
  if (events_ != nullptr) events_->Other("misfit", EventSource(path, slot, path), {{"why", why}});
}

std::string StationLines::Line(const Station::DeviceStatus& d) const {
  char text[160];
  switch (d.state) {
    case SlotState::Burning:
      std::snprintf(
          text, sizeof text, "burning %s%s%s",
          ProgressFigures(d.flashStatus, d.progress, d.errCounter, d.totalErrCounter, d.elapsedTime)
              .c_str(),
          d.note.empty() ? "" : "  ", d.note.c_str());
      break;
    case SlotState::Replug:
      std::snprintf(text, sizeof text, "waiting for the re-plug  %ds", d.elapsedTime);
      break;
    case SlotState::Ok: std::snprintf(text, sizeof text, "OK: %s", d.note.c_str()); break;
    case SlotState::Failed: std::snprintf(text, sizeof text, "FAILED: %s", d.note.c_str()); break;
    case SlotState::Stopped: std::snprintf(text, sizeof text, "STOPPED: %s", d.note.c_str()); break;
    case SlotState::Refused: std::snprintf(text, sizeof text, "REFUSED: %s", d.note.c_str()); break;
    case SlotState::Empty: std::snprintf(text, sizeof text, "empty"); break;
    case SlotState::Scan: std::snprintf(text, sizeof text, "SCAN: scan its label"); break;
  }
  return d.device + "  " + text + (d.serial.empty() ? "" : "  serial " + d.serial);
}

// The live lines five times a second; with --json, a progress event for each burn whose
// phase, percent or counters changed, at most four a second.
void StationLines::Report() {
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

void StationLines::ReportProgress(const std::vector<Station::DeviceStatus>& devices) {
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

// Said in every mode: the operator with the scanner must hear what became of the label.
void StationLines::ScanSaid(std::string_view serial, std::string_view what) {
  out_.Post(Stream::Err,
            "plcburn-cli: scan " + std::string(serial) + ": " + std::string(what) + "\n");
  if (events_ != nullptr)
    events_->Other("scan", EventSource(""), {{"serial", serial}, {"what", what}});
}

}  // namespace plcburn
