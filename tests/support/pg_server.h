#pragma once
// A PostgreSQL server of the test's own: a cluster made in a temporary folder by Debian's
// initdb, listening on a socket in that folder only (no TCP), stopped and removed with the
// object. Run as root, the server runs as nobody, which it insists on.

#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace plcburn::test {

class PgServer {
 public:
  // The folder of Debian's server programs, or empty when none is installed.
  static std::filesystem::path Programs() {
    std::error_code ec;
    std::filesystem::path newest;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
      const auto bin = entry.path() / "bin";
      if (std::filesystem::exists(bin / "initdb") && std::filesystem::exists(bin / "pg_ctl") &&
          bin > newest)
        newest = bin;
    }
    return newest;
  }

  PgServer() : bin_(Programs()) {
    char folder[] = "/tmp/plcburn-pg-XXXXXX";
    if (::mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = folder;
    if (::geteuid() == 0) {
      as_ = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
      Run("chown nobody:nogroup " + dir_.string());
    }
    Run(as_ + (bin_ / "initdb").string() + " -D " + (dir_ / "data").string() +
        " -U plcburn --auth=trust -E UTF8 --no-sync >" + (dir_ / "initdb.log").string() + " 2>&1");
    Start();
  }
  ~PgServer() {
    std::system((as_ + (bin_ / "pg_ctl").string() + " -D " + (dir_ / "data").string() +
                 " -m immediate -w stop >/dev/null 2>&1")
                    .c_str());
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // No fsync: the test's data need not outlive a power loss.
  void Start() {
    Run(as_ + (bin_ / "pg_ctl").string() + " -D " + (dir_ / "data").string() + " -l " +
        (dir_ / "server.log").string() + " -w -t 60 -o \"-k " + dir_.string() +
        " -c listen_addresses='' -F\" start >/dev/null");
  }
  void Stop() {
    Run(as_ + (bin_ / "pg_ctl").string() + " -D " + (dir_ / "data").string() +
        " -m fast -w -t 60 stop >/dev/null");
  }

  std::string Url(const std::string& database, const std::string& user = "plcburn") const {
    return "host=" + dir_.string() + " dbname=" + database + " user=" + user;
  }

  // Runs `sql` as the superuser; the rows of its last result, each column as text ("" for NULL).
  // Throws with the server's message when it fails.
  std::vector<std::vector<std::string>> Sql(const std::string& database,
                                            const std::string& sql) const {
    PGconn* conn = PQconnectdb(Url(database).c_str());
    PGresult* result = PQexec(conn, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    std::vector<std::vector<std::string>> rows;
    std::string error;
    if (status == PGRES_TUPLES_OK) {
      for (int r = 0; r < PQntuples(result); ++r) {
        rows.emplace_back();
        for (int c = 0; c < PQnfields(result); ++c) rows.back().push_back(PQgetvalue(result, r, c));
      }
    } else if (status != PGRES_COMMAND_OK) {
      const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
      error = std::string(state != nullptr ? state : "") + " " + PQerrorMessage(conn);
    }
    PQclear(result);
    PQfinish(conn);
    if (!error.empty()) throw std::runtime_error(error);
    return rows;
  }

 private:
  static void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  }

  std::filesystem::path bin_;
  std::filesystem::path dir_;
  std::string as_;
};

}  // namespace plcburn::test
