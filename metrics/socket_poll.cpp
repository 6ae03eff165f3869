#include "metrics/socket_poll.h"

#ifndef _WIN32
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#endif

#include <algorithm>

namespace plcburn {

#ifdef _WIN32
bool StartSockets() {
  // Once per process, never undone: the sockets live as long as the program.
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) WSASetLastError(started);
  return started == 0;
}
int LastSocketError() {
  return WSAGetLastError();
}
std::string SocketErrorText(int error) {
  // What a station's operator meets most, in words even where the system has none for them.
  switch (error) {
    case WSAEADDRINUSE: return "Address already in use";
    case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
    case WSAEACCES: return "Permission denied";
    case WSAHOST_NOT_FOUND: return "Name or service not known";
    case WSANO_DATA: return "No address associated with hostname";
    case WSATRY_AGAIN: return "Temporary failure in name resolution";
    default: break;
  }
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string said(text, n);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.'))
    said.pop_back();
  return said.empty() ? "socket error " + std::to_string(error) : said;
}
std::string ResolveErrorText(int error) {
  return SocketErrorText(error);  // the EAI_ codes are Winsock's own
}
void ReuseOwnAddress(socket_t sock) {
  // Winsock's SO_REUSEADDR would let another program take the port over.
  const BOOL yes = TRUE;
  ::setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
}
int PollSockets(std::vector<pollfd>& sockets, std::chrono::milliseconds wait) {
  return WSAPoll(sockets.data(), static_cast<ULONG>(sockets.size()),
                 static_cast<INT>(wait.count()));
}
bool MakeNonBlocking(socket_t sock) {
  u_long on = 1;
  return ioctlsocket(sock, FIONBIO, &on) == 0;
}
long ReadSocket(socket_t sock, char* into, std::size_t most) {
  return ::recv(sock, into, static_cast<int>(std::min<std::size_t>(most, 1 << 30)), 0);
}
long SendSocket(socket_t sock, const char* bytes, std::size_t size) {
  return ::send(sock, bytes, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
}
bool SocketWouldBlock() {
  return WSAGetLastError() == WSAEWOULDBLOCK;
}
void ShutdownSocket(socket_t sock) {
  ::shutdown(sock, SD_BOTH);
}
void CloseSocket(socket_t sock) {
  ::closesocket(sock);
}
#else
bool StartSockets() {
  return true;
}
int LastSocketError() {
  return errno;
}
std::string SocketErrorText(int error) {
  return std::strerror(error);
}
std::string ResolveErrorText(int error) {
  return ::gai_strerror(error);
}
void ReuseOwnAddress(socket_t sock) {
  // Only a socket of our own that waits out its close may hold the port meanwhile.
  const int yes = 1;
  ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}
int PollSockets(std::vector<pollfd>& sockets, std::chrono::milliseconds wait) {
  int n;
  do {
    n = ::poll(sockets.data(), sockets.size(), static_cast<int>(wait.count()));
  } while (n < 0 && errno == EINTR);
  return n;
}
bool MakeNonBlocking(socket_t sock) {
  const int flags = ::fcntl(sock, F_GETFL);
  return flags >= 0 && ::fcntl(sock, F_SETFL, flags | O_NONBLOCK) == 0;
}
long ReadSocket(socket_t sock, char* into, std::size_t most) {
  long n;
  do {
    n = ::recv(sock, into, most, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}
long SendSocket(socket_t sock, const char* bytes, std::size_t size) {
  // A client gone before its answer is an error here, not a SIGPIPE for the whole station.
  long n;
  do {
    n = ::send(sock, bytes, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n;
}
bool SocketWouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK;
}
void ShutdownSocket(socket_t sock) {
  ::shutdown(sock, SHUT_RDWR);
}
void CloseSocket(socket_t sock) {
  ::close(sock);
}
#endif

bool SendAll(socket_t sock, std::string_view bytes, std::chrono::steady_clock::time_point by) {
  using std::chrono::milliseconds;
  std::vector<pollfd> self{{sock, POLLOUT, 0}};
  while (!bytes.empty()) {
    const long n = SendSocket(sock, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0 || !SocketWouldBlock()) return false;
    const auto left = std::chrono::ceil<milliseconds>(by - std::chrono::steady_clock::now());
    if (left <= milliseconds(0) || PollSockets(self, left) <= 0) return false;
  }
  return true;
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
      ::connect(sock_, any, size) != 0 || !MakeNonBlocking(sock_)) {
    CloseSocket(sock_);
    sock_ = INVALID_SOCKET;
  }
}

WakeSocket::~WakeSocket() {
  if (Valid()) CloseSocket(sock_);
}

void WakeSocket::Wake() {
  // A full buffer already holds a wake: losing this one changes nothing.
  const char byte = 0;
  SendSocket(sock_, &byte, 1);
}

void WakeSocket::Drain() {
  char bytes[64];
  while (ReadSocket(sock_, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace plcburn
