// What a burning station costs: the time from a device node appearing in a watched folder to the
// first byte the station sends on it (median of 20 plugs of a pseudo-terminal linked into the
// folder, the byte seen on the terminal's other side), and an idle station of 16 slots: its CPU
// time over a minute (/proc/PID/stat) and its resident memory (VmRSS). Then how long a station's
// GET /metrics takes while two simulated PLCs burn and 50 connections hold half a request each.
//
// usage: station_bench PLCBURN_CLI PLCSIM [IDLE_SECONDS]   (default 60)

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// `args`, its standard output to `out` and its errors thrown away.
pid_t Spawn(std::vector<std::string> args, const char* out = "/dev/null") {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// plcburn-cli --watch on `slots`, its output thrown away; returns its pid once it has looked.
pid_t StartStation(const char* cli, const std::vector<std::string>& slots, const fs::path& work,
                   const std::vector<std::string>& more = {}) {
  const fs::path image = work / "QN4_bench.bin";
  std::ofstream(image, std::ios::binary) << std::string(16384, '\x5a');
  std::vector<std::string> args{cli, "--watch"};
  args.insert(args.end(), slots.begin(), slots.end());
  args.insert(args.end(), {"--image", image.string(), "--no-log"});
  args.insert(args.end(), more.begin(), more.end());
  const pid_t pid = Spawn(args);
  std::this_thread::sleep_for(milliseconds(500));  // its first look at the slots
  return pid;
}

void StopStation(pid_t pid) {
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// Milliseconds from the link to a fresh pseudo-terminal appearing in `folder` to the first byte
// written to it; negative if none came within 10 s.
double OnePlug(const fs::path& folder, int n) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const fs::path link = folder / ("plc" + std::to_string(n));
  const auto appeared = Clock::now();
  fs::create_symlink(ptsname(master), link);
  pollfd p{master, POLLIN, 0};
  double ms = -1;
  if (poll(&p, 1, 10000) > 0 && (p.revents & POLLIN) != 0)
    ms = std::chrono::duration<double, std::milli>(Clock::now() - appeared).count();
  // Gone: the burn fails on the hang-up and the slot waits for the next plug.
  fs::remove(link);
  close(master);
  return ms;
}

long Ticks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {  // field 3 is the state
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

std::string Status(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(key + ":"))
      return line.substr(line.find_first_not_of(" \t", key.size() + 1));
  return "?";
}

sockaddr_in Loopback(int port) {
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(static_cast<std::uint16_t>(port));
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return at;
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at = Loopback(0);
  socklen_t size = sizeof at;
  bind(fd, reinterpret_cast<sockaddr*>(&at), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
  close(fd);
  return ntohs(at.sin_port);
}

// A connection that has sent `bytes` and is left so; -1 if it could not be made.
int Connected(int port, const std::string& bytes) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
    close(fd);
    return -1;
  }
  return fd;
}

// GET /metrics: the answer, and in `ms` the time until its last byte; empty after 15 s.
std::string Scrape(int port, double& ms) {
  const auto start = Clock::now();
  const int fd = Connected(port, "GET /metrics HTTP/1.1\r\nHost: station\r\n\r\n");
  std::string answer;
  pollfd p{fd, POLLIN, 0};
  char buffer[4096];
  for (ssize_t n = 1; fd >= 0 && n > 0;) {
    const auto left = std::chrono::seconds(15) - (Clock::now() - start);
    if (poll(&p, 1, static_cast<int>(std::chrono::duration_cast<milliseconds>(left).count())) <= 0)
      break;
    n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) answer.append(buffer, static_cast<std::size_t>(n));
  }
  if (fd >= 0) close(fd);
  ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return answer.starts_with("HTTP/1.1 200") ? answer : std::string();
}

// plcsim of the QN4 at the real line rates, its terminal linked as `link`; returns its pid.
pid_t PlugPlcsim(const char* plcsim, const fs::path& link, const fs::path& work) {
  const fs::path said = work / (link.parent_path().filename().string() + ".pty");
  const pid_t pid = Spawn({plcsim, "--model", "QN4", "--line-rate"}, said.c_str());
  std::string path;
  for (int i = 0; i < 500 && path.empty(); ++i) {
    std::this_thread::sleep_for(milliseconds(10));
    std::ifstream in(said);
    std::getline(in, path);
  }
  if (path.empty()) {
    std::fprintf(stderr, "plcsim said no terminal\n");
    std::exit(1);
  }
  fs::create_symlink(path, link);
  return pid;
}

