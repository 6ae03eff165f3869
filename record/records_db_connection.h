#pragma once
// One connection to the records database through libpq, driven without blocking: every wait for
// the server has a bound, and a wake-up descriptor interrupts it, so that whoever waits on the
// database can still hear that there is more to do, or that it must stop.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "record/records_db_text.h"

struct pg_conn;

namespace plcburn {

class RecordsDbConnection {
 public:
  // When `wakeFd` (an eventfd, or -1 for none) becomes readable during a wait, it is drained and
  // `onWake` called: the wait goes on if it returns true, and gives up if it returns false.
  explicit RecordsDbConnection(int wakeFd = -1, std::function<bool()> onWake = {});
  ~RecordsDbConnection();
  RecordsDbConnection(const RecordsDbConnection&) = delete;
  RecordsDbConnection& operator=(const RecordsDbConnection&) = delete;

  // Connects to `url` (a libpq connection string or URL), taking at most `limit`. False, with
  // the reason in Error(), when it could not.
  bool Connect(const std::string& url, std::chrono::milliseconds limit);
  void Close();
  bool Connected() const { return conn_ != nullptr; }

  struct Result {
    bool ok = false;
    std::string error;     // on one line
    std::string sqlState;  // the server's code for the error, empty when it gave none
    std::vector<std::vector<std::optional<std::string>>> rows;  // of the first result with rows
  };
  // Runs `sql` with its parameters as text, taking at most `limit`. A failure that leaves the
  // connection unusable closes it.
  Result Exec(const char* sql, const SqlParameters& parameters, std::chrono::milliseconds limit);

  const std::string& Error() const { return error_; }

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  bool Await(short events, Deadline deadline, std::chrono::milliseconds limit);
  Result Fail(const std::string& why);

  const int wakeFd_;
  const std::function<bool()> onWake_;
  pg_conn* conn_ = nullptr;
  std::string error_;
};

}  // namespace plcburn
