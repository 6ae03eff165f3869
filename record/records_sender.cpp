#include "record/records_sender.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "record/records_db_connection.h"
#include "record/unsent_records.h"

namespace plcburn {

using Clock = std::chrono::steady_clock;

// Shared by the sender and its thread, so that a thread stuck in the system (a host name's
// lookup) may be left behind when the sender goes.
struct RecordsSender::State {
  State(std::filesystem::path l, std::string u, Say s, Timing t)
      : log(std::move(l)), url(std::move(u)), say(std::move(s)), timing(t) {}
  ~State() {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void Wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
  }
  void Run();
  bool SendAll(UnsentRecords& unsent, RecordsDbConnection& db, std::string& why);
  void Publish(const UnsentRecords& unsent, std::uint64_t seen);
  void Failed(std::uint64_t seen, const std::string& why, std::uint64_t waiting);
  void Said(const std::string& line);

  const std::filesystem::path log;
  const std::string url;
  const Say say;
  const Timing timing;
  int wakeFd = -1;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> unsentCount{0};
  // Calls of RecordWritten and WaitAllSent, and the start: a refresh or a try that began after
  // one has seen what it asked for.
  std::atomic<std::uint64_t> asked{1};

  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t refreshedAfter = 0;  // `asked` as it was before the last refresh
  std::uint64_t failedAfter = 0;     // the same, before the last failed try
  bool finished = false;

  // The sender's thread alone.
  std::optional<Clock::time_point> failureSaid;  // when a failure was last said
  bool failing = false;  // since a failure that was said, and no success after it
  std::uint64_t sentSinceFailing = 0;

  // Whoever hears `say` may be gone once the sender is.
  std::mutex sayMutex;
  bool mayTalk = true;
};

namespace {

// The server refuses this record itself, whatever it is asked again (a value no column takes, a
// constraint the plant added): waiting would hold up every record after it for ever.
bool RefusesTheRecord(const std::string& sqlState) {
  return sqlState.starts_with("22") || sqlState.starts_with("23");
}

}  // namespace

RecordsSender::RecordsSender(std::filesystem::path log, std::string url, Say say, Timing timing)
    : state_(std::make_shared<State>(std::move(log), std::move(url), std::move(say), timing)) {
  state_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::thread([state = state_] { state->Run(); }).detach();
}

RecordsSender::~RecordsSender() {
  state_->stop = true;
  state_->Wake();
  // Every wait of the thread is cut short by the wake-up; only a host name's lookup, inside
  // libpq, is not. The thread keeps the state alive while it finishes that alone.
  {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait_for(lock, std::chrono::seconds(2), [this] { return state_->finished; });
  }
  std::lock_guard lock(state_->sayMutex);
  state_->mayTalk = false;
}

void RecordsSender::RecordWritten() {
  ++state_->asked;
  state_->Wake();
}

std::uint64_t RecordsSender::Unsent() const {
  return state_->unsentCount.load();
}

std::function<std::uint64_t()> RecordsSender::UnsentCount() const {
  return [state = state_] { return state->unsentCount.load(); };
}

bool RecordsSender::WaitAllSent(std::chrono::milliseconds limit) {
  const std::uint64_t asked = ++state_->asked;
  state_->Wake();
  std::unique_lock lock(state_->mutex);
  bool sent = false;
  state_->changed.wait_for(lock, limit, [&] {
    sent = state_->refreshedAfter >= asked && state_->unsentCount.load() == 0;
    return sent || state_->failedAfter >= asked || state_->finished;
  });
  return sent;
}

void RecordsSender::State::Publish(const UnsentRecords& unsent, std::uint64_t seen) {
  unsentCount = unsent.Count();
  {
    std::lock_guard lock(mutex);
    refreshedAfter = std::max(refreshedAfter, seen);
  }
  changed.notify_all();
}

void RecordsSender::State::Said(const std::string& line) {
  std::lock_guard lock(sayMutex);
  if (say && mayTalk) say(line);
}

// Said at once, then at most once every sayEvery, however often the database comes and goes.
void RecordsSender::State::Failed(std::uint64_t seen, const std::string& why,
                                  std::uint64_t waiting) {
  const auto now = Clock::now();
  if (!failureSaid || now - *failureSaid >= timing.sayEvery) {
    Said("cannot send burn records to the records database: " + why + "; " +
         std::to_string(waiting) + (waiting == 1 ? " record waits" : " records wait") +
         " in the burn log");
    failureSaid = now;
    failing = true;
    sentSinceFailing = 0;
  }
  {
    std::lock_guard lock(mutex);
    failedAfter = std::max(failedAfter, seen);
  }
  changed.notify_all();
}

void RecordsSender::State::Run() {
  UnsentRecords unsent(log);
  std::string why;
  // A record written while the database is being waited for is counted at once.
  RecordsDbConnection db(wakeFd, [&] {
    std::string error;
    const std::uint64_t seen = asked.load();
    if (unsent.CountNew(error)) Publish(unsent, seen);
    return !stop.load();
  });
  Clock::time_point nextTry = Clock::time_point::min();
  while (!stop.load()) {
    const std::uint64_t seen = asked.load();
    why.clear();
    const bool read = unsent.Refresh(why);
    Publish(unsent, seen);
    if (!read) {
      Failed(seen, why, unsent.Count());
      nextTry = Clock::now() + timing.retry;
    } else if (unsent.Count() > 0 && Clock::now() >= nextTry) {
      if (SendAll(unsent, db, why)) {
        nextTry = Clock::time_point::min();
        if (failing && unsent.Count() == 0) {
          Said("the records database takes burn records again: " +
               std::to_string(sentSinceFailing) + " sent that waited");
          failing = false;
        }
        continue;  // records written meanwhile are read at once
      }
      if (stop.load()) break;
      Failed(seen, why, unsent.Count());
      nextTry = Clock::now() + timing.retry;
    }
    // Asleep until a record is written, or the next try.
    int timeoutMs = -1;
    if (unsent.Count() > 0)
      timeoutMs = static_cast<int>(std::max<std::int64_t>(
          0, std::chrono::ceil<std::chrono::milliseconds>(nextTry - Clock::now()).count()));
    pollfd wake{wakeFd, POLLIN, 0};
    if (::poll(&wake, 1, timeoutMs) > 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof count);
    }
  }
  db.Close();
  {
    std::lock_guard lock(mutex);
    finished = true;
  }
  changed.notify_all();
}

