#pragma once
// A burn log checked against its chain: the first record that was edited, removed, inserted or
// moved, and, before it, what the chain does not cover (records of older plcburn, records written
// outside the chain, lines a power loss cut off).

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace plcburn {

enum class LogFinding {
  // Told, and the check goes on.
  OlderRecords,     // records of plcburn before the chain, on `line` to `other`
  OlderAfterChain,  // a record without the chain's fields after the chain began
  OutsideTheChain,  // a record whose writer could not have the lock: "seq": null
  CutRecord,        // the start of a record whose write did not finish, ended by the next writer
  CutLastLine,      // the same as the file's last line
  // Signs of tampering: the check ends at the first.
  Edited,         // `line` was edited: `other` names another SHA-256 for it
  BadLink,        // the seq or prev_sha256 of `line` is not of their form
  Removed,        // records removed before `line`
  Inserted,       // `line` was inserted
  Reordered,      // `line` holds a record whose place is elsewhere; `other` holds the one due
  ChainRestarts,  // a chain begins again at `line`
  NotARecord,     // `line` is no burn record
  NotABurnLog,    // no line is a burn record
};

struct LogNote {
  LogFinding finding;
  std::uint64_t line;  // from 1
  std::uint64_t other = 0;
  std::string text;  // in words, beginning with its line
};

struct LogCheck {
  bool intact = true;          // no sign of tampering
  std::vector<LogNote> notes;  // in the file's order; the last tells the tampering, if any
  std::uint64_t checked = 0;   // records whose link was checked and holds
  // The last of them, whose SHA-256 an auditor may note: the chain cannot tell an edit of the
  // log's last record, nor its removal.
  std::uint64_t lastLine = 0;
  std::string lastSha256;
};

LogCheck CheckBurnLog(std::istream& log);

}  // namespace plcburn
