#include "metrics/metrics_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace plcburn {
namespace {

// A connection that sent the start of a request, then nothing.
int StalledClient(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  const bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                    ::send(fd, "GET /metr", 9, 0) == 9;
  return sent ? fd : (::close(fd), -1);
}

struct EndpointCase {
  const char* name;
  const char* method;
  const char* path;
  int stalledClients;  // half-sent requests left hanging before the clients ask
  int clients;         // asking at once
  int status;
};

class Endpoint : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(Endpoint, AnswersEveryClientAsItShould) {
  const EndpointCase& c = GetParam();
  StationMetrics metrics({"0.2.0", {{"VL.bin", "ab"}}});
  metrics.AddSlot("s1");
  MetricsServer server(metrics);
  ASSERT_TRUE(server.Start({"127.0.0.1", 0})) << server.Error();
  std::vector<int> stalled;
  for (int i = 0; i < c.stalledClients; ++i) stalled.push_back(StalledClient(server.Port()));

  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < c.clients; ++i)
    clients.emplace_back([&] {
      httplib::Client client("127.0.0.1", server.Port());
      client.set_connection_timeout(20);
      client.set_read_timeout(20);
      const std::string m = c.method;
      const httplib::Result r = m == "GET"    ? client.Get(c.path)
                                : m == "POST" ? client.Post(c.path, "x", "text/plain")
                                              : client.Delete(c.path);
      const char* shown = R"(slot="s1",state="empty"} 1)";
      if (r && r->status == c.status && (c.status != 200 || r->body.find(shown) != r->body.npos))
        ++answered;
    });
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(answered, c.clients);
  // The answers came while the server still waited for the rest of the stalled requests.
  char byte;
  for (const int fd : stalled) {
    EXPECT_TRUE(::recv(fd, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN);
    ::close(fd);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Requests, Endpoint, ::testing::Values(
    EndpointCase{"metrics",               "GET",    "/metrics",   0, 1,   200},
    EndpointCase{"other_path",            "GET",    "/",          0, 1,   404},
    EndpointCase{"post",                  "POST",   "/metrics",   0, 1,   405},
    EndpointCase{"delete",                "DELETE", "/metrics",   0, 1,   405},
    EndpointCase{"post_elsewhere",        "POST",   "/api",       0, 1,   404},
    EndpointCase{"beside_stalled_halves", "GET",    "/metrics",   3, 1,   200},
    EndpointCase{"two_hundred_at_once",   "GET",    "/metrics",   0, 200, 200}),
    [](const auto& param) { return std::string(param.param.name); });
// clang-format on

TEST(MetricsServerStart, SaysWhyAnAddressCannotBeServed) {
  StationMetrics metrics({"0.2.0", {{"VL.bin", "ab"}}});
  MetricsServer first(metrics), second(metrics), third(metrics);
  ASSERT_TRUE(first.Start({"127.0.0.1", 0}));
  const std::string taken = "127.0.0.1:" + std::to_string(first.Port());
  EXPECT_FALSE(second.Start({"127.0.0.1", first.Port()})) << "two stations on one port";
  EXPECT_EQ(second.Error().rfind("cannot serve the metrics at " + taken + ": ", 0), 0u);
  EXPECT_FALSE(third.Start({"no-such-host.invalid", 9464}));
  EXPECT_NE(third.Error().find("no-such-host.invalid:9464: "), std::string::npos);
}

}  // namespace
}  // namespace plcburn
