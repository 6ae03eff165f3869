#include "record/unsent_records.h"

#include <cerrno>
#include <system_error>

#include "record/burn_history.h"
#include "record/burn_log_chain.h"

namespace plcburn {

namespace {
constexpr std::size_t kBlock = 64 * 1024;
}  // namespace

UnsentRecords::UnsentRecords(std::filesystem::path log, std::size_t queueLimit)
    : log_(std::move(log)), markPath_(SentMarkPath(log_)), queueLimit_(queueLimit) {}

bool UnsentRecords::Open(std::ifstream& in, std::uint64_t& size, std::string& error) const {
  in.open(log_, std::ios::binary);
  if (!in.is_open()) {
    const int why = errno;
    std::error_code ec;
    if (!std::filesystem::exists(log_, ec) && !ec) return false;  // nothing written yet
    error =
        "cannot read the burn log " + log_.string() + ": " + std::generic_category().message(why);
    return false;
  }
  in.seekg(0, std::ios::end);
  size = static_cast<std::uint64_t>(in.tellg());
  return true;
}

bool UnsentRecords::Refresh(std::string& error) {
  std::ifstream in;
  std::uint64_t size = 0;
  if (!Open(in, size, error)) return error.empty();
  if (!started_) Start(in, size);
  if (!StillTheSameLog(in, size)) Reset();
  Fill(in);
  Scan(in, true);
  return true;
}

bool UnsentRecords::CountNew(std::string& error) {
  std::ifstream in;
  std::uint64_t size = 0;
  if (!Open(in, size, error)) return error.empty();
  if (started_ && size >= scanned_) Scan(in, false);
  return true;
}

// From the mark, when it names a line of this log; else from the log's start.
void UnsentRecords::Start(std::ifstream& in, std::uint64_t size) {
  started_ = true;
  const std::optional<SentMark> mark = ReadSentMark(markPath_);
  if (!mark || mark->end == 0) return;
  queuedTo_ = scanned_ = mark->end;
  last_ = {mark->end, mark->length, mark->lineSha256};
  mark_ = *mark;
  if (!StillTheSameLog(in, size)) Reset();
}

bool UnsentRecords::StillTheSameLog(std::ifstream& in, std::uint64_t size) {
  if (size < scanned_) return false;
  if (last_.length == 0) return true;
  std::string line(last_.length, '\0');
  in.clear();
  in.seekg(static_cast<std::streamoff>(last_.end - last_.length));
  if (!in.read(line.data(), static_cast<std::streamsize>(line.size())) || !line.ends_with('\n'))
    return false;
  line.pop_back();
  return LineSha256(line) == last_.sha256;
}

void UnsentRecords::Reset() {
  mark_ = {};
  queue_.clear();
  queuedTo_ = scanned_ = beyond_ = 0;
  last_ = {};
}

// Whole lines of [from, to) (to the end for `to` 0), each given with where it ends, until
// `take` says no more. Returns where the last line given ends.
std::uint64_t UnsentRecords::ReadLines(std::ifstream& in, std::uint64_t from, std::uint64_t to,
                                       const TakeLine& take) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(from));
  std::string pending;
  std::uint64_t at = from;  // where `pending` starts
  char block[kBlock];
  while (to == 0 || at + pending.size() < to) {
    in.read(block, static_cast<std::streamsize>(kBlock));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    pending.append(block, got);
    std::size_t start = 0;
    for (std::size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
      const std::uint64_t end = at + nl + 1;
      if (to != 0 && end > to) return at + start;
      std::string line = pending.substr(start, nl - start);
      if (!take(line, end)) return end;
    }
    pending.erase(0, start);
    at += start;
  }
  return at;
}

bool UnsentRecords::SendableRecord(std::string line, std::uint64_t end, UnsentRecord& into) {
  std::optional<HistoryEntry> entry = HistoryEntryOf(line, {});
  if (!entry) return false;
  into.sha256 = LineSha256(line);
  into.line = std::move(line);
  into.record = std::move(entry->record);
  into.end = end;
  return true;
}

// The records counted past the queue, into it, as far as it has room.
void UnsentRecords::Fill(std::ifstream& in) {
  if (queuedTo_ >= scanned_ || queue_.size() >= queueLimit_) return;
  ReadLines(in, queuedTo_, scanned_, [this](std::string& line, std::uint64_t end) {
    UnsentRecord record;
    if (SendableRecord(std::move(line), end, record)) {
      queue_.push_back(std::move(record));
      --beyond_;
    }
    queuedTo_ = end;
    return queue_.size() < queueLimit_;
  });
}

void UnsentRecords::Scan(std::ifstream& in, bool mayQueue) {
  ReadLines(in, scanned_, 0, [&](std::string& line, std::uint64_t end) {
    last_ = {end, line.size() + 1, LineSha256(line)};
    const bool caughtUp = queuedTo_ == scanned_;
    scanned_ = end;
    UnsentRecord record;
    if (SendableRecord(std::move(line), end, record)) {
      if (mayQueue && caughtUp && queue_.size() < queueLimit_) {
        queue_.push_back(std::move(record));
        queuedTo_ = end;
      } else {
        ++beyond_;
      }
    } else if (caughtUp) {
      queuedTo_ = end;
    }
    return true;
  });
}

bool UnsentRecords::Acknowledge(std::string& error) {
  if (queue_.empty()) return true;
  const UnsentRecord& sent = queue_.front();
  mark_ = {sent.end, sent.line.size() + 1, mark_.records + 1, sent.sha256};
  queue_.pop_front();
  return WriteSentMark(markPath_, mark_, error);
}

}  // namespace plcburn
