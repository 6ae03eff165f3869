#include "record/burn_log_chain.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <span>

#include "record/burn_record_json.h"
#include "record/sha256.h"

namespace plcburn {

namespace {

using Json = nlohmann::json;

bool IsSha256Hex(const Json& value) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

}  // namespace

LineLink ReadLink(std::string_view line) {
  const Json j = Json::parse(line, nullptr, false);
  if (j.is_discarded()) return {LineKind::Cut, {}};
  if (!j.is_object() || !j.contains("schema") || !j["schema"].is_number_integer())
    return {LineKind::NotARecord, {}};
  const auto seq = j.find("seq");
  const auto prev = j.find("prev_sha256");
  if (seq == j.end() && prev == j.end()) return {LineKind::Legacy, {}};
  if (seq == j.end() || prev == j.end()) return {LineKind::BadLink, {}};
  if (seq->is_null() && prev->is_null()) return {LineKind::Unchained, {}};
  if (!seq->is_number_unsigned() || seq->get<std::uint64_t>() == 0 ||
      !(prev->is_null() || IsSha256Hex(*prev)))
    return {LineKind::BadLink, {}};
  return {LineKind::Chained,
          {seq->get<std::uint64_t>(), prev->is_null() ? "" : prev->get<std::string>()}};
}

std::string LineSha256(std::string_view line) {
  std::string withNewline(line);
  withNewline += '\n';
  return Sha256Hex(
      std::span(reinterpret_cast<const std::uint8_t*>(withNewline.data()), withNewline.size()));
}

ChainLink LinkAfter(const std::optional<std::string>& lastChained) {
  if (!lastChained) return {1, ""};
  const LineLink last = ReadLink(*lastChained);
  std::string sha = LineSha256(*lastChained);
  if (last.kind != LineKind::Chained || sha.empty()) return {};
  return {*last.link.seq + 1, std::move(sha)};
}

std::string ChainedLine(const nlohmann::ordered_json& record, const ChainLink& link) {
  using Ordered = nlohmann::ordered_json;
  Ordered line = {
      {"schema", record.value("schema", kRecordSchema)},
      {"seq", link.seq ? Ordered(*link.seq) : Ordered(nullptr)},
      {"prev_sha256", link.prevSha256.empty() ? Ordered(nullptr) : Ordered(link.prevSha256)}};
  for (const auto& [key, value] : record.items())
    if (key != "schema") line[key] = value;
  return JsonLine(line);
}

}  // namespace plcburn
