#pragma once
// How far the records database has a burn log: kept in a file beside it (burns.jsonl.sent), so
// that a station started again sends only what the database did not acknowledge. It names the
// last record acknowledged by where its line ends and by the line's SHA-256, so that a log
// replaced by another (restored, rotated) is sent from its start instead of from a place in the
// middle of another file.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace plcburn {

struct SentMark {
  std::uint64_t end = 0;      // the byte just past the line's newline
  std::uint64_t length = 0;   // of the line, newline included
  std::uint64_t records = 0;  // records acknowledged from the log's start
  std::string lineSha256;     // of the line, newline included; empty before the first
  bool operator==(const SentMark&) const = default;
};

std::filesystem::path SentMarkPath(const std::filesystem::path& log);

// None when the file is missing or holds no mark: everything is then sent.
std::optional<SentMark> ReadSentMark(const std::filesystem::path& file);

// Replaces the file whole (written beside it, then renamed over it), so that a power loss leaves
// the old mark or the new one. False, with the reason in `error`, when it could not.
bool WriteSentMark(const std::filesystem::path& file, const SentMark& mark, std::string& error);

}  // namespace plcburn
