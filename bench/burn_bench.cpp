// Times full burns of a 426,032-byte image into plcsim on a pseudo-terminal and compares them
// with the floor the wire allows: every byte both ways at its phase's line rate, plus the waits
// the protocol fixes (the dummy-frame reads, the reconnect pause). Also the host time per block
// exchange when plcsim answers at once. With --scraped, each model's line-rate burn is timed again
// while its metrics are scraped often, in bursts, and with some requests left half-sent, to show
// that the metrics endpoint does not slow a burn.
//
// usage: burn_bench PLCSIM [--scraped] [MODEL...]   (default models: QN4 VL)

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/common/station_metrics_view.h"
#include "burn/start_burn.h"
#include "core/memory_image.h"
#include "link/serial_link.h"
#include "metrics/metrics_server.h"
#include "res/builtin_image.h"
#include "tests/support/http_exchange.h"

extern char** environ;

namespace plcburn {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Wire time of `bytes` characters at `baud`, with a start bit, data bits, parity and a stop bit.
double WireSeconds(std::size_t bytes, std::uint32_t baud, int bitsPerChar) {
  return static_cast<double>(bytes) * bitsPerChar / baud;
}

struct PhaseFigures {
  double measured = 0;  // seconds inside writes, reads and waits
  double floor = 0;
};

// Counts what crosses the link, per phase, and how long each block exchange takes on the host.
class MeasuringLink : public Link {
 public:
  MeasuringLink(std::unique_ptr<Link> inner, const BurnState& state, std::uint32_t initialBaud,
                std::map<std::string, PhaseFigures>& phases, std::vector<double>& blockExchanges)
      : inner_(std::move(inner)),
        state_(state),
        baud_(initialBaud),
        phases_(phases),
        blockExchanges_(blockExchanges) {}

  std::size_t Write(const std::uint8_t* d, std::size_t n) override {
    const auto start = Clock::now();
    const std::size_t moved = inner_->Write(d, n);
    Account(start, moved, 0);
    blockStart_ = n > 100 ? start : Clock::time_point{};
    return moved;
  }
  std::size_t Read(std::uint8_t* b, std::size_t n) override {
    const auto start = Clock::now();
    const std::size_t got = inner_->Read(b, n);
    // Only the dummy frames' drain waits out its short time-out by design.
    const double fixedWait = got < n && timeouts_.ReadTotalTimeoutConstant == 200 ? 0.2 : 0.0;
    Account(start, got, fixedWait);
    if (blockStart_ != Clock::time_point{} && got == 1) {
      blockExchanges_.push_back(Seconds(Clock::now() - blockStart_));
      blockStart_ = {};
    }
    return got;
  }
  bool SetTimeouts(const CommTimeouts& t) override {
    timeouts_ = t;
    return inner_->SetTimeouts(t);
  }
  bool ApplyLineProfile(const LineProfile& p) override {
    baud_ = p.BaudRate;
    bits_ = 1 + p.ByteSize + (p.parity == Parity::None ? 0 : 1) + 1;
    return inner_->ApplyLineProfile(p);
  }
  void Close() override { inner_->Close(); }

 private:
  void Account(Clock::time_point start, std::size_t bytes, double fixedWait) {
    PhaseFigures& f = phases_[PhaseName()];
    f.measured += Seconds(Clock::now() - start);
    f.floor += WireSeconds(bytes, baud_, bits_) + fixedWait;
  }
  std::string PhaseName() const {
    switch (state_.flashStatus.load()) {
      case ERASE: return "2 erase";
      case PROGRAM: return "3 program";
      default: return "1 handshake";
    }
  }

