#include "app/cli/output_queue.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <thread>
#include <utility>

namespace plcburn {

namespace {

// Straight to the descriptor: a writer stalled here holds no lock of the C library's that the
// program's end would wait for.
void WriteAll(std::FILE* stream, std::string_view text) {
#ifdef _WIN32
  const int fd = _fileno(stream);
  while (!text.empty()) {
    const int n = _write(fd, text.data(), static_cast<unsigned>(text.size()));
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
#else
  const int fd = fileno(stream);
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a reader that has gone: what it would have read is lost
    text.remove_prefix(static_cast<std::size_t>(n));
  }
#endif
}

}  // namespace

// Shared with the writer, which may outlive the queue when a reader never comes back.
struct OutputQueue::Shared {
  struct Item {
    Stream stream;
    std::string text;
  };

  Shared(std::size_t max, std::FILE* o, std::FILE* e) : maxBytes(max), out(o), err(e) {}

  const std::size_t maxBytes;
  std::FILE* const out;
  std::FILE* const err;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable drained;
  std::deque<Item> items;
  std::size_t bytes = 0;
  std::size_t dropped = 0;        // lines, since the start
  std::size_t droppedUnsaid = 0;  // lines not yet said
  std::vector<std::string> live;
  bool liveChanged = false;
  bool writing = false;
  bool closing = false;

  // Runs on the writer's thread: the only one that writes to the streams.
  void Write() {
    int liveDrawn = 0;
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return closing || !items.empty() || liveChanged; });
      if (items.empty() && !liveChanged) break;  // closing, and all said
      std::deque<Item> batch;
      batch.swap(items);
      bytes = 0;
      std::vector<std::string> frame = live;
      const bool redraw = liveChanged || !batch.empty();
      liveChanged = false;
      const std::size_t unsaid = std::exchange(droppedUnsaid, 0);
      writing = true;
      lock.unlock();

      if (redraw && liveDrawn > 0) WriteAll(err, "\x1b[" + std::to_string(liveDrawn) + "A\r\x1b[J");
      liveDrawn = 0;
      for (const Item& item : batch) WriteAll(item.stream == Stream::Out ? out : err, item.text);
      if (unsaid > 0) {
        WriteAll(err, "plcburn-cli: " + std::to_string(unsaid) +
                          (unsaid == 1 ? " line" : " lines") +
                          " of output dropped while nobody read them\n");
      }
      if (redraw) {
        std::string text;
        for (const std::string& line : frame) text += line + "\x1b[K\n";
        WriteAll(err, text);
        liveDrawn = static_cast<int>(frame.size());
      }

      lock.lock();
      writing = false;
      drained.notify_all();
    }
    writing = false;
    drained.notify_all();
  }
};

OutputQueue::OutputQueue(std::size_t maxBytes, std::FILE* out, std::FILE* err)
    : shared_(std::make_shared<Shared>(maxBytes, out, err)) {
  // What the program wrote through the C library before goes out first.
  std::fflush(out);
  std::fflush(err);
  std::thread([shared = shared_] { shared->Write(); }).detach();
}

OutputQueue::~OutputQueue() {
  Close(std::chrono::seconds(1));
}

void OutputQueue::Post(Stream stream, std::string text) {
  Shared& s = *shared_;
  {
    std::lock_guard lock(s.mutex);
    if (s.closing) return;
    if (s.bytes + text.size() > s.maxBytes) {
      const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
      s.dropped += lines;
      s.droppedUnsaid += lines;
      return;
    }
    s.bytes += text.size();
    s.items.push_back({stream, std::move(text)});
  }
  s.wake.notify_one();
}

void OutputQueue::SetLive(std::vector<std::string> lines) {
  Shared& s = *shared_;
  {
    std::lock_guard lock(s.mutex);
    if (s.closing) return;
    s.live = std::move(lines);
    s.liveChanged = true;
  }
  s.wake.notify_one();
}

std::size_t OutputQueue::Dropped() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->dropped;
}

void OutputQueue::Close(std::chrono::milliseconds limit) {
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  if (s.closing) return;
  s.closing = true;
  s.wake.notify_one();
  s.drained.wait_for(lock, limit, [&] { return s.items.empty() && !s.liveChanged && !s.writing; });
}

}  // namespace plcburn
