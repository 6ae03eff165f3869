#include "metrics/metrics_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace plcburn {

namespace {

// Scrapes come seconds apart from one or two servers: a few threads are plenty.
constexpr std::size_t kThreads = 8;
// Time a client has to send its request, and a slow reader to take the answer.
constexpr int kIoTimeoutSeconds = 2;
constexpr std::size_t kMaxRequestBody = 1024;
constexpr int kListenQueue = 256;
constexpr const char* kExpositionType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace

MetricsServer::MetricsServer(const StationMetrics& metrics) : metrics_(metrics) {}

MetricsServer::~MetricsServer() {
  Stop();
}

bool MetricsServer::Start(const MetricsAddress& at) {
  Stop();
  server_ = std::make_unique<httplib::Server>();
  httplib::Server& s = *server_;
  s.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  s.set_read_timeout(kIoTimeoutSeconds, 0);
  s.set_write_timeout(kIoTimeoutSeconds, 0);
  s.set_keep_alive_max_count(1);
  // The library's default lets a second program bind the same port and take half the scrapes;
  // reusing an address only lets a restarted station have its port back at once.
  s.set_socket_options([this](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listening_ = sock;
  });
  s.set_payload_max_length(kMaxRequestBody);
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
  if (listener_.joinable()) listener_.join();
  server_.reset();
}

}  // namespace plcburn