  std::unique_ptr<Link> inner_;
  const BurnState& state_;
  std::uint32_t baud_;
  int bits_ = 10;
  CommTimeouts timeouts_{};
  std::map<std::string, PhaseFigures>& phases_;
  std::vector<double>& blockExchanges_;
  Clock::time_point blockStart_{};
};

class MeasuringOpener : public LinkOpener {
 public:
  MeasuringOpener(const BurnState& state, std::uint32_t baud,
                  std::map<std::string, PhaseFigures>& phases, std::vector<double>& blocks)
      : state_(state), baud_(baud), phases_(phases), blocks_(blocks) {}
  OpenResult OpenCom(const std::string& port) override {
    OpenResult r = OpenSerialPort(port);
    if (r.link)
      r.link = std::make_unique<MeasuringLink>(std::move(r.link), state_, baud_, phases_, blocks_);
    return r;
  }
  OpenResult OpenUsb() override { return {nullptr, "the bench burns through a pseudo-terminal"}; }

 private:
  const BurnState& state_;
  std::uint32_t baud_;
  std::map<std::string, PhaseFigures>& phases_;
  std::vector<double>& blocks_;
};

class BenchOperator : public Operator {
 public:
  explicit BenchOperator(std::map<std::string, PhaseFigures>& phases) : phases_(phases) {}
  void ShowMessage(std::string_view, std::string_view text, MessageIcon icon) override {
    last = std::string(text);
    failed = icon == MessageIcon::Error;
  }
  void SetStartEnabled(bool) override {}
  void WaitMs(std::uint32_t ms) override {
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    PhaseFigures& f = phases_["1 handshake"];
    f.measured += Seconds(Clock::now() - start);
    f.floor += ms / 1000.0;
  }
  std::string last;
  bool failed = false;

 private:
  std::map<std::string, PhaseFigures>& phases_;
};

// Runs plcsim on a pseudo-terminal; returns its pid and the pty path.
pid_t StartSim(const std::string& plcsim, const std::string& model, bool lineRate,
               std::string& pty) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<std::string> args{plcsim, "--model", model};
  if (lineRate) args.push_back("--line-rate");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, plcsim.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) return -1;
  char c;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') pty += c;
  close(pipeFds[0]);
  return pid;
}

std::uint32_t PtySpeed(const std::string& pty) {
  const int fd = open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios tio{};
  const bool ok = fd >= 0 && tcgetattr(fd, &tio) == 0;
  if (fd >= 0) close(fd);
  if (!ok) return 38400;
  switch (cfgetospeed(&tio)) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 38400;
  }
}

struct RunResult {
  bool ok = false;
  double total = 0, floor = 0;
  std::map<std::string, PhaseFigures> phases;
  std::vector<double> blocks;
};

RunResult Burn(const std::string& plcsim, const std::string& model, bool lineRate,
               BurnRecording* recording = nullptr) {
  RunResult r;
  std::string pty;
  const pid_t sim = StartSim(plcsim, model, lineRate, pty);
  if (sim <= 0 || pty.empty()) return r;
  const std::size_t row = *FindModel(model);
  Selection selection(row);
  selection.SetComPort(pty);  // a path: USB models burn through it as a serial-like link
  BurnState state;
  MemoryImage image(BuiltinImage());
  BenchOperator ui(r.phases);
  MeasuringOpener opener(state, PtySpeed(pty), r.phases, r.blocks);
  BurnSession session{state, selection, ui, opener, image, nullptr, recording};
  const auto start = Clock::now();
  StartBurn(session);
  r.total = Seconds(Clock::now() - start);
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  r.ok = !ui.failed;
  for (const auto& [name, f] : r.phases) r.floor += f.floor;
  if (!r.ok) std::fprintf(stderr, "%s: burn failed: %s\n", model.c_str(), ui.last.c_str());
  return r;
}

