#pragma once
// Sends the records of a burn log to the plant's records database, on a thread of its own: a
// burn only wakes it once its record is in the log, and never waits for the database. Records
// the database has not taken yet (it refused the connection, dropped it, is read-only, the
// station was restarted) wait in the log, and are sent once it takes them again, in the log's
// order, each keyed by its line's SHA-256 so that a record sent twice is kept once.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace plcburn {

class RecordsSender {
 public:
  using Say = std::function<void(const std::string& line)>;
  struct Timing {
    std::chrono::milliseconds retry{5000};      // after a failure, the next try
    std::chrono::milliseconds wait{30000};      // the most one exchange with the database may take
    std::chrono::milliseconds sayEvery{60000};  // failures are said at most this often
  };

  // Starts at once with what the log holds that the database lacks. `say` hears why records
  // wait (at most once every `sayEvery`) and when they are sent again; it is called on the
  // sender's thread.
  RecordsSender(std::filesystem::path log, std::string url, Say say, Timing timing);
  RecordsSender(std::filesystem::path log, std::string url, Say say)
      : RecordsSender(std::move(log), std::move(url), std::move(say), Timing{}) {}
  // Stops at once, whatever the database does: what was not sent waits in the log.
  ~RecordsSender();
  RecordsSender(const RecordsSender&) = delete;
  RecordsSender& operator=(const RecordsSender&) = delete;

  // A record was written to the log. Returns at once.
  void RecordWritten();
  // Records in the log that the database has not acknowledged.
  std::uint64_t Unsent() const;
  // The same, for whoever may ask after the sender is gone (a metrics scrape).
  std::function<std::uint64_t()> UnsentCount() const;
  // Until every record written before the call is acknowledged (true), or a try to send them
  // that began after the call failed, or `limit` passed (false).
  bool WaitAllSent(std::chrono::milliseconds limit);

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace plcburn
