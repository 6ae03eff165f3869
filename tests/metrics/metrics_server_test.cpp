#include "metrics/metrics_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_exchange.h"

namespace plcburn {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What a client that never completes a request does after connecting.
enum class Hang {
  kStalled,  // sends the start of a request, then nothing
  kGarbage,  // sends the start of a TLS handshake, as a scraper set to https would
  kIdle,     // sends nothing; its connect is not waited for
};

int HangingClient(int port, Hang how) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  if (how == Hang::kIdle) {
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    const bool started =
        ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 || errno == EINPROGRESS;
    return started ? fd : (::close(fd), -1);
  }
  const std::string sent = how == Hang::kStalled ? std::string("GET /metr")
                                                 : std::string("\x16\x03\x01\x02\x00\x01\x00", 7);
  const bool done = ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                    ::send(fd, sent.data(), sent.size(), 0) == static_cast<ssize_t>(sent.size());
  return done ? fd : (::close(fd), -1);
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

struct EndpointCase {
  const char* name;
  const char* method;
  const char* path;
  Hang hang;
  int hangingClients;  // connections left hanging before the clients ask
  int clients;         // asking at once
  int status;
  int withinMs;  // bound on the time until every client has its answer; 0 for none
  // The request's bytes as they are, instead of `method` on `path`: a field "X-Pad" of `padding`
  // bytes goes before its last line.
  const char* raw = nullptr;
  std::size_t padding = 0;
  const char* field = nullptr;  // a header field the answer must have
};

class Endpoint : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(Endpoint, AnswersEveryClientAsItShould) {
  const EndpointCase& c = GetParam();
  StationMetrics metrics({"0.2.0", {{"VL.bin", "ab"}}});
  metrics.AddSlot("s1");
  MetricsServer server(metrics);
  ASSERT_TRUE(server.Start({"127.0.0.1", 0})) << server.Error();
  // Every descriptor beyond the clients' own is the server's.
  const int before = OpenDescriptors();
  std::atomic<bool> counting{true};
  std::atomic<int> most{before};
  std::thread counter([&] {
    while (counting) {
      most = std::max(most.load(), OpenDescriptors());
      std::this_thread::sleep_for(milliseconds(2));
    }
  });
  std::vector<int> hanging;
  for (int i = 0; i < c.hangingClients; ++i)
    hanging.push_back(HangingClient(server.Port(), c.hang));
  EXPECT_EQ(std::count(hanging.begin(), hanging.end(), -1), 0);

  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  const auto asked = Clock::now();
  for (int i = 0; i < c.clients; ++i)
    clients.emplace_back([&] {
      const std::string m = c.method;
      std::string request =
          c.raw != nullptr ? c.raw : test::HttpRequestBytes(m, c.path, m == "POST" ? "x" : "");
      if (c.padding > 0)
        request.insert(request.size() - 2, "X-Pad: " + std::string(c.padding, 'a') + "\r\n");
      const test::HttpReply r = test::HttpExchange(server.Port(), request);
      const char* shown = R"(slot="s1",state="empty"} 1)";
      const bool shownRight =
          request.starts_with("HEAD ") ? r.body.empty() : r.body.find(shown) != r.body.npos;
      if (r.status == c.status && (c.status != 200 || shownRight) &&
          (c.field == nullptr || r.head.find(c.field) != r.head.npos))
        ++answered;
    });
  for (std::thread& t : clients) t.join();
  const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - asked);
  EXPECT_EQ(answered, c.clients);
  if (c.withinMs > 0) {
    EXPECT_LE(took.count(), c.withinMs);
  }

