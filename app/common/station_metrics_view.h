#pragma once
// A station's view that also keeps the station's figures: each device's state and each burn's
// record go to the metrics, then on to the view that shows them. The one feed of the metrics.

#include "burn/station.h"
#include "metrics/station_metrics.h"

namespace plcburn {

class StationMetricsView : public StationView {
 public:
  // Either may be null.
  StationMetricsView(StationView* shown, StationMetrics* metrics)
      : shown_(shown), metrics_(metrics) {}

  void Changed(const DeviceLabel& who, SlotState state, std::string_view note) override {
    if (metrics_ != nullptr) metrics_->SetDeviceState(who.slot, who.device, state);
    if (shown_ != nullptr) shown_->Changed(who, state, note);
  }
  void Phase(const DeviceLabel& who, BurnPhase phase) override {
    if (shown_ != nullptr) shown_->Phase(who, phase);
  }
  void Message(const DeviceLabel& who, std::string_view caption, std::string_view text) override {
    if (shown_ != nullptr) shown_->Message(who, caption, text);
  }
  void Prompt(const DeviceLabel& who, const ReconnectPrompt& prompt) override {
    if (shown_ != nullptr) shown_->Prompt(who, prompt);
  }
  void Result(const DeviceLabel& who, const BurnRecord& record) override {
    if (metrics_ != nullptr) metrics_->Count(who.slot, record);
    if (shown_ != nullptr) shown_->Result(who, record);
  }
  void Misfit(const std::string& slot, const std::string& path, std::string_view why) override {
    if (shown_ != nullptr) shown_->Misfit(slot, path, why);
  }
  void ScanSaid(std::string_view serial, std::string_view what) override {
    if (shown_ != nullptr) shown_->ScanSaid(serial, what);
  }

 private:
  StationView* const shown_;
  StationMetrics* const metrics_;
};

}  // namespace plcburn
