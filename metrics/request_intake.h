#pragma once
// Between the acceptor and the HTTP answers: holds each accepted connection, on one thread, until
// the client has sent a whole request, and only then gives it to one of a few workers. A client
// that sends half a request, nothing, or garbage costs a slot here for a short while, never a
// worker; the slots are bounded, and when they are all taken the oldest unfinished connection
// is closed, so the descriptors stay few and a new scrape always gets in.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "metrics/socket_poll.h"

namespace plcburn {

class RequestIntake {
 public:
  struct Limits {
    std::size_t connections;                // held at once: being read, waiting or being answered
    std::chrono::milliseconds requestTime;  // from its accept to the whole request
    // A connection at least this old may be closed to make room (a younger one may be a client
    // that has connected and not yet been given the processor to send).
    std::chrono::milliseconds makeRoomAfter;
    std::size_t headBytes;  // the request line and headers at most
    std::size_t bodyBytes;  // a body longer than this is not waited for
    std::size_t workers;
  };
  // Answers a whole request (`request` holds all of it) on `sock`; the intake closes it after.
  using Answer = std::function<void(socket_t sock, const std::string& request)>;

  RequestIntake(const Limits& limits, Answer answer);
  ~RequestIntake();  // stops
  RequestIntake(const RequestIntake&) = delete;
  RequestIntake& operator=(const RequestIntake&) = delete;

  bool Valid() const { return wake_.Valid(); }  // false when its threads cannot be woken

  // From the acceptor: holds `sock` from now on, once there is room. Closes it when stopped.
  void Take(socket_t sock);
  // Closes every connection and ends every thread; answers in progress are cut short.
  void Stop();

 private:
  struct Whole {
    socket_t sock;
    std::string request;
  };

  void Gather();  // the reading thread
  void Work();    // each worker

  const Limits limits_;
  const Answer answer_;
  WakeSocket wake_;

  std::mutex mutex_;               // guards everything below
  std::condition_variable room_;   // the acceptor waits here while every slot is taken
  std::condition_variable whole_;  // the workers wait here for whole requests
  bool stopping_ = false;
  bool roomWanted_ = false;
  std::size_t held_ = 0;             // sockets the intake has and has not closed
  std::vector<socket_t> arrived_;    // taken, not yet seen by the reading thread
  std::deque<Whole> wholes_;         // whole requests waiting for a worker
  std::vector<socket_t> answering_;  // in the workers' hands

  std::thread gatherer_;
  std::vector<std::thread> workers_;
};

// The size of the whole request once `got` holds its head: the head and its Content-Length body
// when that is at most `bodyBytes`; 0 while the head is incomplete. A longer body, one sent in
// chunks, or a head that is refused is not waited for: the request is answered on what has come
// (/metrics takes no body).
std::size_t WholeRequestSize(const std::string& got, std::size_t bodyBytes);

}  // namespace plcburn
