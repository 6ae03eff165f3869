// Burn records read back: --history from burn logs, and what of a log the records database
// still lacks.

#include "record/burn_history.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "record/sent_mark.h"
#include "record/unsent_records.h"
#include "record/utc_time_text.h"

namespace plcburn {
namespace {

constexpr std::uint64_t kMar1 = 1772323200000;  // 2026-03-01T00:00:00Z

TEST(UtcTimeText, ReadsTheRecordsTimesAndDatesOnly) {
  const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
      {"2026-03-01", kMar1},
      {"2026-03-01T08:15", kMar1 + (8 * 60 + 15) * 60000},
      {"2026-03-01T08:15:02Z", kMar1 + (8 * 60 + 15) * 60000 + 2000},
      {"2026-03-01T08:15:02.345Z", kMar1 + (8 * 60 + 15) * 60000 + 2345},
      {"2028-02-29", 1835395200000},
      {"2026-02-29", std::nullopt},
      {"2026-3-1", std::nullopt},
      {"2026-03-01T24:00", std::nullopt},
      {"2026-03-01T08:15:02.34", std::nullopt},
      {"2026-03-01 08:15", std::nullopt},
      {"1969-12-31", std::nullopt},
      {"yesterday", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, ms] : cases) EXPECT_EQ(ParseUtcTime(text), ms) << text;
}

// A record line of the log: its start (minutes after 2026-03-01T08:00Z), serial and end.
std::string Line(int minute, const std::string& serial, const std::string& end = "ok",
                 const std::string& seq = R"("seq":1,"prev_sha256":null,)") {
  char start[32];
  std::snprintf(start, sizeof start, "2026-03-01T%02d:%02d:00.000Z", 8 + minute / 60, minute % 60);
  const bool ok = end == "ok";
  return R"({"schema":1,)" + seq + R"("start":")" + start +
         R"(","host":"line3","port":"ttyUSB0","slot":"/dev/ttyUSB*","model":"TR7-B",)" +
         R"("image":{"name":"TR7-B_v12.bin","size":3,"sha256":"fb15","signature":)" +
         (ok ? R"({"key_id":"FC31175C19F83329","trusted_comment":"x"})" : "null") +
         R"(},"result":{"ok":)" + (ok ? "true" : "false") + R"(,"step":")" + (ok ? "SendFW" : end) +
         R"(","text":")" + (ok ? "Firmware update is SUCCESSFUL" : "no") +
         R"(","stopped":false},"plc":{"serial":)" +
         (serial.empty() ? "null" : "\"" + serial + "\"") + "}}";
}

TEST(BurnHistory, NewestFirstFromEveryLogWhatTheQueryAsks) {
  const std::vector<std::string> station = {
      "{\"schema\":1,\"start\":\"2026-03-01T07:00:00.000Z\",\"plc\":{\"serial\":\"A\"}}",  // older
      Line(0, "A"),
      Line(5, "B", "SendErase_B", R"("seq":null,"prev_sha256":null,)"),
      R"({"note":"no record"})",
      "{\"schema\":1,\"start\":\"2026-03-01T08:0",  // cut by a power loss, then ended
      Line(20, "A", "image choice") + "\r",         // copied through Windows
      Line(30, ""),
      Line(40, "A").substr(0, 50),  // the last line, not written whole
  };
  const std::vector<std::string> bench = {Line(10, "A"), Line(30, "C")};
  const struct {
    const char* serial;
    std::uint64_t sinceMinute;                   // after 2026-03-01T08:00Z; 0 for none
    std::vector<std::string> serialsAndMinutes;  // newest first
  } cases[] = {
      {"", 0, {"C@30", "-@30", "A@20", "A@10", "B@5", "A@0", "A@-60"}},
      {"A", 0, {"A@20", "A@10", "A@0", "A@-60"}},
      {"", 10, {"C@30", "-@30", "A@20", "A@10"}},
      {"A", 11, {"A@20"}},
      {"D", 0, {}},
  };
  for (const auto& c : cases) {
    HistoryQuery query{c.serial, std::nullopt};
    if (c.sinceMinute != 0) query.sinceMs = kMar1 + 8 * 3600000 + c.sinceMinute * 60000;
    std::vector<HistoryEntry> entries;
    for (const auto* log : {&station, &bench}) {
      std::string text;
      for (const std::string& line : *log) text += line + "\n";
      text.pop_back();
      std::istringstream in(text);
      ReadHistory(in, query, entries);
    }
    NewestFirst(entries);
    std::vector<std::string> got;
    for (const HistoryEntry& e : entries) {
      const auto& serial = e.record["plc"]["serial"];
      got.push_back(
          (serial.is_null() ? std::string("-") : serial.get<std::string>()) + "@" +
          std::to_string((static_cast<std::int64_t>(e.startMs - kMar1) - 8 * 3600000) / 60000));
    }
    EXPECT_EQ(got, c.serialsAndMinutes) << c.serial << " since " << c.sinceMinute;
  }
  // The records as they were kept, and the table for people.
  std::vector<HistoryEntry> two;
  std::istringstream log(Line(0, "A") + "\n" + Line(5, "", "image choice") + "\n");
  ReadHistory(log, {}, two);
  NewestFirst(two);
  EXPECT_EQ(two.back().text, Line(0, "A"));
  EXPECT_EQ(HistoryTable(two),
            "START                     HOST   SLOT          MODEL  SERIAL  IMAGE          SHA-256  "
            "KEY               RESULT\n"
            "2026-03-01T08:05:00.000Z  line3  /dev/ttyUSB*  TR7-B  -       TR7-B_v12.bin  fb15     "
            "-                 REFUSED: no\n"
            "2026-03-01T08:00:00.000Z  line3  /dev/ttyUSB*  TR7-B  A       TR7-B_v12.bin  fb15     "
            "FC31175C19F83329  OK\n");
}

