#include "metrics/metrics_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace plcburn {
namespace {

// A client that connected and sent the start of a request, then nothing.
class StalledClient {
 public:
  explicit StalledClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    const char half[] = "GET /metr";
    connected_ = connected_ && ::send(fd_, half, sizeof half - 1, 0) > 0;
  }
  ~StalledClient() { ::close(fd_); }
  bool Connected() const { return connected_; }
  // True while the server has not hung up on it.
  bool StillOpen() const {
    char c;
    const ssize_t got = ::recv(fd_, &c, 1, MSG_DONTWAIT);
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }

 private:
  int fd_;
  bool connected_ = false;
};

struct EndpointCase {
  const char* name;
  const char* method;
  const char* path;
  int stalledClients;  // half-sent requests left hanging before the clients ask
  int clients;         // asking at once
  int status;
};

void PrintTo(const EndpointCase& c, std::ostream* os) {
  *os << c.name;
}

httplib::Result Ask(int port, const EndpointCase& c) {
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(20);
  client.set_read_timeout(20);
  const std::string method = c.method;
  if (method == "GET") return client.Get(c.path);
  if (method == "POST") return client.Post(c.path, "x", "text/plain");
  if (method == "PUT") return client.Put(c.path, "x", "text/plain");
  return client.Delete(c.path);
}

class Endpoint : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(Endpoint, AnswersEveryClientAsItShould) {
  const EndpointCase& c = GetParam();
  StationMetrics metrics({"0.2.0", "VL.bin", "ab"});
  metrics.AddSlot("s1");
  MetricsServer server(metrics);
  ASSERT_TRUE(server.Start({"127.0.0.1", 0})) << server.Error();

  std::vector<std::unique_ptr<StalledClient>> stalled;
  for (int i = 0; i < c.stalledClients; ++i) {
    stalled.push_back(std::make_unique<StalledClient>(server.Port()));
    ASSERT_TRUE(stalled.back()->Connected());
  }
  std::atomic<int> expected{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < c.clients; ++i)
    clients.emplace_back([&] {
      const httplib::Result r = Ask(server.Port(), c);
      if (r && r->status == c.status &&
          (c.status != 200 ||
           r->body.find("plcburn_slot_state{slot=\"s1\",state=\"empty\"} 1") != std::string::npos))
        ++expected;
    });
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(expected, c.clients);
  // The answers came while the stalled requests were still being waited for.
  for (const auto& s : stalled) EXPECT_TRUE(s->StillOpen());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Requests, Endpoint,
    ::testing::Values(
        EndpointCase{"metrics",               "GET",    "/metrics",   0, 1,   200},
        EndpointCase{"other_path",            "GET",    "/",          0, 1,   404},
        EndpointCase{"below_metrics",         "GET",    "/metrics/x", 0, 1,   404},
        EndpointCase{"post",                  "POST",   "/metrics",   0, 1,   405},
        EndpointCase{"put",                   "PUT",    "/metrics",   0, 1,   405},
        EndpointCase{"delete",                "DELETE", "/metrics",   0, 1,   405},
        EndpointCase{"post_elsewhere",        "POST",   "/api",       0, 1,   404},
        EndpointCase{"beside_stalled_halves", "GET",    "/metrics",   3, 1,   200},
        EndpointCase{"two_hundred_at_once",   "GET",    "/metrics",   0, 200, 200}),
    [](const auto& param) { return std::string(param.param.name); });
// clang-format on

TEST(Scrape, PassesPromtool) {
  if (std::system("command -v promtool >/dev/null") != 0) GTEST_SKIP() << "no promtool";
  StationMetrics metrics({"0.2.0", "VL_v189.bin", std::string(64, 'e')});
  BurnRecord r;
  r.model = "VL";
  r.result.ok = true;
  r.durationMs = 12345;
  r.blocks.resent = 2;
  metrics.Count("/dev/serial/by-path/pci-0:1.2", r);
  r.result = {false, {}, "size check", "ERROR", "too big", false};
  metrics.Count("usb:1-1.2", r);
  metrics.SetSlotState("usb:1-1.2", SlotState::Failed);
  MetricsServer server(metrics);
  ASSERT_TRUE(server.Start({"127.0.0.1", 0})) << server.Error();
  httplib::Client client("127.0.0.1", server.Port());
  const httplib::Result scrape = client.Get("/metrics");
  ASSERT_TRUE(scrape);
  EXPECT_EQ(scrape->get_header_value("Content-Type").rfind("text/plain; version=0.0.4", 0), 0u);

  std::FILE* promtool = ::popen("promtool check metrics", "w");
  ASSERT_NE(promtool, nullptr);
  std::fwrite(scrape->body.data(), 1, scrape->body.size(), promtool);
  EXPECT_EQ(::pclose(promtool), 0) << scrape->body;
}

}  // namespace
}  // namespace plcburn
