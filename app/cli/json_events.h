#pragma once
// plcburn-cli --json: standard output becomes a stream of events, one JSON object a line, each
// with its "event" and the "port" of the burn it belongs to (at a station also its "slot" and
// "device"). Lines of burns that run at once never mix.

#include <cstdio>
#include <functional>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

#include "core/burn_record.h"
#include "core/burn_state.h"

namespace plcburn {

// Which burn an event belongs to: its port, and at a station the slot and the device.
struct EventSource {
  EventSource(std::string_view p) : port(p) {}    // NOLINT: a port names a burn outside a station
  EventSource(const std::string& p) : port(p) {}  // NOLINT
  EventSource(const char* p) : port(p) {}         // NOLINT
  EventSource(std::string_view p, std::string_view s, std::string_view d)
      : port(p), slot(s), device(d) {}
  std::string_view port;
  std::string_view slot;
  std::string_view device;
};

class JsonEvents {
 public:
  // Where each line goes, whole.
  using Sink = std::function<void(std::string line)>;
  explicit JsonEvents(std::FILE* out) : out_(out) {}
  explicit JsonEvents(Sink sink) : sink_(std::move(sink)) {}

  void Phase(const EventSource& from, BurnPhase phase);
  void Progress(const EventSource& from, const BurnState& state);
  void Prompt(const EventSource& from, std::string_view caption, std::string_view text);
  void Message(const EventSource& from, std::string_view caption, std::string_view text);
  // A burn's last event, with the hint for an error.
  void Result(const EventSource& from, const BurnRecord& record);
  // Any other event of the source, with its fields.
  void Other(std::string_view event, const EventSource& from, const nlohmann::ordered_json& fields);

 private:
  void Emit(std::string_view event, const EventSource& from, const nlohmann::ordered_json& fields);

  std::FILE* out_ = nullptr;
  Sink sink_;
  std::mutex mutex_;
  bool binary_ = false;
};

// The phase of the stream that a panel's `flashStatus` stands for.
BurnPhase StreamPhase(std::int32_t flashStatus);

}  // namespace plcburn
