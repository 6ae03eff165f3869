// What a burning station costs: the time from a device node appearing in a watched folder to the
// first byte the station sends on it (median of 20 plugs of a pseudo-terminal linked into the
// folder, the byte seen on the terminal's other side), and an idle station of 16 slots: its CPU
// time over a minute (/proc/PID/stat) and its resident memory (VmRSS).
//
// usage: station_bench PLCBURN_CLI [IDLE_SECONDS]   (default 60)

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
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

// plcburn-cli --watch on `slots`, its output thrown away; returns its pid once it has looked.
pid_t StartStation(const char* cli, const std::vector<std::string>& slots, const fs::path& work) {
  const fs::path image = work / "QN4_bench.bin";
  std::ofstream(image, std::ios::binary) << std::string(16384, '\x5a');
  std::vector<std::string> args{cli, "--watch"};
  args.insert(args.end(), slots.begin(), slots.end());
  args.insert(args.end(), {"--image", image.string(), "--no-log"});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, cli, &actions, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: station_bench PLCBURN_CLI [IDLE_SECONDS]\n");
    return 2;
  }
  const char* cli = argv[1];
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
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
  fs::remove_all(work);
  return 0;
}
