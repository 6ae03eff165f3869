// Burn records sent to a real PostgreSQL server that the test starts, stops and restricts.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "record/burn_log.h"
#include "record/burn_log_chain.h"
#include "record/log_then_send.h"
#include "record/records_db_history.h"
#include "record/records_db_text.h"
#include "record/records_sender.h"
#include "record/sent_mark.h"
#include "tests/support/pg_server.h"
#include "tests/support/sim_bench.h"

namespace plcburn {
namespace {

using namespace std::chrono_literals;
using test::PgServer;

constexpr std::uint64_t kWallBase = 1772352902345;  // 2026-03-01T08:15:02.345Z
constexpr auto kBound = std::chrono::milliseconds(20000);
// Quick retries, so that a test waits for the database, not for the sender.
const RecordsSender::Timing kTiming{100ms, 5000ms, 60000ms};

PgServer* server = nullptr;

template <typename Check>
bool WaitUntil(std::chrono::milliseconds limit, Check check) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!check()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// One burn of a QN4 on the in-process simulator; its record goes to `journal`.
void Burn(BurnJournal& journal, const std::string& serial, std::uint64_t minute) {
  testing::Bench b("QN4", 2048);
  RecordFacts facts{"station-7", "QN4_v2.bin", std::string(64, 'c')};
  facts.serial = serial;
  facts.slot = "/dev/ttyUSB*";
  const std::uint64_t wall = kWallBase + minute * 60000;
  BurnRecording recording{journal, facts, [&b] { return b.clock.NowMs(); },
                          [&b, wall] { return wall + b.clock.NowMs(); }};
  b.Run(nullptr, nullptr, &recording);
}

// The database set-up of docs/station.md: the table made by the plant, and a role for the
// stations that may only insert and select.
std::string GuidesSetUp() {
  std::ifstream guide(std::string(PLCBURN_SOURCE_DIR) + "/docs/station.md");
  std::string text((std::istreambuf_iterator<char>(guide)), std::istreambuf_iterator<char>());
  const std::size_t table = text.find("CREATE TABLE plcburn_burns");
  const std::size_t start = text.rfind("```sql\n", table);
  const std::size_t end = text.find("```", table);
  if (table == std::string::npos || start == std::string::npos || end == std::string::npos)
    throw std::runtime_error("docs/station.md sets no database up");
  return text.substr(start + 7, end - start - 7);
}

// What a sender says, as its station's log would get it.
struct Said {
  std::mutex mutex;
  std::vector<std::string> lines;
  RecordsSender::Say Hear() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex);
      lines.push_back(line);
    };
  }
  std::string All() {
    std::lock_guard lock(mutex);
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
  }
  std::size_t Count(const std::string& part) {
    std::lock_guard lock(mutex);
    std::size_t n = 0;
    for (const std::string& line : lines) n += line.find(part) != std::string::npos;
    return n;
  }
};

class RecordsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!PgServer::Programs().empty()) server = new PgServer();
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override {
    if (server == nullptr)
      GTEST_SKIP() << "no PostgreSQL server programs in /usr/lib/postgresql (apt-get install "
                      "postgresql)";
  }
  void TearDown() override {
    for (const auto& folder : folders_) std::filesystem::remove_all(folder);
  }

  // A database and a burn log of their own.
  void Fresh(const std::string& name) {
    db_ = name;
    server->Sql("postgres", "CREATE DATABASE " + db_);
    folder_ = std::filesystem::temp_directory_path() / ("plcburn-records-db-" + name);
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    folders_.push_back(folder_);
    log_.emplace(folder_ / "burns.jsonl");
  }
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> column;
    for (const auto& row : server->Sql(db_, sql)) column.push_back(row.at(0));
    return column;
  }
  std::size_t Rows() { return std::stoul(Column("SELECT count(*) FROM plcburn_burns").at(0)); }
  // The keys of the log's records, in the log's order.
  std::vector<std::string> LogKeys() {
    std::vector<std::string> keys;
    std::ifstream in(log_->Path());
    for (std::string line; std::getline(in, line);) keys.push_back(LineSha256(line));
    return keys;
  }

  std::string db_;
  std::filesystem::path folder_;
  std::vector<std::filesystem::path> folders_;
  std::optional<BurnLog> log_;
};

