#pragma once
// A slot's journal for a station with metrics: counts each record in the station's figures, then
// hands phases and records on to the journal that keeps them (the burn log), if any.

#include <string>
#include <utility>

#include "core/burn_record.h"
#include "metrics/station_metrics.h"

namespace plcburn {

class MetricsJournal : public BurnJournal {
 public:
  MetricsJournal(StationMetrics& metrics, std::string slot, BurnJournal* next = nullptr)
      : metrics_(metrics), slot_(std::move(slot)), next_(next) {}

  void PhaseBegins(BurnPhase phase) override {
    if (next_ != nullptr) next_->PhaseBegins(phase);
  }
  void Keep(const BurnRecord& record) override {
    metrics_.Count(slot_, record);
    if (next_ != nullptr) next_->Keep(record);
  }

 private:
  StationMetrics& metrics_;
  std::string slot_;
  BurnJournal* next_;
};

}  // namespace plcburn
