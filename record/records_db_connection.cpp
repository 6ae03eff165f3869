#include "record/records_db_connection.h"

#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace plcburn {

namespace {

using Clock = std::chrono::steady_clock;

std::string Duration(std::chrono::milliseconds d) {
  return d.count() % 1000 == 0 ? std::to_string(d.count() / 1000) + " s"
                               : std::to_string(d.count()) + " ms";
}

}  // namespace

RecordsDbConnection::RecordsDbConnection(int wakeFd, std::function<bool()> onWake)
    : wakeFd_(wakeFd), onWake_(std::move(onWake)) {}

RecordsDbConnection::~RecordsDbConnection() {
  Close();
}

void RecordsDbConnection::Close() {
  if (conn_ != nullptr) PQfinish(conn_);
  conn_ = nullptr;
}

// Until the connection's socket is ready for `events`: false, with the reason in error_, when
// the deadline passes first, or a wake-up says to give up.
bool RecordsDbConnection::Await(short events, Deadline deadline, std::chrono::milliseconds limit) {
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
      error_ = "no answer from the records database within " + Duration(limit);
      return false;
    }
    pollfd fds[2] = {{PQsocket(conn_), events, 0}, {wakeFd_, POLLIN, 0}};
    const int timeoutMs =
        static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    const int ready = ::poll(fds, wakeFd_ >= 0 ? 2 : 1, timeoutMs);
    if (ready < 0 && errno != EINTR) {
      error_ = "cannot wait for the records database: " + std::generic_category().message(errno);
      return false;
    }
    if (ready > 0 && wakeFd_ >= 0 && (fds[1].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
      if (onWake_ && !onWake_()) {
        error_ = "stopped";
        return false;
      }
    }
    if (ready > 0 && fds[0].revents != 0) return true;
  }
}

bool RecordsDbConnection::Connect(const std::string& url, std::chrono::milliseconds limit) {
  Close();
  const Deadline deadline = Clock::now() + limit;
  // The URL's own settings win over these, which come before it.
  const char* const keys[] = {"application_name", "dbname", nullptr};
  const char* const values[] = {"plcburn", url.c_str(), nullptr};
  conn_ = PQconnectStartParams(keys, values, 1);
  if (conn_ == nullptr) {
    error_ = "libpq has no memory left to connect";
    return false;
  }
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (PQstatus(conn_) != CONNECTION_BAD && status != PGRES_POLLING_OK &&
         status != PGRES_POLLING_FAILED) {
    if (!Await(status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline, limit)) {
      Close();
      return false;
    }
    status = PQconnectPoll(conn_);
  }
  if (PQstatus(conn_) != CONNECTION_OK || PQsetnonblocking(conn_, 1) != 0) {
    error_ = OneLine(PQerrorMessage(conn_));
    Close();
    return false;
  }
  return true;
}

RecordsDbConnection::Result RecordsDbConnection::Fail(const std::string& why) {
  error_ = why;
  Close();
  return {false, why, "", {}};
}

RecordsDbConnection::Result RecordsDbConnection::Exec(const char* sql,
                                                      const SqlParameters& parameters,
                                                      std::chrono::milliseconds limit) {
  if (conn_ == nullptr) return {false, "not connected", "", {}};
  const Deadline deadline = Clock::now() + limit;
  std::vector<const char*> values;
  for (const auto& p : parameters) values.push_back(p ? p->c_str() : nullptr);
  // Without parameters, several commands may go at once (the table and its indexes).
  const int sent = values.empty() ? PQsendQuery(conn_, sql)
                                  : PQsendQueryParams(conn_, sql, static_cast<int>(values.size()),
                                                      nullptr, values.data(), nullptr, nullptr, 0);
  if (sent == 0) return Fail(OneLine(PQerrorMessage(conn_)));
  for (int flushed; (flushed = PQflush(conn_)) != 0;) {
    if (flushed < 0) return Fail(OneLine(PQerrorMessage(conn_)));
    if (!Await(POLLIN | POLLOUT, deadline, limit)) return Fail(error_);
    if (PQconsumeInput(conn_) == 0) return Fail(OneLine(PQerrorMessage(conn_)));
  }
  Result result{true, "", "", {}};
  bool rowsTaken = false;
  for (;;) {
    while (PQisBusy(conn_) != 0) {
      if (!Await(POLLIN, deadline, limit)) return Fail(error_);
      if (PQconsumeInput(conn_) == 0) return Fail(OneLine(PQerrorMessage(conn_)));
    }
    PGresult* answer = PQgetResult(conn_);
    if (answer == nullptr) break;
    const ExecStatusType status = PQresultStatus(answer);
    if (status == PGRES_TUPLES_OK && !rowsTaken) {
      rowsTaken = true;
      for (int row = 0; row < PQntuples(answer); ++row) {
        auto& cells = result.rows.emplace_back();
        for (int column = 0; column < PQnfields(answer); ++column)
          cells.push_back(PQgetisnull(answer, row, column) != 0
                              ? std::nullopt
                              : std::optional<std::string>(PQgetvalue(answer, row, column)));
      }
    } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && result.ok) {
      result.ok = false;
      // The server's own words without the query it quotes; libpq's whole message otherwise.
      const char* primary = PQresultErrorField(answer, PG_DIAG_MESSAGE_PRIMARY);
      result.error = OneLine(primary != nullptr ? primary : PQresultErrorMessage(answer));
      const char* state = PQresultErrorField(answer, PG_DIAG_SQLSTATE);
      result.sqlState = state != nullptr ? state : "";
    }
    PQclear(answer);
  }
  if (PQstatus(conn_) == CONNECTION_BAD) {
    Result failed = Fail(result.error.empty() ? OneLine(PQerrorMessage(conn_)) : result.error);
    failed.sqlState = result.sqlState;
    return failed;
  }
  if (!result.ok) error_ = result.error;
  return result;
}

}  // namespace plcburn
