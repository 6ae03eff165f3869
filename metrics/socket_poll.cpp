#include "metrics/socket_poll.h"

#include <cstdlib>
#include <cstring>

namespace plcburn {

#ifdef _WIN32
int PollSockets(std::vector<pollfd>& sockets, std::chrono::milliseconds wait) {
  return WSAPoll(sockets.data(), static_cast<ULONG>(sockets.size()),
                 static_cast<INT>(wait.count()));
}
void ShutdownSocket(socket_t sock) {
  ::shutdown(sock, SD_BOTH);
}
#else
int PollSockets(std::vector<pollfd>& sockets, std::chrono::milliseconds wait) {
  int n;
  do {
    n = ::poll(sockets.data(), sockets.size(), static_cast<int>(wait.count()));
  } while (n < 0 && errno == EINTR);
  return n;
}
void ShutdownSocket(socket_t sock) {
  ::shutdown(sock, SHUT_RDWR);
}
#endif

void SocketAddress(socket_t sock, bool peer, std::string& ip, int& port) {
  ip.clear();
  port = 0;
  sockaddr_storage at{};
  socklen_t size = sizeof at;
  auto* any = reinterpret_cast<sockaddr*>(&at);
  if ((peer ? ::getpeername(sock, any, &size) : ::getsockname(sock, any, &size)) != 0) return;
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (::getnameinfo(any, size, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return;
  ip = host;
  port = std::atoi(service);
}

WakeSocket::WakeSocket() {
  sock_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (sock_ == INVALID_SOCKET) return;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  auto* any = reinterpret_cast<sockaddr*>(&at);
  if (::bind(sock_, any, size) != 0 || ::getsockname(sock_, any, &size) != 0 ||
      ::connect(sock_, any, size) != 0) {
    httplib::detail::close_socket(sock_);
    sock_ = INVALID_SOCKET;
  }
}

WakeSocket::~WakeSocket() {
  if (Valid()) httplib::detail::close_socket(sock_);
}

void WakeSocket::Wake() {
  // A full buffer already holds a wake: losing this one changes nothing.
  const char byte = 0;
  httplib::detail::send_socket(sock_, &byte, 1, 0);
}

void WakeSocket::Drain() {
  std::vector<pollfd> self{{sock_, POLLIN, 0}};
  char bytes[64];
  while (PollSockets(self, std::chrono::milliseconds(0)) > 0 &&
         httplib::detail::read_socket(sock_, bytes, sizeof bytes, 0) > 0) {
  }
}

}  // namespace plcburn
