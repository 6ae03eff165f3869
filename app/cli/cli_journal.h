#pragma once
// One burn's journal in plcburn-cli: its record goes to the burn log, if there is one, and with
// --json its phases and, last, its record go to the event stream.

#include <optional>
#include <string>

#include "app/cli/json_events.h"
#include "core/burn_record.h"

namespace plcburn {

class CliJournal : public BurnJournal {
 public:
  // `log` and `events` may be null.
  CliJournal(std::string port, BurnJournal* log, JsonEvents* events)
      : port_(std::move(port)), log_(log), events_(events) {}

  // Handshake, erase and transfer, each when it follows another; the reconnect belongs to the
  // handshake in the stream (its prompt is an event of its own).
  void PhaseBegins(BurnPhase phase) override;
  void Keep(const BurnRecord& record) override;
  // The kept record as the burn's last event; call once the burn has ended.
  void SendResult();

 private:
  const std::string port_;
  BurnJournal* const log_;
  JsonEvents* const events_;
  std::optional<BurnPhase> announced_;
  std::optional<BurnRecord> record_;
};

}  // namespace plcburn
