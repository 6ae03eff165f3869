#pragma once
// Serves a station's figures at GET /metrics over HTTP, on threads of its own. Nothing else is
// served: other paths get 404, other methods on /metrics 405. Each connection carries one
// request and has a few seconds to send it, so a slow or half-sent request costs one of the
// server's threads for that long and never touches a burn.

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "metrics/metrics_address.h"
#include "metrics/station_metrics.h"

namespace httplib {
class Server;
}

namespace plcburn {

class MetricsServer {
 public:
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
  const StationMetrics& metrics_;
  std::unique_ptr<httplib::Server> server_;
  std::thread listener_;
  std::atomic<bool> listenEnded_{false};
  int listening_ = -1;  // the listening socket, once bound
  int port_ = 0;
  std::string error_;
};

}  // namespace plcburn
