#include "record/burn_history.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "record/utc_time_text.h"

namespace plcburn {

namespace {

using Json = nlohmann::json;

// The string at `path` in `record`, or empty when it is absent, null or no string.
std::string Text(const Json& record, const Json::json_pointer& path) {
  if (!record.contains(path)) return {};
  const Json& value = record.at(path);
  return value.is_string() ? value.get<std::string>() : std::string();
}

std::string Text(const Json& record, const char* path) {
  return Text(record, Json::json_pointer(path));
}

// Characters as a terminal shows them: UTF-8 continuation bytes take no column.
std::size_t Columns(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

constexpr std::size_t kColumns = 9;
using Row = std::array<std::string, kColumns>;

Row RowOf(const Json& record) {
  const BurnVerdict verdict = VerdictOfRecord(record);
  std::string result = Upper(BurnVerdictName(verdict));
  const std::string why = Text(record, "/result/text");
  if (verdict != BurnVerdict::Ok && !why.empty()) result += ": " + why;
  std::string slot = Text(record, "/slot");
  if (slot.empty()) slot = Text(record, "/port");
  Row row = {Text(record, "/start"),
             Text(record, "/host"),
             slot,
             Text(record, "/model"),
             Text(record, "/plc/serial"),
             Text(record, "/image/name"),
             Text(record, "/image/sha256"),
             Text(record, "/image/signature/key_id"),
             result};
  for (std::string& cell : row)
    if (cell.empty()) cell.push_back('-');  // not = "-": GCC 12 warns of an overlap there
  return row;
}

}  // namespace

BurnVerdict VerdictOfRecord(const Json& record) {
  BurnRecord burn;
  const Json result = record.value("result", Json::object());
  if (result.is_object()) {
    burn.result.ok = result.value("ok", false);
    burn.result.stopped = result.value("stopped", false);
    burn.result.step = Text(result, "/step");
  }
  return VerdictOf(burn);
}

std::optional<HistoryEntry> HistoryEntryOf(std::string text, const HistoryQuery& query) {
  Json record = Json::parse(text, nullptr, false);
  if (record.is_discarded() || !record.is_object() || !record.contains("schema")) return {};
  const std::optional<std::uint64_t> start = ParseUtcTime(Text(record, "/start"));
  if (!start) return {};
  if (query.sinceMs && *start < *query.sinceMs) return {};
  if (!query.serial.empty() && Text(record, "/plc/serial") != query.serial) return {};
  return HistoryEntry{std::move(text), std::move(record), *start};
}

void ReadHistory(std::istream& log, const HistoryQuery& query, std::vector<HistoryEntry>& into) {
  std::string line;
  while (std::getline(log, line)) {
    if (line.ends_with('\r')) line.pop_back();  // a log copied through Windows
    if (auto entry = HistoryEntryOf(std::move(line), query)) into.push_back(std::move(*entry));
    line.clear();
  }
}

void NewestFirst(std::vector<HistoryEntry>& entries) {
  std::reverse(entries.begin(), entries.end());
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const HistoryEntry& a, const HistoryEntry& b) { return a.startMs > b.startMs; });
}

std::string HistoryTable(const std::vector<HistoryEntry>& entries) {
  if (entries.empty()) return {};
  std::vector<Row> rows{
      {"START", "HOST", "SLOT", "MODEL", "SERIAL", "IMAGE", "SHA-256", "KEY", "RESULT"}};
  for (const HistoryEntry& entry : entries) rows.push_back(RowOf(entry.record));
  std::array<std::size_t, kColumns> widths{};
  for (const Row& row : rows)
    for (std::size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], Columns(row[c]));
  std::string table;
  for (const Row& row : rows) {
    for (std::size_t c = 0; c < kColumns; ++c) {
      table += row[c];
      if (c + 1 < kColumns) table += std::string(widths[c] - Columns(row[c]) + 2, ' ');
    }
    table += '\n';
  }
  return table;
}

}  // namespace plcburn
