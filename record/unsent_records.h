#pragma once
// The records of a burn log that the records database has not acknowledged yet, oldest first,
// read from the log itself: the log stays the first place a record is kept, and what the
// database lacks after a restart or an outage is read from it again. How far the database has
// the log is kept beside it (record/sent_mark.h).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "record/sent_mark.h"

namespace plcburn {

struct UnsentRecord {
  std::string line;  // as the log has it, without its newline
  // Of the line with its newline, as --verify-log names it: the record's key in the database.
  std::string sha256;
  nlohmann::json record;
  std::uint64_t end = 0;  // where its line ends in the log, past the newline
};

class UnsentRecords {
 public:
  // At most `queueLimit` records are held at once; those past them are counted, and read again
  // once the queue has room.
  explicit UnsentRecords(std::filesystem::path log, std::size_t queueLimit = 256);

  // Reads what the log gained: its whole lines (a line being written is left for later) that
  // hold a record. A log replaced by another, or shorter than what was read of it, is read
  // again from its start. False, with the reason, when the log cannot be read; a log that is
  // not there yet holds nothing.
  bool Refresh(std::string& error);
  // Counts what the log gained, leaving the queue as it is: Next() stays valid.
  bool CountNew(std::string& error);

  // The oldest record not acknowledged, or null.
  const UnsentRecord* Next() const { return queue_.empty() ? nullptr : &queue_.front(); }
  // The database has Next(): the mark beside the log moves past it. False, with the reason,
  // when the mark could not be written: the record is taken off all the same (a record sent
  // twice is harmless, the database keeps it once).
  bool Acknowledge(std::string& error);

  std::uint64_t Count() const { return queue_.size() + beyond_; }
  // Records acknowledged from the log's start, as the mark counts them.
  std::uint64_t Acknowledged() const { return mark_.records; }

 private:
  struct LastLine {
    std::uint64_t end = 0, length = 0;
    std::string sha256;
  };
  using TakeLine = std::function<bool(std::string& line, std::uint64_t end)>;
  bool Open(std::ifstream& in, std::uint64_t& size, std::string& error) const;
  void Start(std::ifstream& in, std::uint64_t size);
  bool StillTheSameLog(std::ifstream& in, std::uint64_t size);
  void Reset();
  void Fill(std::ifstream& in);
  void Scan(std::ifstream& in, bool mayQueue);
  static std::uint64_t ReadLines(std::ifstream& in, std::uint64_t from, std::uint64_t to,
                                 const TakeLine& take);
  static bool SendableRecord(std::string line, std::uint64_t end, UnsentRecord& into);

  const std::filesystem::path log_;
  const std::filesystem::path markPath_;
  const std::size_t queueLimit_;
  bool started_ = false;
  SentMark mark_;
  std::deque<UnsentRecord> queue_;
  std::uint64_t queuedTo_ = 0;  // lines before it are acknowledged, queued or no records
  std::uint64_t scanned_ = 0;   // lines before it are read; those from queuedTo_ are counted
  std::uint64_t beyond_ = 0;    // records between queuedTo_ and scanned_
  LastLine last_;               // the line that ends at scanned_
};

}  // namespace plcburn
