#pragma once
// The burn log's chain: each record names its place in its file (`seq`, from 1) and the SHA-256
// of the chained record line before it (`prev_sha256`), so that a record edited, removed,
// inserted or moved shows. A record that could not be chained (the log stayed locked by another
// writer) carries both as null; records of plcburn before the chain carry neither.

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace plcburn {

struct ChainLink {
  std::optional<std::uint64_t> seq;  // none: outside the chain
  std::string prevSha256;            // lower-case hex; empty for the first of a chain
  bool operator==(const ChainLink&) const = default;
};

// What a line of a burn log is to the chain.
enum class LineKind {
  Chained,     // a record with its seq and prev_sha256
  Unchained,   // a record written outside the chain: "seq": null
  Legacy,      // a record without the chain's fields, of plcburn before them
  BadLink,     // a record whose seq or prev_sha256 is not of their form
  NotARecord,  // JSON, but no burn record
  Cut,         // no JSON: the start of a record whose write did not finish
};

struct LineLink {
  LineKind kind;
  ChainLink link;
};

// `line` without its newline.
LineLink ReadLink(std::string_view line);

// The SHA-256 that the next record names for `line` (given without its newline): of the line
// with its newline, as `sed -n Np FILE | sha256sum` prints it. Empty if the system cannot hash.
std::string LineSha256(std::string_view line);

// The link of the record after `lastChained`, the last chained line of the file, or of the first
// record of a chain when the file has none. Outside the chain when the system cannot hash.
ChainLink LinkAfter(const std::optional<std::string>& lastChained);

// `record` (a RecordJson) as a log line, with seq and prev_sha256 after its schema.
std::string ChainedLine(const nlohmann::ordered_json& record, const ChainLink& link);

}  // namespace plcburn
