#pragma once
// plcburn-cli --json: standard output becomes a stream of events, one JSON object a line, each
// with its "event" and the "port" of the burn it belongs to. Lines of burns that run at once
// never mix.

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/burn_record.h"
#include "core/burn_state.h"

namespace plcburn {

class JsonEvents {
 public:
  explicit JsonEvents(std::FILE* out) : out_(out) {}

  void Phase(std::string_view port, BurnPhase phase);
  void Progress(std::string_view port, const BurnState& state);
  void Prompt(std::string_view port, std::string_view caption, std::string_view text);
  void Message(std::string_view port, std::string_view caption, std::string_view text);
  // A burn's last event, with the hint for an error.
  void Result(std::string_view port, const BurnRecord& record);

 private:
  void Emit(std::string_view event, std::string_view port, const nlohmann::ordered_json& fields);

  std::FILE* out_;
  std::mutex mutex_;
  bool binary_ = false;
};

// The phase of the stream that a panel's `flashStatus` stands for.
BurnPhase StreamPhase(std::int32_t flashStatus);

}  // namespace plcburn
