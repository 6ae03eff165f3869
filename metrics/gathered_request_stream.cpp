#include "metrics/gathered_request_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "metrics/socket_poll.h"

namespace plcburn {

bool GatheredRequestStream::is_writable() const {
  using std::chrono::milliseconds;
  const auto left =
      std::chrono::duration_cast<milliseconds>(writtenBy_ - std::chrono::steady_clock::now());
  std::vector<pollfd> self{{sock_, POLLOUT, 0}};
  return PollSockets(self, std::max(left, milliseconds(0))) > 0 && (self[0].revents & POLLOUT);
}

ssize_t GatheredRequestStream::read(char* ptr, size_t size) {
  const std::size_t n = std::min(size, request_.size() - read_);
  std::memcpy(ptr, request_.data() + read_, n);
  read_ += n;
  return static_cast<ssize_t>(n);
}

ssize_t GatheredRequestStream::write(const char* ptr, size_t size) {
  // The socket's send time-out, set at its accept, bounds a send that finds the buffer full.
  if (!is_writable()) return -1;
  return httplib::detail::send_socket(sock_, ptr, size, 0);
}

void GatheredRequestStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  SocketAddress(sock_, true, ip, port);
}

void GatheredRequestStream::get_local_ip_and_port(std::string& ip, int& port) const {
  SocketAddress(sock_, false, ip, port);
}

}  // namespace plcburn
