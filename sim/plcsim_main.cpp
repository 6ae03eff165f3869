// plcsim: one simulated PLC behind a pseudo-terminal, for running the real burner against it.
// Prints the terminal's path as its first line, then serves until killed, until the transfer's
// EOT has been acknowledged (exit 0) or until a hangup fault fires (exit 3).

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "core/catalogue.h"
#include "sim/plc_sim.h"
#include "sim/plcsim_help.h"

namespace {

using namespace plcburn;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) {
  stopRequested = 1;
}

struct Args {
  std::size_t row = 0;
  SimOptions options;
  bool lineRate = false;
  std::string saveFile;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr,
               "plcsim: %s\n"
               "usage: plcsim --model NAME [--boot] [--fault FAULT]... [--line-rate] [--save FILE]"
               " [--d1386 V] [--d1148 V] [--boot-id V]\n",
               problem.c_str());
  return 2;
}

bool HasFault(const SimOptions& options, FaultKind kind) {
  return std::any_of(options.faults.begin(), options.faults.end(),
                     [kind](const SimFault& f) { return f.kind == kind; });
}

std::optional<std::uint16_t> ParseWord(const char* text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(v);
}

// Returns an exit status when the program ends here: unusable arguments, --help, --version.
std::optional<int> ParseArgs(int argc, char** argv, Args& args) {
  bool haveModel = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--boot") {
      args.options.startInBootLoader = true;
    } else if (arg == "--line-rate") {
      args.lineRate = true;
    } else if (arg == "--help" || arg == "-h" || arg == "--version") {
      std::fputs((arg == "--version" ? PlcsimVersionText() : PlcsimHelpText()).c_str(), stdout);
      return 0;
    } else if (arg == "--model" || arg == "--fault" || arg == "--save" || arg == "--d1386" ||
               arg == "--d1148" || arg == "--boot-id") {
      const char* v = value();
      if (!v) return Usage(arg + " needs a value");
      if (arg == "--model") {
        const auto row = FindModel(v);
        if (!row) return Usage(std::string("unknown model ") + v);
        args.row = *row;
        haveModel = true;
      } else if (arg == "--fault") {
        const auto fault = ParseFault(v);
        if (!fault) return Usage(std::string("unknown fault ") + v);
        args.options.faults.push_back(*fault);
      } else if (arg == "--save") {
        args.saveFile = v;
      } else {
        const auto word = ParseWord(v);
        if (!word) return Usage(arg + " needs a number from 0 to 0xFFFF");
        if (arg == "--d1386")
          args.options.d1386 = *word;
        else if (arg == "--d1148")
          args.options.d1148 = *word;
        else
          args.options.bootId = *word;
      }
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (!haveModel) return Usage("--model is required");
  return std::nullopt;
}

std::uint32_t BaudOf(speed_t speed) {
  switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 9600;
  }
}

// The burner's line settings as far as a pseudo-terminal keeps them. Linux forces 8 data bits
// and no parity on a pty (and may refuse a change to them), so only the speed and the stop bits
// tell anything; the character format is taken to be the one the PLC runs at.
LineProfile LineOf(const termios& t, LineProfile plcLine) {
  plcLine.BaudRate = BaudOf(cfgetospeed(&t));
  plcLine.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
  return plcLine;
}

// Wire time of one character: start bit, data bits, parity bit, stop bits.
microseconds CharTime(const LineProfile& p) {
  const unsigned bits =
      1 + p.ByteSize + (p.parity != Parity::None ? 1 : 0) + (p.StopBits == 2 ? 2 : 1);
  return microseconds(bits * 1'000'000ull / p.BaudRate);
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;  // nobody on the other side: the bytes are lost, as on a wire
    data += w;
    n -= static_cast<std::size_t>(w);
  }
}

class Server {
 public:
  Server(int master, Args& args) : master_(master), args_(args), sim_(args.row, args.options) {}

