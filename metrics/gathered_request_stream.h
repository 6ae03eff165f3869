#pragma once
// One connection as cpp-httplib's request processing sees it: the request comes from what the
// intake has already read, so answering never waits on the client; the answer goes to the socket
// and gives up at a deadline, so a client that does not read costs a worker that long at most.

#include <httplib.h>

#include <chrono>
#include <string>

namespace plcburn {

class GatheredRequestStream final : public httplib::Stream {
 public:
  GatheredRequestStream(socket_t sock, const std::string& request,
                        std::chrono::steady_clock::time_point writtenBy)
      : sock_(sock), request_(request), writtenBy_(writtenBy) {}

  bool is_readable() const override { return read_ < request_.size(); }
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;  // 0 once the request is all read
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return sock_; }

 private:
  socket_t sock_;
  const std::string& request_;
  std::size_t read_ = 0;
  std::chrono::steady_clock::time_point writtenBy_;
};

}  // namespace plcburn
