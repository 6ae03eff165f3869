#include "app/cli/cli_journal.h"

namespace plcburn {

void CliJournal::PhaseBegins(BurnPhase phase) {
  if (phase == BurnPhase::Reconnect || phase == announced_) return;
  announced_ = phase;
  if (events_ != nullptr) events_->Phase(port_, phase);
}

void CliJournal::Keep(const BurnRecord& record) {
  record_ = record;
  if (log_ != nullptr) log_->Keep(record);
}

void CliJournal::SendResult() {
  if (events_ != nullptr && record_) events_->Result(port_, *record_);
}

}  // namespace plcburn
