#pragma once
// Serves a station's figures at GET /metrics over HTTP, on threads of its own. Nothing else is
// served: other paths get 404, other methods on /metrics 405, malformed requests 400 (431 or 413
// when too long). Each connection carries one request. The server holds a bounded number of
// connections and answers only whole requests: clients that send half a request, nothing or
// garbage are closed after a second (the oldest first when every slot is taken), so they never
// hold up a scrape nor take the descriptors the burns need.

#include <memory>
#include <string>

#include "metrics/metrics_address.h"
#include "metrics/station_metrics.h"

namespace plcburn {

class MetricsServer {
 public:
  // Connections held at once, whatever the clients do.
  static constexpr int kMaxConnections = 64;

  explicit MetricsServer(const StationMetrics& metrics);
  ~MetricsServer();  // stops
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Binds the address and serves from then on; false with Error() when it cannot be bound.
  bool Start(const MetricsAddress& at);
  void Stop();

  int Port() const { return port_; }  // the bound port, once started
  const std::string& Error() const { return error_; }

 private:
  class Serving;  // the listening socket, its acceptor and the connection intake

  const StationMetrics& metrics_;
  std::unique_ptr<Serving> serving_;
  int port_ = 0;
  std::string error_;
};

}  // namespace plcburn
