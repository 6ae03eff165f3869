#pragma once
// A plain HTTP client for tests: a request's bytes sent as they are to a port on the loopback,
// the answer read to the server's end of file, everything within one time bound.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>

namespace plcburn::test {

struct HttpReply {
  int status = 0;    // 0: no answer, or not one in HTTP
  std::string head;  // the status line and the fields, without the empty line
  std::string body;
};

// `request` as is to 127.0.0.1:`port`; what came back within `limit`.
inline HttpReply HttpExchange(int port, std::string_view request,
                              std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + limit;
  const auto waitFor = [&](int fd, short events) {
    pollfd p{fd, events, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) == 1;
  };
  HttpReply reply;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return reply;
  sockaddr_in at{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
  if (!connected && errno == EINPROGRESS && waitFor(fd, POLLOUT)) {
    int error = 0;
    socklen_t size = sizeof error;
    connected = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  while (connected && !request.empty() && waitFor(fd, POLLOUT)) {
    const ssize_t n = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    request.remove_prefix(static_cast<std::size_t>(n));
  }
  std::string got;
  char buffer[4096];
  while (connected && waitFor(fd, POLLIN)) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  const std::size_t headEnd = got.find("\r\n\r\n");
  if (!got.starts_with("HTTP/1.") || got.size() < 12 || headEnd == got.npos) return reply;
  reply.status = std::atoi(got.c_str() + 9);
  reply.head = got.substr(0, headEnd);
  reply.body = got.substr(headEnd + 4);
  return reply;
}

// `method` `target` in HTTP/1.1, the connection closed after it; a body when one is given.
inline std::string HttpRequestBytes(std::string_view method, std::string_view target,
                                    std::string_view body = {}) {
  std::string r = std::string(method) + " " + std::string(target) +
                  " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!body.empty())
    r += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  return r + "\r\n" + std::string(body);
}

}  // namespace plcburn::test
