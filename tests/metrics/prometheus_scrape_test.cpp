// A real Prometheus server scrapes a station's metrics while burns run on the in-process
// simulator, and its query API gives back what the burns' records say.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/common/station_metrics_view.h"
#include "metrics/metrics_server.h"
#include "tests/support/http_exchange.h"
#include "tests/support/sim_bench.h"

extern char** environ;

namespace plcburn {
namespace {

// The query's answer as {value of the label `by`: sample}; empty while Prometheus cannot say.
std::map<std::string, std::string> Query(int prometheusPort, const char* query, const char* by) {
  std::string target = "/api/v1/query?query=";
  for (const char* c = query; *c != '\0'; ++c) {
    const auto u = static_cast<unsigned char>(*c);
    if (std::isalnum(u) || std::strchr("-._~", u) != nullptr) {
      target += *c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", u);
      target += escaped;
    }
  }
  // HTTP/1.0: the answer in one piece, not in chunks, and the connection closed after it.
  const test::HttpReply r = test::HttpExchange(
      prometheusPort, "GET " + target + " HTTP/1.0\r\n\r\n", std::chrono::seconds(5));
  std::map<std::string, std::string> values;
  const auto j = nlohmann::json::parse(r.body, nullptr, false);
  if (!j.is_discarded() && j.contains("data"))
    for (const auto& series : j["data"]["result"])
      values[series["metric"][by]] = series["value"][1];
  return values;
}

// One burn on the simulator, in a slot, as the station reports it.
void BurnInSlot(StationMetrics& metrics, const std::string& slot, testing::Bench& bench) {
  StationMetricsView view(nullptr, &metrics);
  const DeviceLabel who{slot, slot, slot};
  struct Kept : BurnJournal {
    BurnRecord record;
    void Keep(const BurnRecord& r) override { record = r; }
  } kept;
  view.Changed(who, SlotState::Burning, {});
  BurnRecording recording{kept, {"station-1", "VL_test.bin", std::string(64, 'c')}};
  bench.Run(nullptr, nullptr, &recording);
  view.Result(who, kept.record);
  view.Changed(who, EndedState(VerdictOf(kept.record)), {});
}

TEST(Prometheus, ScrapesTheBurnsOfAStation) {
  if (std::system("command -v prometheus >/dev/null && command -v promtool >/dev/null") != 0)
    GTEST_SKIP() << "Prometheus is not installed";
  const auto folder =
      std::filesystem::temp_directory_path() / ("plcburn-prometheus-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  StationMetrics metrics({"0.2.0", {{"VL_test.bin", std::string(64, 'c')}}});
  MetricsServer station(metrics), spare(metrics);
  ASSERT_TRUE(station.Start({"127.0.0.1", 0}) && spare.Start({"127.0.0.1", 0}));
  const int port = spare.Port();  // Prometheus's, once this server lets go of it
  spare.Stop();
  std::ofstream(folder / "prometheus.yml")
      << "global: {scrape_interval: 1s}\nscrape_configs: [{job_name: plcburn, static_configs: "
      << "[{targets: ['127.0.0.1:" << station.Port() << "']}]}]\n";
  std::string args[] = {"prometheus", "--config.file=" + (folder / "prometheus.yml").string(),
                        "--storage.tsdb.path=" + (folder / "data").string(),
                        "--web.listen-address=127.0.0.1:" + std::to_string(port),
                        "--log.level=error"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t prometheus = 0;
  ASSERT_EQ(::posix_spawnp(&prometheus, "prometheus", nullptr, nullptr, argv.data(), environ), 0);

  // The burns start once Prometheus has seen the station's slots.
  metrics.AddSlot("s1");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
  while (Query(port, "plcburn_slot_state", "slot").empty() &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  testing::Bench good("VL", 50000), silent("QN4", 5000, testing::Faults({"silence"}));
  BurnInSlot(metrics, "s1", good);
  BurnInSlot(metrics, "s2", silent);
  const std::map<std::string, std::string> expected{{"ok", "1"}, {"failed", "1"}};
  std::map<std::string, std::string> burns;
  while (burns != expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    burns = Query(port, R"(sum by (result) (plcburn_burns_total{result=~"ok|failed"}))", "result");
  }
  ::kill(prometheus, SIGTERM);
  ::waitpid(prometheus, nullptr, 0);
  EXPECT_EQ(burns, expected);

  // promtool finds nothing wrong in the scrape Prometheus read.
  const test::HttpReply scrape =
      test::HttpExchange(station.Port(), test::HttpRequestBytes("GET", "/metrics"));
  ASSERT_EQ(scrape.status, 200);
  std::FILE* promtool = ::popen("promtool check metrics", "w");
  std::fwrite(scrape.body.data(), 1, scrape.body.size(), promtool);
  EXPECT_EQ(::pclose(promtool), 0) << scrape.body;
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace plcburn
