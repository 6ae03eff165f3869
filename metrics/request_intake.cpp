#include "metrics/request_intake.h"

#include <algorithm>
#include <cstdint>

#include "metrics/http_request.h"

namespace plcburn {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Reading {
  socket_t sock;
  Clock::time_point since;
  std::string got;
};

void Close(socket_t sock) {
  ShutdownSocket(sock);
  CloseSocket(sock);
}

// Takes what the client sent beyond its request before closing: a socket closed with bytes unread
// sends a reset, which can take the answer with it before the client has read it.
void CloseAnswered(socket_t sock) {
  char unread[4096];
  for (int i = 0; i < 16 && ReadSocket(sock, unread, sizeof unread) > 0; ++i) {
  }
  Close(sock);
}

}  // namespace

std::size_t WholeRequestSize(const std::string& got, std::size_t bodyBytes) {
  const std::size_t head = HttpHeadSize(got);
  if (head == 0) return 0;
  const HttpRequest request = ParseHttpRequest(got, SIZE_MAX, bodyBytes);
  return request.refusal != 0 ? head : head + request.contentLength;
}

RequestIntake::RequestIntake(const Limits& limits, Answer answer)
    : limits_(limits), answer_(std::move(answer)) {
  if (!wake_.Valid()) {
    stopping_ = true;
    return;
  }
  gatherer_ = std::thread([this] { Gather(); });
  for (std::size_t i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { Work(); });
}

RequestIntake::~RequestIntake() {
  Stop();
}

void RequestIntake::Take(socket_t sock) {
  std::unique_lock lock(mutex_);
  while (!stopping_ && held_ >= limits_.connections) {
    roomWanted_ = true;
    wake_.Wake();
    room_.wait(lock);
  }
  roomWanted_ = false;
  if (stopping_) {
    Close(sock);
    return;
  }
  ++held_;
  arrived_.push_back(sock);
  wake_.Wake();
}

void RequestIntake::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const socket_t sock : answering_) ShutdownSocket(sock);
  }
  room_.notify_all();
  whole_.notify_all();
  if (wake_.Valid()) wake_.Wake();
  if (gatherer_.joinable()) gatherer_.join();
  for (std::thread& worker : workers_)
    if (worker.joinable()) worker.join();
  std::lock_guard lock(mutex_);
  for (const socket_t sock : arrived_) Close(sock);
  for (const Whole& whole : wholes_) Close(whole.sock);
  held_ -= arrived_.size() + wholes_.size();
  arrived_.clear();
  wholes_.clear();
}

void RequestIntake::Gather() {
  const std::size_t most = limits_.headBytes + limits_.bodyBytes;
  std::deque<Reading> reading;  // oldest first
  std::vector<pollfd> polled;
  std::vector<char> buffer(most);
  std::vector<socket_t> closing;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    auto now = Clock::now();
    for (const socket_t sock : arrived_) reading.push_back({sock, now, {}});
    arrived_.clear();
    // Waits at most until the oldest connection's time is up, or it may make room.
    milliseconds wait(-1);
    if (!reading.empty()) {
      const Clock::time_point since = reading.front().since;
      auto until = since + limits_.requestTime;
      if (roomWanted_ && held_ >= limits_.connections) {
        if (now - since >= limits_.makeRoomAfter) {
          Close(reading.front().sock);
          reading.pop_front();
          --held_;
          room_.notify_one();
          continue;
        }
        until = std::min(until, since + limits_.makeRoomAfter);
      }
      wait = std::max(milliseconds(0), std::chrono::ceil<milliseconds>(until - now));
    }
    lock.unlock();

    polled.assign(1, pollfd{wake_.Socket(), POLLIN, 0});
    for (const Reading& r : reading) polled.push_back({r.sock, POLLIN, 0});
    PollSockets(polled, wait);
    if (polled[0].revents != 0) wake_.Drain();
    now = Clock::now();
    std::vector<Whole> wholes;
    std::deque<Reading> still;
    for (std::size_t i = 0; i < reading.size(); ++i) {
      Reading& r = reading[i];
      if (polled[i + 1].revents != 0) {
        const long n = ReadSocket(r.sock, buffer.data(), most - r.got.size());
        if (n == 0 || (n < 0 && !SocketWouldBlock())) {
          closing.push_back(r.sock);
          continue;
        }
        if (n > 0) r.got.append(buffer.data(), static_cast<std::size_t>(n));
        const std::size_t size = WholeRequestSize(r.got, limits_.bodyBytes);
        // A head too long to end is answered on what has come: the server says why it refuses.
        if ((size > 0 && r.got.size() >= size) || r.got.size() >= most ||
            (size == 0 && r.got.size() >= limits_.headBytes)) {
          wholes.push_back({r.sock, std::move(r.got)});
          continue;
        }
      }
      if (now - r.since >= limits_.requestTime)
        closing.push_back(r.sock);
      else
        still.push_back(std::move(r));
    }
    reading.swap(still);

    lock.lock();
    for (const socket_t sock : closing) Close(sock);
    held_ -= closing.size();
    if (!closing.empty()) room_.notify_one();
    closing.clear();
    for (Whole& whole : wholes) {
      wholes_.push_back(std::move(whole));
      whole_.notify_one();
    }
  }
  for (const Reading& r : reading) Close(r.sock);
  held_ -= reading.size();
}

void RequestIntake::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    whole_.wait(lock, [&] { return stopping_ || !wholes_.empty(); });
    if (stopping_) return;
    const Whole whole = std::move(wholes_.front());
    wholes_.pop_front();
    answering_.push_back(whole.sock);
    lock.unlock();
    answer_(whole.sock, whole.request);
    lock.lock();
    std::erase(answering_, whole.sock);
    CloseAnswered(whole.sock);
    --held_;
    room_.notify_one();
  }
}

}  // namespace plcburn