// Every record the log holds that the database lacks, in order, on one connection. False, with
// the reason, at the first the database does not take.
bool RecordsSender::State::SendAll(UnsentRecords& unsent, RecordsDbConnection& db,
                                   std::string& reason) {
  const auto limit = timing.wait;
  if (!db.Connect(url, limit)) {
    reason = db.Error();
    return false;
  }
  // Made only where it is missing: a role that may only insert and select cannot make it.
  const auto there = db.Exec(kBurnsTableThere, {}, limit);
  if (!there.ok) {
    reason = there.error;
    db.Close();
    return false;
  }
  if (there.rows.empty() || there.rows[0].empty() || there.rows[0][0] != "t") {
    const auto made = db.Exec(kCreateBurnsTable, {}, limit);
    if (!made.ok) {
      reason = "cannot make the table plcburn_burns: " + made.error;
      db.Close();
      return false;
    }
  }
  while (const UnsentRecord* next = unsent.Next()) {
    const auto inserted =
        db.Exec(kInsertBurn, RecordParameters(next->sha256, next->line, next->record), limit);
    if (!inserted.ok && !RefusesTheRecord(inserted.sqlState)) {
      reason = inserted.error;
      db.Close();
      return false;
    }
    if (!inserted.ok) {
      // Kept in the log, where it stays: the database will never take it.
      Said("the records database refuses the burn record " + next->sha256 + " (" +
           next->record.value("start", "") + "): " + inserted.error +
           "; it stays in the burn log "
           "only");
    }
    std::string error;
    if (!unsent.Acknowledge(error)) Said(error);
    if (inserted.ok) ++sentSinceFailing;
    const std::uint64_t seen = asked.load();
    if (!unsent.Refresh(error)) {
      reason = error;
      db.Close();
      return false;
    }
    Publish(unsent, seen);
    if (stop.load()) break;
  }
  db.Close();
  return true;
}

}  // namespace plcburn