TEST_F(RecordsDb, RecordsArriveOnceInOrderUnderTheirKey) {
  Fresh("arrive");
  Said said;
  {
    RecordsSender sender(log_->Path(), server->Url(db_), said.Hear(), kTiming);
    LogThenSend journal(*log_, [&] { sender.RecordWritten(); });
    const auto kept = std::chrono::steady_clock::now();
    Burn(journal, "4711-0001", 0);
    // The first also makes the table.
    ASSERT_TRUE(WaitUntil(kBound, [&] {
      return !Column("SELECT to_regclass('plcburn_burns')").at(0).empty() && Rows() == 1;
    }));
    const auto arrived = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - kept);
    std::cout << "first record in the database, its table made, " << arrived.count()
              << " ms after its burn began\n";
    const auto next = std::chrono::steady_clock::now();
    Burn(journal, "4711-0002", 1);
    Burn(journal, "4711-0003", 2);
    EXPECT_TRUE(sender.WaitAllSent(kBound));
    std::cout << "two more in the database "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - next)
                     .count()
              << " ms after their burns began\n";
    EXPECT_EQ(sender.Unsent(), 0u);
  }
  const std::vector<std::string> keys = LogKeys();
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(Column("SELECT id FROM plcburn_burns ORDER BY (record->>'seq')::int"), keys);
  EXPECT_EQ(Column("SELECT concat_ws('|', serial, model, host, slot, start, result, "
                   "record->'image'->>'name') FROM plcburn_burns ORDER BY start"),
            (std::vector<std::string>{
                "4711-0001|QN4|station-7|/dev/ttyUSB*|2026-03-01 08:15:02.345+00|ok|QN4_v2.bin",
                "4711-0002|QN4|station-7|/dev/ttyUSB*|2026-03-01 08:16:02.345+00|ok|QN4_v2.bin",
                "4711-0003|QN4|station-7|/dev/ttyUSB*|2026-03-01 08:17:02.345+00|ok|QN4_v2.bin"}));
  EXPECT_EQ(ReadSentMark(SentMarkPath(log_->Path()))->records, 3u);
  EXPECT_EQ(said.Count(""), 0u) << said.All();

  // The key refuses a second row for a record.
  try {
    server->Sql(db_, "INSERT INTO plcburn_burns SELECT * FROM plcburn_burns LIMIT 1");
    ADD_FAILURE() << "a record went in twice";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, 5), "23505") << e.what();
  }
  // A station that lost its mark sends every record again: each is still there once.
  std::filesystem::remove(SentMarkPath(log_->Path()));
  {
    RecordsSender again(log_->Path(), server->Url(db_), said.Hear(), kTiming);
    EXPECT_TRUE(again.WaitAllSent(kBound));
  }
  EXPECT_EQ(Rows(), 3u);
  EXPECT_EQ(said.Count(""), 0u) << "a record sent again is no error: " << said.All();

  // --history from the database: the same rows as from the log.
  const struct {
    HistoryQuery query;
    std::vector<std::string> serials;
  } histories[] = {
      {{}, {"4711-0003", "4711-0002", "4711-0001"}},
      {{"4711-0002", {}}, {"4711-0002"}},
      {{"", kWallBase + 60000}, {"4711-0003", "4711-0002"}},
      {{"4711-0001", kWallBase + 60000}, {}},
  };
  for (const auto& h : histories) {
    std::vector<HistoryEntry> entries;
    EXPECT_EQ(ReadHistoryFromDb(server->Url(db_), h.query, entries), "");
    std::vector<std::string> serials;
    for (const HistoryEntry& e : entries) serials.push_back(e.record["plc"]["serial"]);
    EXPECT_EQ(serials, h.serials) << h.query.serial;
  }
}

// While the database cannot take records the burns go on, the records wait (and say so, once),
// then all arrive, once each and in order.
TEST_F(RecordsDb, RecordsWaitWhileTheDatabaseCannotTakeThemThenArriveOnceInOrder) {
  using Step = std::function<void(const std::string& db)>;
  const Step none = [](const std::string&) {};
  const struct {
    const char* name;
    Step before, fault, mend;
    std::string user = "plcburn";
    bool stationRestarts = false;
  } cases[] = {
      {"server_stopped", none, [](const std::string&) { server->Stop(); },
       [](const std::string&) { server->Start(); }},
      {"server_stopped_station_restarted", none, [](const std::string&) { server->Stop(); },
       [](const std::string&) { server->Start(); }, "plcburn", true},
      {"read_only", none,
       [](const std::string& db) {
         server->Sql("postgres",
                     "ALTER DATABASE " + db + " SET default_transaction_read_only = on");
       },
       [](const std::string& db) {
         server->Sql("postgres", "ALTER DATABASE " + db + " RESET default_transaction_read_only");
       }},
      // A role that may only insert and select, set up as the station's guide says.
      {"insert_and_select_only", [](const std::string& db) { server->Sql(db, GuidesSetUp()); },
       [](const std::string& db) {
         server->Sql(db, "REVOKE INSERT ON plcburn_burns FROM station");
       },
       [](const std::string& db) { server->Sql(db, "GRANT INSERT ON plcburn_burns TO station"); },
       "station"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh(c.name);
    c.before(db_);
    Said said;
    auto sender = std::make_unique<RecordsSender>(log_->Path(), server->Url(db_, c.user),
                                                  said.Hear(), kTiming);
    LogThenSend journal(*log_, [&] {
      if (sender) sender->RecordWritten();
    });
    Burn(journal, "4711-0001", 0);
    ASSERT_TRUE(sender->WaitAllSent(kBound)) << said.All();
    c.fault(db_);
    for (std::uint64_t minute : {1, 2, 3})
      Burn(journal, "4711-000" + std::to_string(minute + 1), minute);
    ASSERT_TRUE(WaitUntil(kBound, [&] {
      return sender->Unsent() == 3 && said.Count("cannot send burn records") > 0;
    })) << sender->Unsent();
    // Tries go on; the reason is said once a minute at most.
    std::this_thread::sleep_for(kTiming.retry * 3);
    EXPECT_EQ(said.Count("cannot send burn records"), 1u);
    EXPECT_EQ(said.Count("in the burn log"), 1u) << said.All();
    if (c.stationRestarts) sender.reset();
    c.mend(db_);
    if (c.stationRestarts)
      sender = std::make_unique<RecordsSender>(log_->Path(), server->Url(db_, c.user), said.Hear(),
                                               kTiming);
    ASSERT_TRUE(sender->WaitAllSent(kBound)) << sender->Unsent();
    EXPECT_EQ(Column("SELECT id FROM plcburn_burns ORDER BY (record->>'seq')::int"), LogKeys());
    EXPECT_EQ(Column("SELECT serial FROM plcburn_burns ORDER BY start"),
              (std::vector<std::string>{"4711-0001", "4711-0002", "4711-0003", "4711-0004"}));
    if (!c.stationRestarts) {
      EXPECT_TRUE(WaitUntil(kBound, [&] { return said.Count("3 sent that waited") == 1; }))
          << said.All();
    }
    sender.reset();
  }
}

}  // namespace
}  // namespace plcburn