// Scrapes the station on `port` every 100 ms while both its slots burn, with 50 connections
// always holding half a request (those the station closes are opened again).
void ScrapesBesideStalledConnections(const char* cli, const char* plcsim, const fs::path& work) {
  const int port = FreePort();
  fs::create_directory(work / "burn0");
  fs::create_directory(work / "burn1");
  const pid_t station =
      StartStation(cli, {(work / "burn0" / "plc*").string(), (work / "burn1" / "plc*").string()},
                   work, {"--metrics", "127.0.0.1:" + std::to_string(port)});
  const pid_t plc0 = PlugPlcsim(plcsim, work / "burn0" / "plc0", work);
  const pid_t plc1 = PlugPlcsim(plcsim, work / "burn1" / "plc0", work);
  const auto bothBurning = [](const std::string& answer) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = answer.find("state=\"burning\"} 1", at)) != answer.npos; ++at)
      ++n;
    return n == 2;
  };
  double ms = 0;
  const auto startedBy = Clock::now() + std::chrono::seconds(10);
  while (!bothBurning(Scrape(port, ms)) && Clock::now() < startedBy)
    std::this_thread::sleep_for(milliseconds(50));

  std::vector<pollfd> stalled;
  std::vector<double> times;
  int failed = 0;
  for (int round = 0; round < 600; ++round) {
    std::erase_if(stalled, [](pollfd& p) {
      if (poll(&p, 1, 0) == 0) return false;
      close(p.fd);
      return true;
    });
    while (stalled.size() < 50) stalled.push_back({Connected(port, "GET /metr"), POLLIN, 0});
    // Started while both burned, as far as the scrape before could tell.
    const std::string answer = Scrape(port, ms);
    times.push_back(ms);
    if (answer.empty()) ++failed;
    if (!bothBurning(answer)) break;
    std::this_thread::sleep_for(milliseconds(100));
  }
  for (const pollfd& p : stalled) close(p.fd);
  StopStation(station);
  for (const pid_t plc : {plc0, plc1}) StopStation(plc);
  if (times.empty()) {
    std::printf(
        "GET /metrics beside 50 stalled connections, 2 PLCs burning: no scrape (%d failed)\n",
        failed);
    return;
  }
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  std::printf(
      "GET /metrics beside 50 stalled connections, 2 PLCs burning, %zu scrapes: median %.1f ms, "
      "max %.1f, %d failed\n",
      sorted.size(), sorted[sorted.size() / 2], sorted.back(), failed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: station_bench PLCBURN_CLI PLCSIM [IDLE_SECONDS]\n");
    return 2;
  }
  const char* cli = argv[1];
  const char* plcsim = argv[2];
  const int idleSeconds = argc > 3 ? std::atoi(argv[3]) : 60;
  std::string tmpl = (fs::temp_directory_path() / "plcburn-station-bench-XXXXXX").string();
  const fs::path work = mkdtemp(tmpl.data());

  // Plugs, one after another, into one slot.
  fs::create_directory(work / "plug");
  pid_t station = StartStation(cli, {(work / "plug" / "plc*").string()}, work);
  std::vector<double> times;
  for (int n = 0; n < 20; ++n) {
    times.push_back(OnePlug(work / "plug", n));
    std::this_thread::sleep_for(milliseconds(300));  // the failed burn's slot frees again
  }
  StopStation(station);
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  std::printf("node appearing -> first byte, 20 plugs: median %.1f ms, min %.1f, max %.1f\n",
              (sorted[9] + sorted[10]) / 2, sorted.front(), sorted.back());

  // An idle station of 16 slots, each a folder of its own.
  std::vector<std::string> slots;
  for (int i = 0; i < 16; ++i) {
    fs::create_directory(work / ("slot" + std::to_string(i)));
    slots.push_back((work / ("slot" + std::to_string(i)) / "ttyUSB*").string());
  }
  station = StartStation(cli, slots, work);
  const long before = Ticks(station);
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const long ticks = Ticks(station) - before;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = 100.0 * double(ticks) / double(sysconf(_SC_CLK_TCK)) / seconds;
  std::printf("idle station, 16 slots, %.0f s: CPU %.3f %% of one core (%ld ticks), VmRSS %s\n",
              seconds, cpu, ticks, Status(station, "VmRSS").c_str());
  StopStation(station);

  ScrapesBesideStalledConnections(cli, plcsim, work);
  fs::remove_all(work);
  return 0;
}
