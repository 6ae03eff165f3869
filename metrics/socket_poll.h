#pragma once
// The few socket calls the metrics server makes beside cpp-httplib's, where POSIX and Winsock
// differ only in name. Everything else goes through httplib's socket_t and its detail calls.

#include <httplib.h>

#ifndef _WIN32
#include <poll.h>
#endif

#include <chrono>
#include <string>
#include <vector>

namespace plcburn {

// poll(), or WSAPoll(); `wait` below zero waits without end. The number of sockets with events.
int PollSockets(std::vector<pollfd>& sockets, std::chrono::milliseconds wait);

// Sends the peer its end of file at once and wakes whatever polls the socket; closing it is left
// to its owner.
void ShutdownSocket(socket_t sock);

// The numeric address and port of either end of a connected socket; empty and 0 when unknown.
void SocketAddress(socket_t sock, bool peer, std::string& ip, int& port);

// A datagram socket on the loopback that sends to itself, so a thread blocked in poll() on it
// can be woken from another thread the same way on every system.
class WakeSocket {
 public:
  WakeSocket();  // Valid() says whether it could be made
  ~WakeSocket();
  WakeSocket(const WakeSocket&) = delete;
  WakeSocket& operator=(const WakeSocket&) = delete;

  bool Valid() const { return sock_ != INVALID_SOCKET; }
  socket_t Socket() const { return sock_; }
  void Wake();
  void Drain();  // takes every wake so far, so the next poll() waits again

 private:
  socket_t sock_ = INVALID_SOCKET;
};

}  // namespace plcburn