  int Run() {
    bool linkOpen = false;
    bool idleNoted = true;
    auto lastRx = Clock::now();
    std::uint8_t buf[4096];
    while (!stopRequested) {
      pollfd p{master_, POLLIN, 0};
      const int r = poll(&p, 1, 50);
      if (r < 0) {
        if (errno == EINTR) continue;
        std::perror("plcsim: poll");
        return Finish(1);
      }
      if (p.revents & POLLIN) {
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) {
          if (!linkOpen) {
            linkOpen = true;
            sim_.OnLinkOpened();
          }
          Serve(buf, static_cast<std::size_t>(n));
          lastRx = Clock::now();
          idleNoted = false;
          if (sim_.HungUp()) {
            std::this_thread::sleep_for(milliseconds(200));
            close(master_);
            return Finish(3);
          }
          if (sim_.TransferComplete()) {
            // Let the burner read the last ACK before the terminal goes away.
            std::this_thread::sleep_for(milliseconds(200));
            return Finish(0);
          }
          continue;
        }
      }
      if (p.revents & POLLHUP) {
        // No process has the terminal open: the cable is out or the port closed.
        if (linkOpen) {
          linkOpen = false;
          sim_.OnLinkClosed();
        }
        std::this_thread::sleep_for(milliseconds(10));
        continue;
      }
      if (!linkOpen) {
        linkOpen = true;
        sim_.OnLinkOpened();
      }
      if (!idleNoted && Clock::now() - lastRx > milliseconds(500)) {
        idleNoted = true;
        sim_.OnLineIdle();
      }
    }
    return Finish(0);
  }

 private:
  void Serve(const std::uint8_t* data, std::size_t n) {
    LineProfile line = sim_.ExpectedLine();
    if (args_.lineRate) {
      termios t{};
      if (tcgetattr(master_, &t) == 0) {
        line = LineOf(t, sim_.ExpectedLine());
        sim_.OnLineProfile(line);
      }
      // A real PLC cannot answer before the request has crossed the wire.
      std::this_thread::sleep_for(CharTime(line) * n);
    }
    sim_.Receive(data, n);
    // The image is on disk before the last ACK goes out: whoever waits for the burn to end
    // finds it there.
    if (sim_.TransferComplete()) Save();
    if (!args_.lineRate) {
      const auto out = sim_.TakeOutput(sim_.Pending());
      WriteAll(master_, out.data(), out.size());
      return;
    }
    const microseconds charTime = CharTime(line);
    const std::size_t chunk =
        std::max<std::size_t>(1, static_cast<std::size_t>(milliseconds(5) / charTime));
    while (sim_.Pending() > 0) {
      const auto out = sim_.TakeOutput(chunk);
      WriteAll(master_, out.data(), out.size());
      std::this_thread::sleep_for(charTime * out.size());
    }
  }

  // Writes the received image once; false when the file could not be written.
  bool Save() {
    if (args_.saveFile.empty() || saved_) return saveOk_;
    saved_ = true;
    std::ofstream file(args_.saveFile, std::ios::binary | std::ios::trunc);
    const auto& image = sim_.ReceivedImage();
    file.write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    saveOk_ = static_cast<bool>(file);
    if (!saveOk_) std::fprintf(stderr, "plcsim: cannot write %s\n", args_.saveFile.c_str());
    return saveOk_;
  }

  int Finish(int status) { return Save() || status != 0 ? status : 1; }

  int master_;
  Args& args_;
  PlcSim sim_;
  bool saved_ = false;
  bool saveOk_ = true;
};

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (const auto status = ParseArgs(argc, argv, args)) return *status;

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("plcsim: pseudo-terminal");
    return 1;
  }
  const char* slave = ptsname(master);
  if (!slave) {
    std::perror("plcsim: ptsname");
    return 1;
  }
  // The settings are the terminal's, whichever side sets them: the burner finds them on opening.
  termios t{};
  if (tcgetattr(master, &t) == 0) {
    cfmakeraw(&t);
    if (HasFault(args.options, FaultKind::XonXoff)) t.c_iflag |= IXON | IXOFF;
    tcsetattr(master, TCSANOW, &t);
  }
  std::printf("%s\n", slave);
  std::fflush(stdout);

  Server server(master, args);
  return server.Run();
}
