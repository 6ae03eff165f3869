#include "metrics/metrics_server.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "metrics/http_answer.h"
#include "metrics/http_request.h"
#include "metrics/request_intake.h"
#include "metrics/socket_poll.h"

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
// A burst of clients is queued, not dropped to retry seconds later.
constexpr int kListenQueue = 256;
// After a failed accept (no descriptor left, say), before the next try.
constexpr milliseconds kAcceptPause(50);
constexpr const char* kExpositionType = "text/plain; version=0.0.4; charset=utf-8";

std::string AnswerTo(const std::string& request, const StationMetrics& metrics) {
  const HttpRequest r = ParseHttpRequest(request, kIntake.headBytes, kIntake.bodyBytes);
  HttpAnswerParts answer;
  if (r.refusal != 0) {
    answer.status = r.refusal;
  } else if (r.path != "/metrics") {
    answer.status = 404;
  } else if (r.method != "GET" && r.method != "HEAD") {
    answer.status = 405;
    answer.fields.emplace_back("Allow", "GET, HEAD");
  } else {
    answer.contentType = kExpositionType;
    answer.body = metrics.Render();
  }
  if (answer.status != 200) answer.body = std::string(HttpReason(answer.status)) + "\n";
  return HttpAnswer(answer, r.method != "HEAD");
}

// A listening socket bound to `at`, or INVALID_SOCKET with the reason in `error`.
socket_t Listen(const MetricsAddress& at, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved =
      ::getaddrinfo(at.host.c_str(), std::to_string(at.port).c_str(), &hints, &found);
  if (resolved != 0) {
    error = ResolveErrorText(resolved);
    return INVALID_SOCKET;
  }
  socket_t sock = INVALID_SOCKET;
  int why = 0;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    sock = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (sock == INVALID_SOCKET) {
      why = LastSocketError();
      continue;
    }
    ReuseOwnAddress(sock);
    if (::bind(sock, a->ai_addr, static_cast<socklen_t>(a->ai_addrlen)) == 0 &&
        ::listen(sock, kListenQueue) == 0 && MakeNonBlocking(sock))
      break;
    why = LastSocketError();
    CloseSocket(sock);
    sock = INVALID_SOCKET;
  }
  ::freeaddrinfo(found);
  if (sock == INVALID_SOCKET) error = SocketErrorText(why);
  return sock;
}

int BoundPort(socket_t sock) {
  sockaddr_storage at{};
  socklen_t size = sizeof at;
  if (::getsockname(sock, reinterpret_cast<sockaddr*>(&at), &size) != 0) return 0;
  if (at.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(at).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in&>(at).sin_port);
}

}  // namespace

// The acceptor hands each connection to the intake at once; the intake, not a queue of threads,
// waits for its request, and two workers answer.
class MetricsServer::Serving {
 public:
  explicit Serving(const StationMetrics& metrics)
      : intake_(kIntake, [&metrics](socket_t sock, const std::string& request) {
          SendAll(sock, AnswerTo(request, metrics), std::chrono::steady_clock::now() + kAnswerTime);
        }) {}
  ~Serving() { Stop(); }
  Serving(const Serving&) = delete;
  Serving& operator=(const Serving&) = delete;

  bool Valid() const { return intake_.Valid() && wake_.Valid(); }

  void Serve(socket_t listening) {
    listening_ = listening;
    acceptor_ = std::thread([this] { Accept(); });
  }

  void Stop() {
    stopping_ = true;
    if (wake_.Valid()) wake_.Wake();
    // Frees the acceptor should it wait for room, and closes every connection held.
    intake_.Stop();
    if (acceptor_.joinable()) acceptor_.join();
    if (listening_ != INVALID_SOCKET) CloseSocket(listening_);
    listening_ = INVALID_SOCKET;
  }

 private:
  void Accept() {
    std::vector<pollfd> polled;
    while (!stopping_) {
      polled = {{listening_, POLLIN, 0}, {wake_.Socket(), POLLIN, 0}};
      PollSockets(polled, milliseconds(-1));
      if (polled[1].revents != 0) wake_.Drain();
      if (stopping_ || polled[0].revents == 0) continue;
      const socket_t sock = ::accept(listening_, nullptr, nullptr);
      if (sock == INVALID_SOCKET) {
        // Gone before its accept, or no descriptor for it now: its queue waits a moment.
        if (!SocketWouldBlock()) {
          polled.resize(1);
          polled[0] = {wake_.Socket(), POLLIN, 0};
          PollSockets(polled, kAcceptPause);
        }
        continue;
      }
      if (!MakeNonBlocking(sock)) {
        CloseSocket(sock);
        continue;
      }
      intake_.Take(sock);
    }
  }

  RequestIntake intake_;
  WakeSocket wake_;
  std::atomic<bool> stopping_{false};
  socket_t listening_ = INVALID_SOCKET;
  std::thread acceptor_;
};

MetricsServer::MetricsServer(const StationMetrics& metrics) : metrics_(metrics) {}

MetricsServer::~MetricsServer() {
  Stop();
}

bool MetricsServer::Start(const MetricsAddress& at) {
  Stop();
  const std::string where =
      "cannot serve the metrics at " + at.host + ":" + std::to_string(at.port) + ": ";
  if (!StartSockets()) {
    error_ = where + SocketErrorText(LastSocketError());
    return false;
  }
  auto serving = std::make_unique<Serving>(metrics_);
  if (!serving->Valid()) {
    error_ =
        where + "no loopback socket to wake its threads: " + SocketErrorText(LastSocketError());
    return false;
  }
  std::string why;
  const socket_t listening = Listen(at, why);
  if (listening == INVALID_SOCKET) {
    error_ = where + why;
    return false;
  }
  port_ = BoundPort(listening);
  serving->Serve(listening);
  serving_ = std::move(serving);
  return true;
}

void MetricsServer::Stop() {
  serving_.reset();
}

}  // namespace plcburn
