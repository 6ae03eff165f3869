#include "record/burn_log_check.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "record/burn_log_chain.h"

namespace plcburn {

namespace {

// Far longer than any record: a longer line is no record, and is not kept whole in memory.
constexpr std::size_t kLongestLine = 1 << 20;

struct Line {
  std::string text;
  bool tooLong = false;
  bool ended = false;  // by a newline
};

bool ReadLine(std::streambuf& in, Line& line) {
  line = {};
  bool any = false;
  for (int c; (c = in.sbumpc()) != std::char_traits<char>::eof();) {
    any = true;
    if (c == '\n') {
      line.ended = true;
      return true;
    }
    if (line.tooLong) continue;
    line.text += static_cast<char>(c);
    if (line.text.size() > kLongestLine) {
      line.tooLong = true;
      line.text.clear();
    }
  }
  return any;
}

struct Entry {
  std::uint64_t line;
  LineKind kind;
  ChainLink link;
  std::string sha256;  // of a chained record
  bool ended;
};

std::string N(std::uint64_t n) {
  return std::to_string(n);
}

class Checker {
 public:
  explicit Checker(std::vector<Entry> entries) : entries_(std::move(entries)) {
    for (std::size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].kind == LineKind::Chained) chained_.push_back(i);
  }

  LogCheck Run() {
    const bool anyRecord = std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) {
      return e.kind != LineKind::Cut && e.kind != LineKind::NotARecord;
    });
    if (!anyRecord && !entries_.empty()) {
      Tampered(LogFinding::NotABurnLog, entries_.front().line, 0,
               "not a burn log: no line of it is a burn record");
      return result_;
    }
    if (std::all_of(entries_.begin(), entries_.end(), [this](const Entry& e) { return Take(e); }))
      EndOlderRecords();
    return result_;
  }

 private:
  // False once tampering shows.
  bool Take(const Entry& e) {
    const std::string line = "line " + N(e.line);
    switch (e.kind) {
      case LineKind::Legacy:
        if (next_ == 0) {
          if (olderCount_++ == 0) olderFirst_ = e.line;
          olderLast_ = e.line;
        } else {
          Note(LogFinding::OlderAfterChain, e.line, 0,
               line +
                   ": a record without seq after the chain began (an older plcburn writing "
                   "the same log?), not covered by the chain");
        }
        return true;
      case LineKind::Unchained:
        Note(LogFinding::OutsideTheChain, e.line, 0,
             line +
                 ": a record written outside the chain (\"seq\": null: its writer could not "
                 "have the log's lock), not covered by it");
        return true;
      case LineKind::Cut:
        if (!e.ended) {
          Note(LogFinding::CutLastLine, e.line, 0,
               line +
                   ", the last: not a record: the start of one whose write did not finish "
                   "(power lost?)");
        } else {
          Note(LogFinding::CutRecord, e.line, 0,
               line +
                   ": not a record: the start of one whose write did not finish (power "
                   "lost?)");
        }
        return true;
      case LineKind::NotARecord:
        return Tampered(LogFinding::NotARecord, e.line, 0, line + ": not a burn record");
      case LineKind::BadLink:
        return Tampered(LogFinding::BadLink, e.line, 0,
                        line + ": edited: its seq or prev_sha256 is not of their form");
      case LineKind::Chained: return Link(e);
    }
    return true;
  }

  bool Link(const Entry& r) {
    EndOlderRecords();
    const Entry* last = next_ == 0 ? nullptr : &entries_[chained_[next_ - 1]];
    const std::uint64_t due = last ? *last->link.seq + 1 : 1;
    const std::string dueSha = last ? last->sha256 : "";
    const std::uint64_t seq = *r.link.seq;
    if (seq == due && r.link.prevSha256 == dueSha) {
      ++next_;
      ++result_.checked;
      result_.lastLine = r.line;
      result_.lastSha256 = r.sha256;
      return true;
    }
    const std::string line = "line " + N(r.line);
    for (std::size_t k = 0; k < next_; ++k) {
      const Entry& earlier = entries_[chained_[k]];
      if (earlier.sha256 == r.sha256) {
        return Tampered(LogFinding::Inserted, r.line, earlier.line,
                        line + ": a record inserted: a copy of line " + N(earlier.line));
      }
    }
    // Inserted: the records around it chain without it, and it fits nowhere else.
    const Entry* following = next_ + 1 < chained_.size() ? &entries_[chained_[next_ + 1]] : nullptr;
    if (following && *following->link.seq == due && following->link.prevSha256 == dueSha &&
        !FitsLater(r)) {
      return Tampered(LogFinding::Inserted, r.line, 0,
                      line + ": a record inserted: the records around it chain without it");
    }
    if (seq != due) {
      if (const Entry* belongs = LaterWithSeq(due)) {
        return Tampered(LogFinding::Reordered, r.line, belongs->line,
                        line + ": records reordered: seq " + N(seq) + " stands where seq " +
                            N(due) + " belongs, which is on line " + N(belongs->line));
      }
    }
    if (seq == due && last) {
      return Tampered(LogFinding::Edited, last->line, r.line,
                      "line " + N(last->line) + ": edited: line " + N(r.line) +
                          " names another SHA-256 for it");
    }
    if (seq == due) {
      return Tampered(LogFinding::Edited, r.line, 0,
                      line + ": edited: the chain's first record names one before it");
    }
    if (seq > due) {
      return Tampered(LogFinding::Removed, r.line, 0,
                      line + ": records removed before it: " +
                          (last ? "seq " + N(seq) + " follows seq " + N(due - 1)
                                : "the chain begins at seq " + N(seq)));
    }
    if (seq == 1 && r.link.prevSha256.empty()) {
      return Tampered(LogFinding::ChainRestarts, r.line, 0,
                      line +
                          ": a second chain begins (seq 1): another log joined on, or every "
                          "record before it removed");
    }
    return Tampered(
        LogFinding::Inserted, r.line, 0,
        line + ": a record inserted: seq " + N(seq) + " again, after seq " + N(due - 1));
  }

  // A record that a later one names, or that names a later one, is in the wrong place rather
  // than an intruder.
  bool FitsLater(const Entry& r) const {
    for (std::size_t k = next_ + 1; k < chained_.size(); ++k) {
      const Entry& later = entries_[chained_[k]];
      if (later.link.prevSha256 == r.sha256 || r.link.prevSha256 == later.sha256) return true;
    }
    return false;
  }

  const Entry* LaterWithSeq(std::uint64_t seq) const {
    for (std::size_t k = next_ + 1; k < chained_.size(); ++k)
      if (*entries_[chained_[k]].link.seq == seq) return &entries_[chained_[k]];
    return nullptr;
  }

  void Note(LogFinding finding, std::uint64_t line, std::uint64_t other, std::string text) {
    EndOlderRecords();
    result_.notes.push_back({finding, line, other, std::move(text)});
  }

  bool Tampered(LogFinding finding, std::uint64_t line, std::uint64_t other, std::string text) {
    Note(finding, line, other, std::move(text));
    result_.intact = false;
    return false;
  }

  // Older records are told as runs.
  void EndOlderRecords() {
    if (olderCount_ == 0) return;
    const std::uint64_t count = olderCount_;
    olderCount_ = 0;
    const std::string what = " of plcburn before the chain (no seq), not covered by it";
    result_.notes.push_back({LogFinding::OlderRecords, olderFirst_, olderLast_,
                             count == 1 ? "line " + N(olderFirst_) + ": a record" + what
                                        : "lines " + N(olderFirst_) + "-" + N(olderLast_) + ": " +
                                              N(count) + " records" + what});
  }

  const std::vector<Entry> entries_;
  std::vector<std::size_t> chained_;  // indices of the chained records in entries_
  std::size_t next_ = 0;              // the next chained record to check, in chained_
  std::uint64_t olderCount_ = 0, olderFirst_ = 0, olderLast_ = 0;
  LogCheck result_;
};

}  // namespace

LogCheck CheckBurnLog(std::istream& log) {
  std::vector<Entry> entries;
  std::streambuf& in = *log.rdbuf();
  Line line;
  for (std::uint64_t number = 1; ReadLine(in, line); ++number) {
    if (line.text.empty() && !line.tooLong) continue;
    const LineLink link = line.tooLong ? LineLink{LineKind::NotARecord, {}} : ReadLink(line.text);
    entries.push_back({number, link.kind, link.link,
                       link.kind == LineKind::Chained ? LineSha256(line.text) : "", line.ended});
  }
  return Checker(std::move(entries)).Run();
}

}  // namespace plcburn
