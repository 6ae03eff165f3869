#include "metrics/metrics_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "metrics/gathered_request_stream.h"
#include "metrics/request_intake.h"

namespace plcburn {

namespace {

using std::chrono::milliseconds;

// Scrapes come seconds apart from one or two servers and are answered at once: two workers are
// plenty. A scraper sends its request as soon as it connects; a second is generous for it.
constexpr RequestIntake::Limits kIntake{
    .connections = MetricsServer::kMaxConnections,
    .requestTime = milliseconds(1000),
    .makeRoomAfter = milliseconds(50),
    .headBytes = 8192,
    .bodyBytes = 1024,
    .workers = 2,
};
// Time to hand the answer to the system; it fits the socket's buffer unless the client does not
// read.
constexpr milliseconds kAnswerTime(500);
constexpr int kListenQueue = 256;
constexpr const char* kExpositionType = "text/plain; version=0.0.4; charset=utf-8";

// The acceptor hands each connection on at once: the intake, not a queue of threads, waits for it.
class RunAtOnce final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> task) override { task(); }
  void shutdown() override {}
};

}  // namespace

class MetricsServer::Http final : public httplib::Server {
 public:
  Http()
      : intake_(kIntake, [this](socket_t sock, const std::string& request) {
          GatheredRequestStream stream(sock, request,
                                       std::chrono::steady_clock::now() + kAnswerTime);
          bool closed = false;
          process_request(stream, true, closed, nullptr);
        }) {
    new_task_queue = [] { return new RunAtOnce; };
  }

  RequestIntake& Intake() { return intake_; }

 private:
  // Called on the acceptor's thread for each accepted connection; the intake closes it.
  bool process_and_close_socket(socket_t sock) override {
    intake_.Take(sock);
    return true;
  }

  RequestIntake intake_;
};

MetricsServer::MetricsServer(const StationMetrics& metrics) : metrics_(metrics) {}

MetricsServer::~MetricsServer() {
  Stop();
}

bool MetricsServer::Start(const MetricsAddress& at) {
  Stop();
  server_ = std::make_unique<Http>();
  Http& s = *server_;
  if (!s.Intake().Valid()) {
    const int why = errno;
    error_ = "cannot serve the metrics at " + at.host + ":" + std::to_string(at.port) +
             ": no loopback socket to wake its threads: " + std::strerror(why);
    server_.reset();
    return false;
  }
  // The answer's send gives up after this; a client's request is read by the intake.
  s.set_write_timeout(kAnswerTime);
  // The library's default lets a second program bind the same port and take half the scrapes;
  // reusing an address only lets a restarted station have its port back at once.
  s.set_socket_options([this](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening_ = sock;
  });
  s.set_payload_max_length(kIntake.bodyBytes);
  s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(metrics_.Render(), kExpositionType);
  });
  const auto notAllowed = [](const httplib::Request&, httplib::Response& res) {
    res.status = 405;
    res.set_header("Allow", "GET, HEAD");
  };
  s.Post("/metrics", notAllowed);
  s.Put("/metrics", notAllowed);
  s.Patch("/metrics", notAllowed);
  s.Delete("/metrics", notAllowed);
  s.Options("/metrics", notAllowed);

  // The library says only whether it could; errno may say why (a name that does not resolve
  // leaves it alone).
  errno = 0;
  const bool bound =
      at.port == 0 ? (port_ = s.bind_to_any_port(at.host)) > 0 : s.bind_to_port(at.host, at.port);
  if (!bound) {
    const int why = errno;
    error_ = "cannot serve the metrics at " + at.host + ":" + std::to_string(at.port) + ": " +
             (why != 0 ? std::strerror(why) : "no such address");
    server_.reset();
    return false;
  }
  if (at.port != 0) port_ = at.port;
  // The packaged library listens with a queue of 5: a burst of clients would have most of their
  // connections dropped and retried seconds later. Listening again only makes the queue longer.
  ::listen(listening_, kListenQueue);
  // The server's stop() does nothing until its loop runs: wait for the loop (or its end).
  listenEnded_ = false;
  listener_ = std::thread([this, &s] {
    s.listen_after_bind();
    listenEnded_ = true;
  });
  while (!s.is_running() && !listenEnded_) std::this_thread::yield();
  return true;
}

void MetricsServer::Stop() {
  if (server_ == nullptr) return;
  server_->stop();
  // Frees the acceptor should it wait for room, and closes every connection held.
  server_->Intake().Stop();
  if (listener_.joinable()) listener_.join();
  server_.reset();
}

}  // namespace plcburn