// Scrapes a metrics server ten times a second (ten times what a Prometheus set to 1 s asks),
// with a burst of 200 clients at once every 5 s, while some connections hang with half a request.
class Scraper {
 public:
  explicit Scraper(int port) {
    for (int& fd : stalled_) {
      fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in at{
          AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
      if (connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) send(fd, "GET /met", 8, 0);
    }
    thread_ = std::thread([this, port] {
      for (int tick = 1; !stop_; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<std::thread> burst;
        for (int i = 0; i < (tick % 50 == 0 ? 200 : 1); ++i)
          burst.emplace_back([this, port] {
            const auto r = plcburn::test::HttpExchange(
                port, plcburn::test::HttpRequestBytes("GET", "/metrics"));
            if (r.status == 200) ++scrapes_;
          });
        for (std::thread& t : burst) t.join();
      }
    });
  }
  ~Scraper() {
    stop_ = true;
    thread_.join();
    for (const int fd : stalled_) close(fd);
  }
  long Scrapes() const { return scrapes_; }

 private:
  int stalled_[3] = {};
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<long> scrapes_{0};
};

// A line-rate burn whose record feeds a station's metrics while they are scraped.
RunResult ScrapedBurn(const std::string& plcsim, const std::string& model, long& scrapes) {
  StationMetrics metrics({"bench", {{"builtin", ""}}});
  MetricsServer server(metrics);
  if (!server.Start({"127.0.0.1", 0})) {
    std::fprintf(stderr, "%s\n", server.Error().c_str());
    return {};
  }
  // Fed as a station feeds them: the burn's state, then its record once it has ended.
  StationMetricsView view(nullptr, &metrics);
  const DeviceLabel bench{"bench", "bench", "bench"};
  struct Kept : BurnJournal {
    BurnRecord record;
    void Keep(const BurnRecord& r) override { record = r; }
  } kept;
  BurnRecording recording{kept, {}};
  Scraper scraper(server.Port());
  view.Changed(bench, SlotState::Burning, {});
  RunResult r = Burn(plcsim, model, true, &recording);
  view.Result(bench, kept.record);
  view.Changed(bench, EndedState(VerdictOf(kept.record)), {});
  scrapes = scraper.Scrapes();
  return r;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace
}  // namespace plcburn

int main(int argc, char** argv) {
  using namespace plcburn;
  if (argc < 2) {
    std::fprintf(stderr, "usage: burn_bench PLCSIM [--scraped] [MODEL...]\n");
    return 2;
  }
  std::vector<std::string> models(argv + 2, argv + argc);
  const bool scraped = !models.empty() && models.front() == "--scraped";
  if (scraped) models.erase(models.begin());
  if (models.empty()) models = {"QN4", "VL"};
  int failures = 0;
  for (const std::string& model : models) {
    if (!FindModel(model)) {
      std::fprintf(stderr, "unknown model %s\n", model.c_str());
      return 2;
    }
    const RunResult wire = Burn(argv[1], model, true);
    failures += wire.ok ? 0 : 1;
    std::printf("%s, %zu-byte image at the line rate:\n", model.c_str(), BuiltinImage().size());
    for (const auto& [name, f] : wire.phases)
      std::printf("  %-12s measured %7.3f s  floor %7.3f s  ratio %.4f\n", name.c_str() + 2,
                  f.measured, f.floor, f.floor > 0 ? f.measured / f.floor : 0.0);
    std::printf("  %-12s measured %7.3f s  floor %7.3f s  ratio %.4f\n", "whole burn", wire.total,
                wire.floor, wire.total / wire.floor);
    if (scraped) {
      long scrapes = 0;
      const RunResult busy = ScrapedBurn(argv[1], model, scrapes);
      failures += busy.ok ? 0 : 1;
      std::printf("  %-12s measured %7.3f s  floor %7.3f s  ratio %.4f  (%+.2f %%, %ld scrapes)\n",
                  "scraped", busy.total, busy.floor, busy.total / busy.floor,
                  (busy.total / busy.floor / (wire.total / wire.floor) - 1) * 100, scrapes);
    }
    const RunResult host = Burn(argv[1], model, false);
    failures += host.ok ? 0 : 1;
    std::printf(
        "  without line rate: %.3f s in all, median block exchange %.1f us over %zu blocks\n",
        host.total, Median(host.blocks) * 1e6, host.blocks.size());
  }
  return failures == 0 ? 0 : 1;
}
