#include "app/cli/json_events.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <nlohmann/json.hpp>

#include "core/message_help.h"
#include "record/burn_record_json.h"

namespace plcburn {

void JsonEvents::Emit(std::string_view event, const EventSource& from,
                      const nlohmann::ordered_json& fields) {
  nlohmann::ordered_json line{{"event", event}, {"port", from.port}};
  if (!from.slot.empty()) line["slot"] = from.slot;
  if (!from.device.empty()) line["device"] = from.device;
  line.update(fields);
  std::string text = JsonLine(line);
  if (sink_) return sink_(std::move(text));
  std::lock_guard lock(mutex_);
#ifdef _WIN32
  // A stream in text mode writes CR LF; the stream's lines end in LF, as the burn log's do.
  if (!binary_) {
    std::fflush(out_);
    _setmode(_fileno(out_), _O_BINARY);
    binary_ = true;
  }
#endif
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

BurnPhase StreamPhase(std::int32_t flashStatus) {
  switch (flashStatus) {
    case ERASE: return BurnPhase::Erase;
    case PROGRAM: return BurnPhase::Transfer;
    default: return BurnPhase::Handshake;
  }
}

void JsonEvents::Phase(const EventSource& from, BurnPhase phase) {
  Emit("phase", from, {{"phase", PhaseName(phase)}});
}

void JsonEvents::Progress(const EventSource& from, const BurnState& state) {
  Emit("progress", from,
       {{"phase", PhaseName(StreamPhase(state.flashStatus.load()))},
        {"percent", state.progress.load()},
        {"errors", state.errCounter.load()},
        {"errors_total", state.totalErrCounter.load()}});
}

void JsonEvents::Prompt(const EventSource& from, std::string_view caption, std::string_view text) {
  Emit("prompt", from, {{"caption", caption}, {"text", text}});
}

void JsonEvents::Message(const EventSource& from, std::string_view caption, std::string_view text) {
  Emit("message", from, {{"caption", caption}, {"text", text}});
}

void JsonEvents::Other(std::string_view event, const EventSource& from,
                       const nlohmann::ordered_json& fields) {
  Emit(event, from, fields);
}

void JsonEvents::Result(const EventSource& from, const BurnRecord& record) {
  // What to try next, the line plcburn-cli prints under an error without --json; null after a
  // success.
  const std::string_view hint = record.result.ok ? std::string_view() : HintFor(record.result.text);
  Emit("result", from,
       {{"ok", record.result.ok},
        {"hint", hint.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(hint)},
        {"record", RecordJson(record)}});
}

}  // namespace plcburn
