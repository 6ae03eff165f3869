#pragma once
// A station's view that also keeps the station's figures: each device's state and each burn's
// record go to the metrics, then on to the view that shows them.

#include "burn/station.h"
#include "metrics/station_metrics.h"

namespace plcburn {

class StationMetricsView : public StationView {
 public:
  StationMetricsView(StationView& shown, StationMetrics* metrics)
      : shown_(shown), metrics_(metrics) {}

  void Changed(const std::string& device, SlotState state, std::string_view note) override {
    if (metrics_ != nullptr) metrics_->SetSlotState(device, state);
    shown_.Changed(device, state, note);
  }
  void Message(const std::string& device, std::string_view caption,
               std::string_view text) override {
    shown_.Message(device, caption, text);
  }
  void Prompt(const std::string& device, const ReconnectPrompt& prompt) override {
    shown_.Prompt(device, prompt);
  }
  void Result(const std::string& device, const BurnRecord& record) override {
    if (metrics_ != nullptr) metrics_->Count(device, record);
    shown_.Result(device, record);
  }

 private:
  StationView& shown_;
  StationMetrics* const metrics_;
};

}  // namespace plcburn
