#pragma once
// A burn's record kept in the burn log first, then the records sender told of it: the log stays
// the first place a record is kept, and the sender reads it from there.

#include <functional>

#include "core/burn_record.h"

namespace plcburn {

class LogThenSend : public BurnJournal {
 public:
  LogThenSend(BurnJournal& log, std::function<void()> written)
      : log_(log), written_(std::move(written)) {}
  void PhaseBegins(BurnPhase phase) override { log_.PhaseBegins(phase); }
  void Keep(const BurnRecord& record) override {
    log_.Keep(record);
    if (written_) written_();
  }

 private:
  BurnJournal& log_;
  const std::function<void()> written_;
};

}  // namespace plcburn
