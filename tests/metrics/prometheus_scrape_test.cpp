// A real Prometheus server scrapes a station's metrics while burns run on the in-process
// simulator, and its query API gives back what the burns' records say.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "metrics/metrics_journal.h"
#include "metrics/metrics_server.h"
#include "tests/support/sim_bench.h"

extern char** environ;

namespace plcburn {
namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

// A port nobody listens on now, for a program that takes its port on its command line.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size) == 0;
  ::close(fd);
  return ok ? ntohs(at.sin_port) : 0;
}

// Prometheus on 127.0.0.1, scraping `target` every second, with its storage in `folder`.
class PrometheusServer {
 public:
  PrometheusServer(const std::filesystem::path& folder, int target) : port_(FreePort()) {
    std::ofstream(folder / "prometheus.yml") << "global:\n"
                                                "  scrape_interval: 1s\n"
                                                "scrape_configs:\n"
                                                "  - job_name: plcburn\n"
                                                "    static_configs:\n"
                                                "      - targets: ['127.0.0.1:"
                                             << target << "']\n";
    const std::string args[] = {
        "prometheus",
        "--config.file=" + (folder / "prometheus.yml").string(),
        "--storage.tsdb.path=" + (folder / "data").string(),
        "--web.listen-address=127.0.0.1:" + std::to_string(port_),
        "--log.level=warn",
    };
    char* argv[std::size(args) + 1] = {};
    for (std::size_t i = 0; i < std::size(args); ++i) argv[i] = const_cast<char*>(args[i].c_str());
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    const std::string log = (folder / "prometheus.log").string();
    posix_spawn_file_actions_addopen(&files, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (::posix_spawnp(&pid_, "prometheus", &files, nullptr, argv, environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&files);
  }
  ~PrometheusServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  bool Started() const { return pid_ > 0 && port_ > 0; }

  // The query's result as {label value of `by`: sample value}; empty while Prometheus cannot say.
  std::map<std::string, std::string> Query(const std::string& query, const std::string& by) {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(2);
    client.set_read_timeout(5);
    const httplib::Result r =
        client.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
    std::map<std::string, std::string> values;
    if (!r || r->status != 200) return values;
    const Json j = Json::parse(r->body, nullptr, false);
    if (j.is_discarded() || !j.contains("data")) return values;
    for (const Json& series : j["data"]["result"])
      values[series["metric"].value(by, "")] = series["value"][1].get<std::string>();
    return values;
  }

 private:
  pid_t pid_ = 0;
  int port_;
};

// One burn on the simulator, in a slot, as the station reports it.
void BurnInSlot(StationMetrics& metrics, const std::string& slot, testing::Bench& bench) {
  metrics.SetSlotState(slot, SlotState::Burning);
  MetricsJournal journal(metrics, slot);
  BurnRecording recording{journal, {"station-1", "VL_test.bin", std::string(64, 'c')}};
  bench.Run(nullptr, nullptr, &recording);
  const bool ok = bench.Final().icon == MessageIcon::Information;
  metrics.SetSlotState(slot, ok ? SlotState::Ok : SlotState::Failed);
}

TEST(Prometheus, ScrapesTheBurnsOfAStation) {
  if (std::system("command -v prometheus >/dev/null") != 0) GTEST_SKIP() << "no prometheus";
  const auto folder =
      std::filesystem::temp_directory_path() / ("plcburn-prometheus-" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  StationMetrics metrics({"0.2.0", "VL_test.bin", std::string(64, 'c')});
  metrics.AddSlot("s1");
  metrics.AddSlot("s2");
  MetricsServer server(metrics);
  ASSERT_TRUE(server.Start({"127.0.0.1", 0})) << server.Error();
  std::map<std::string, std::string> burns;
  {
    PrometheusServer prometheus(folder, server.Port());
    ASSERT_TRUE(prometheus.Started());
    // Prometheus is up once it has scraped the station's empty slots.
    const auto deadline = Clock::now() + std::chrono::seconds(25);
    while (prometheus.Query("plcburn_slot_state", "slot").size() < 2 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));

    testing::Bench good("VL", 50000);
    testing::Bench silent("QN4", 5000, testing::Faults({"silence"}));
    BurnInSlot(metrics, "s1", good);
    BurnInSlot(metrics, "s2", silent);

    const std::map<std::string, std::string> expected{{"ok", "1"}, {"failed", "1"}};
    const std::string query = R"(sum by (result) (plcburn_burns_total{result=~"ok|failed"}))";
    while (burns != expected && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      burns = prometheus.Query(query, "result");
    }
  }
  EXPECT_EQ(burns, (std::map<std::string, std::string>{{"ok", "1"}, {"failed", "1"}}))
      << std::ifstream(folder / "prometheus.log").rdbuf();
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace plcburn