class UnsentRecordsOf : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("plcburn-unsent-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    log_ = folder_ / "burns.jsonl";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  void Append(const std::string& text) {
    std::ofstream(log_, std::ios::binary | std::ios::app) << text;
  }
  // The serials of every record taken off, acknowledging each.
  static std::string SendAll(UnsentRecords& unsent) {
    std::string sent, error;
    EXPECT_TRUE(unsent.Refresh(error)) << error;
    while (const UnsentRecord* next = unsent.Next()) {
      sent += next->record["plc"]["serial"].get<std::string>();
      EXPECT_TRUE(unsent.Acknowledge(error)) << error;
      EXPECT_TRUE(unsent.Refresh(error)) << error;
    }
    EXPECT_EQ(unsent.Count(), 0u);
    return sent;
  }
  std::filesystem::path folder_, log_;
};

TEST_F(UnsentRecordsOf, ALogAreSentInOrderOnceFromWhereTheMarkSays) {
  std::string error;
  UnsentRecords nothingYet(log_, 2);
  EXPECT_TRUE(nothingYet.Refresh(error)) << error;
  EXPECT_EQ(nothingYet.Count(), 0u);

  Append(Line(0, "a") + "\n" + R"({"no":"record"})" + "\n" + Line(1, "b") + "\n" + Line(2, "c") +
         "\n" + Line(3, "d") + "\n" + Line(4, "e").substr(0, 40));
  UnsentRecords unsent(log_, 2);  // fewer in memory than there are
  ASSERT_TRUE(unsent.Refresh(error)) << error;
  EXPECT_EQ(unsent.Count(), 4u) << "the line being written is left for later";
  EXPECT_EQ(unsent.Next()->record["plc"]["serial"], "a");
  ASSERT_TRUE(unsent.Acknowledge(error)) << error;
  ASSERT_TRUE(unsent.Acknowledge(error)) << error;
  EXPECT_EQ(ReadSentMark(SentMarkPath(log_))->records, 2u);

  // Written on while a record is out: counted, the one out stays next.
  ASSERT_TRUE(unsent.Refresh(error)) << error;
  const std::string out = unsent.Next()->sha256;
  Append(Line(4, "e").substr(40) + "\n" + Line(5, "f") + "\n");
  ASSERT_TRUE(unsent.CountNew(error)) << error;
  EXPECT_EQ(unsent.Count(), 4u);
  EXPECT_EQ(unsent.Next()->sha256, out);

  // Started again: from the mark on.
  UnsentRecords restarted(log_, 2);
  EXPECT_EQ(SendAll(restarted), "cdef");
  EXPECT_EQ(restarted.Acknowledged(), 6u);
  UnsentRecords uptodate(log_);
  EXPECT_EQ(SendAll(uptodate), "");
}

TEST_F(UnsentRecordsOf, ALogReplacedIsSentFromItsStart) {
  const struct {
    const char* name;
    std::string replacement;  // the log's text after "ab" were sent
    std::string sent;
  } cases[] = {
      {"shorter", Line(9, "x") + "\n", "x"},
      {"as_long_other_records", Line(0, "y") + "\n" + Line(1, "z") + "\n" + Line(2, "w") + "\n",
       "yzw"},
      {"the_same_grown", Line(0, "a") + "\n" + Line(1, "b") + "\n" + Line(2, "c") + "\n", "c"},
      {"emptied", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(log_);
    std::filesystem::remove(SentMarkPath(log_));
    Append(Line(0, "a") + "\n" + Line(1, "b") + "\n");
    UnsentRecords before(log_);
    EXPECT_EQ(SendAll(before), "ab");
    std::filesystem::remove(log_);
    Append(c.replacement);
    EXPECT_EQ(SendAll(before), c.sent) << "the sender that runs on";
    if (c.replacement.empty()) continue;
    std::filesystem::remove(log_);
    std::string error;
    ASSERT_TRUE(WriteSentMark(SentMarkPath(log_),
                              {Line(0, "a").size() + 1 + Line(1, "b").size() + 1,
                               Line(1, "b").size() + 1, 2, std::string(64, '0')},
                              error));
    Append(c.replacement);
    UnsentRecords started(log_);
    EXPECT_EQ(SendAll(started), c.name == std::string("the_same_grown") ? "abc" : c.sent)
        << "a station started on a mark that names no line of the log";
  }
}

}  // namespace
}  // namespace plcburn
