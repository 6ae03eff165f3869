#pragma once
// The socket calls the metrics server makes, where POSIX and Winsock differ only in name: one
// socket type, polling, non-blocking reads and sends, and the wake that frees a polling thread.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plcburn {

#ifdef _WIN32
using socket_t = SOCKET;
#else
using socket_t = int;
constexpr socket_t INVALID_SOCKET = -1;
#endif

// Winsock wants to be started once in a process before its first call; elsewhere nothing to do.
// False, with the reason in SocketErrorText(), when it cannot be.
bool StartSockets();

// The last socket call's error, and its text.
int LastSocketError();
std::string SocketErrorText(int error);

// getaddrinfo()'s error as text.
std::string ResolveErrorText(int error);

// A restarted station has its port back at once, while a second program cannot bind it.
void ReuseOwnAddress(socket_t sock);

// poll(), or WSAPoll(); `wait` below zero waits without end. The number of sockets with events.
int PollSockets(std::vector<pollfd>& sockets, std::chrono::milliseconds wait);

// The socket's calls return at once from now on, whatever the peer does; false if it cannot be.
bool MakeNonBlocking(socket_t sock);

// What recv() and send() give: a count of bytes; 0 from a read at the peer's end of file; below 0
// an error, which SocketWouldBlock() tells apart from a socket that has nothing for now.
long ReadSocket(socket_t sock, char* into, std::size_t most);
long SendSocket(socket_t sock, const char* bytes, std::size_t size);
bool SocketWouldBlock();

// Sends all of `bytes` on a non-blocking socket unless `by` passes first.
bool SendAll(socket_t sock, std::string_view bytes, std::chrono::steady_clock::time_point by);

// Sends the peer its end of file at once and wakes whatever polls the socket; closing it is left
// to its owner.
void ShutdownSocket(socket_t sock);
void CloseSocket(socket_t sock);

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
