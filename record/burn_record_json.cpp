#include "record/burn_record_json.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

namespace plcburn {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json OrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

}  // namespace

std::string IsoUtc(std::uint64_t msSinceEpoch) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds(msSinceEpoch)};
  const sys_days day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss time{t - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

std::string_view PhaseName(BurnPhase phase) {
  switch (phase) {
    case BurnPhase::Handshake: return "handshake";
    case BurnPhase::Reconnect: return "reconnect";
    case BurnPhase::Erase: return "erase";
    case BurnPhase::Transfer: return "transfer";
  }
  return {};
}

Json RecordJson(const BurnRecord& r) {
  Json j;
  j["schema"] = kRecordSchema;
  j["start"] = IsoUtc(r.startMs);
  j["end"] = IsoUtc(r.endMs);
  j["duration_ms"] = r.durationMs;
  j["version"] = r.version;
  j["host"] = OrNull(r.facts.host);
  j["port"] = r.port;
  if (!r.facts.slot.empty()) j["slot"] = r.facts.slot;
  if (!r.facts.device.empty()) j["device"] = r.facts.device;
  j["link"] = r.usb ? "usb" : "serial";
  j["model"] = r.model;
  j["image"] = {{"name", OrNull(r.facts.imageName)},
                {"size", r.imageSize},
                {"sha256", OrNull(r.facts.imageSha256)},
                {"signature", r.facts.signingKeyId.empty()
                                  ? Json(nullptr)
                                  : Json{{"key_id", r.facts.signingKeyId},
                                         {"trusted_comment", r.facts.trustedComment}}}};
  j["result"] = {
      {"ok", r.result.ok},
      {"code", OrNull(r.result.code)},
      {"step", r.result.step},
      {"caption", r.result.caption},
      {"text", r.result.text},
      {"stopped", r.result.stopped},
      {"refused", r.result.refused ? Json{{"reason", ImageRefusalName(r.result.refused->reason)},
                                          {"key_id", OrNull(r.result.refused->keyId)}}
                                   : Json(nullptr)}};
  j["phases"] = {{"handshake_ms", r.phases.handshakeMs},
                 {"reconnect_ms", r.phases.reconnectMs},
                 {"erase_ms", r.phases.eraseMs},
                 {"transfer_ms", r.phases.transferMs}};
  j["blocks"] = {{"total", r.blocks.total}, {"sent", r.blocks.sent}, {"resent", r.blocks.resent}};
  j["errors"] = {{"total", r.errorsTotal}};
  j["attempts"] = r.attempts;
  j["plc"] = {{"identifier", OrNull(r.plc.identifier)},
              {"boot_identifier", OrNull(r.plc.bootIdentifier)},
              {"app_version", OrNull(r.plc.appVersion)},
              {"boot_version", OrNull(r.plc.bootVersion)},
              {"d1386", OrNull(r.plc.d1386)},
              {"d1148", OrNull(r.plc.d1148)},
              {"serial", OrNull(r.facts.serial)}};
  j["warnings"] = r.facts.warnings;
  return j;
}

std::string JsonLine(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace) + "\n";
}

std::string RecordLine(const BurnRecord& record) {
  return JsonLine(RecordJson(record));
}

}  // namespace plcburn