  // The server lets go of every connection that never became a request.
  const auto gaveUp = Clock::now() + std::chrono::seconds(15);
  std::vector<pollfd> waiting;
  for (const int fd : hanging) waiting.push_back({fd, POLLIN, 0});
  while (!waiting.empty() && Clock::now() < gaveUp) {
    ::poll(waiting.data(), waiting.size(), 100);
    std::erase_if(waiting, [](const pollfd& p) {
      char byte;
      return p.revents != 0 && ::recv(p.fd, &byte, 1, MSG_DONTWAIT) <= 0 && errno != EAGAIN;
    });
  }
  EXPECT_TRUE(waiting.empty()) << waiting.size() << " still held";
  counting = false;
  counter.join();
  EXPECT_LE(most - before, c.hangingClients + c.clients + MetricsServer::kMaxConnections + 4);
  for (const int fd : hanging) ::close(fd);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Requests, Endpoint, ::testing::Values(
    EndpointCase{"metrics",               "GET",    "/metrics", Hang::kStalled, 0,   1,   200, 0},
    EndpointCase{"other_path",            "GET",    "/",        Hang::kStalled, 0,   1,   404, 0},
    EndpointCase{"post",                  "POST",   "/metrics", Hang::kStalled, 0,   1,   405, 0},
    EndpointCase{"delete",                "DELETE", "/metrics", Hang::kStalled, 0,   1,   405, 0},
    EndpointCase{"post_elsewhere",        "POST",   "/api",     Hang::kStalled, 0,   1,   404, 0},
    EndpointCase{"beside_stalled_halves", "GET",    "/metrics", Hang::kStalled, 3,   1,   200, 0},
    EndpointCase{"beside_fifty_stalled",  "GET",    "/metrics", Hang::kStalled, 50,  1,   200, 1000},
    EndpointCase{"beside_garbage",        "GET",    "/metrics", Hang::kGarbage, 200, 1,   200, 1000},
    EndpointCase{"beside_many_idle",      "GET",    "/metrics", Hang::kIdle,    500, 1,   200, 0},
    EndpointCase{"two_hundred_at_once",   "GET",    "/metrics", Hang::kStalled, 0,   200, 200, 0},
    // The request's head, byte by byte: what a scraper may send is answered, anything
    // malformed is refused, never taken for a scrape.
    EndpointCase{"head", "", "", Hang::kStalled, 0, 1, 200, 0,
                 "HEAD /metrics HTTP/1.1\r\nHost: a\r\n\r\n", 0,
                 "\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8"},
    EndpointCase{"options", "", "", Hang::kStalled, 0, 1, 405, 0,
                 "OPTIONS /metrics HTTP/1.1\r\nHost: a\r\n\r\n", 0, "\r\nAllow: GET, HEAD"},
    EndpointCase{"method_in_lower_case", "", "", Hang::kStalled, 0, 1, 405, 0,
                 "get /metrics HTTP/1.1\r\nHost: a\r\n\r\n"},
    EndpointCase{"asterisk", "", "", Hang::kStalled, 0, 1, 404, 0,
                 "OPTIONS * HTTP/1.1\r\nHost: a\r\n\r\n"},
    EndpointCase{"path_below", "", "", Hang::kStalled, 0, 1, 404, 0,
                 "GET /metrics/ HTTP/1.1\r\nHost: a\r\n\r\n"},
    EndpointCase{"query", "", "", Hang::kStalled, 0, 1, 200, 0,
                 "GET /metrics?module=x&y HTTP/1.1\r\nHost: a\r\n\r\n"},
    EndpointCase{"absolute_target", "", "", Hang::kStalled, 0, 1, 200, 0,
                 "GET http://station:9464/metrics HTTP/1.1\r\nHost: station:9464\r\n\r\n"},
    EndpointCase{"http_1_0_without_host", "", "", Hang::kStalled, 0, 1, 200, 0,
                 "GET /metrics HTTP/1.0\r\n\r\n"},
    EndpointCase{"lines_end_in_lf", "", "", Hang::kStalled, 0, 1, 200, 0,
                 "GET /metrics HTTP/1.1\nHost: a\nAccept: */*\n\n"},
    EndpointCase{"empty_line_first", "", "", Hang::kStalled, 0, 1, 200, 0,
                 "\r\nGET /metrics HTTP/1.1\r\nHost: a\r\n\r\n"},
    EndpointCase{"fields_any_case", "", "", Hang::kStalled, 0, 1, 200, 0,
                 "GET /metrics HTTP/1.1\r\nhOST:a\r\nCONTENT-LENGTH: 0\r\n\r\n"},
    EndpointCase{"body_declared_and_sent", "", "", Hang::kStalled, 0, 1, 200, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\r\nContent-Length: 4\r\n\r\nabcd"},
    EndpointCase{"no_host", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.1\r\nAccept: */*\r\n\r\n"},
    EndpointCase{"two_hosts", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n"},
    EndpointCase{"no_version", "", "", Hang::kStalled, 0, 1, 400, 0, "GET /metrics\r\n\r\n"},
    EndpointCase{"version_2", "", "", Hang::kStalled, 0, 1, 505, 0,
                 "GET /metrics HTTP/2.0\r\nHost: a\r\n\r\n"},
    EndpointCase{"version_misshapen", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.10\r\nHost: a\r\n\r\n"},
    EndpointCase{"two_spaces", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET  /metrics HTTP/1.1\r\nHost: a\r\n\r\n"},
    EndpointCase{"relative_target", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET metrics HTTP/1.1\r\nHost: a\r\n\r\n"},
    EndpointCase{"fragment", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics#x HTTP/1.1\r\nHost: a\r\n\r\n"},
    EndpointCase{"space_before_colon", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.1\r\nHost : a\r\n\r\n"},
    EndpointCase{"folded_field", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\r\nAccept: text/plain,\r\n */*\r\n\r\n"},
    EndpointCase{"field_without_colon", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\r\nAccept\r\n\r\n"},
    EndpointCase{"control_in_value", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\x01b\r\n\r\n"},
    EndpointCase{"lone_cr", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\rX: b\r\n\r\n"},
    EndpointCase{"length_not_a_number", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n"},
    EndpointCase{"lengths_disagree", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "POST /metrics HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\n"
                 "Content-Length: 2\r\n\r\nab"},
    EndpointCase{"length_and_chunks", "", "", Hang::kStalled, 0, 1, 400, 0,
                 "POST /metrics HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\n"
                 "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n"},
    EndpointCase{"body_too_long", "", "", Hang::kStalled, 0, 1, 413, 0,
                 "POST /metrics HTTP/1.1\r\nHost: a\r\nContent-Length: 1025\r\n\r\nab"},
    EndpointCase{"length_past_any_number", "", "", Hang::kStalled, 0, 1, 413, 0,
                 "POST /metrics HTTP/1.1\r\nHost: a\r\nContent-Length: 99999999999999999999999"
                 "\r\n\r\n"},
    EndpointCase{"head_too_long", "", "", Hang::kStalled, 0, 1, 431, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n", 8200},
    EndpointCase{"head_without_end", "", "", Hang::kStalled, 0, 1, 431, 0,
                 "GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n", 9300}),
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

TEST(MetricsServerStart, StopsAtOnceWithEverySlotTaken) {
  StationMetrics metrics({"0.2.0", {{"VL.bin", "ab"}}});
  const int before = OpenDescriptors();
  MetricsServer server(metrics);
  ASSERT_TRUE(server.Start({"127.0.0.1", 0})) << server.Error();
  const int started = OpenDescriptors();
  const int clients = 2 * MetricsServer::kMaxConnections;
  std::vector<pollfd> stalled;
  for (int i = 0; i < clients; ++i)
    stalled.push_back({HangingClient(server.Port(), Hang::kStalled), POLLIN, 0});
  // Full: the acceptor has the next connection and waits for room.
  const auto full = Clock::now() + std::chrono::seconds(5);
  while (OpenDescriptors() < started + clients + MetricsServer::kMaxConnections &&
         Clock::now() < full)
    std::this_thread::yield();
  const auto stopping = Clock::now();
  server.Stop();
  EXPECT_LE(std::chrono::duration_cast<milliseconds>(Clock::now() - stopping).count(), 500);
  // Nothing is held any more: every connection it had ends, those queued are refused.
  for (pollfd& p : stalled) {
    EXPECT_EQ(::poll(&p, 1, 5000), 1);
    ::close(p.fd);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace plcburn
