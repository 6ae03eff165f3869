// Runs the plcsim program on a real pseudo-terminal, as the burner would meet it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/plc_sim.h"

extern char** environ;

namespace plcburn {
namespace {

using Clock = std::chrono::steady_clock;

// A running plcsim with its stdout; stopped if the test ends before it does.
class Plcsim {
 public:
  explicit Plcsim(std::vector<std::string> args) {
    args.insert(args.begin(), PLCSIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (posix_spawn(&pid, PLCSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out = fds[0];
  }
  ~Plcsim() {
    if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
    close(out);
  }
  // The exit status, or -1 when it does not exit within 3 s.
  int WaitExit() {
    for (int i = 0; i < 300; ++i, usleep(10'000)) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    }
    return -1;
  }

  pid_t pid = -1;
  int out = -1;
};

// Up to n bytes from fd (fewer once `stopAt` came), waiting at most 3 s in all.
std::string ReadSome(int fd, std::size_t n, char stopAt = '\0') {
  std::string got;
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (got.size() < n && Clock::now() < deadline &&
         !(stopAt && !got.empty() && got.back() == stopAt)) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1) break;
    got += c;
  }
  return got;
}

void WriteText(int fd, const std::string& s) {
  ASSERT_EQ(write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size()));
}

// The terminal whose path plcsim printed, opened as the burner would; -1 when there is none.
int OpenTerminal(Plcsim& sim) {
  std::string path = ReadSome(sim.out, 256, '\n');
  if (path.empty() || path.back() != '\n') return -1;
  path.pop_back();
  return open(path.c_str(), O_RDWR | O_NOCTTY);
}

TEST(PlcsimProgramTest, RejectsUnusableArguments) {
  const std::vector<std::vector<std::string>> cases = {
      {"--model", "NOPE"},
      {"--model", "QN4", "--boot-id", "0x10000"},
      {"--model", "QN4", "--boot-id"},
  };
  for (const auto& args : cases) {
    Plcsim sim(args);
    EXPECT_EQ(sim.WaitExit(), 2) << args.back();
  }
}

// The settings a burner finds on the terminal before it touches them.
TEST(PlcsimProgramTest, XonXoffFaultLeavesFlowControlOnThePort) {
  const struct {
    std::vector<std::string> args;
    tcflag_t flow;
  } cases[] = {
      {{"--model", "QK48"}, 0},
      {{"--model", "QK48", "--fault", "xon-xoff"}, IXON | IXOFF},
  };
  for (const auto& c : cases) {
    Plcsim sim(c.args);
    const int tty = OpenTerminal(sim);
    ASSERT_GE(tty, 0);
    termios t{};
    EXPECT_EQ(tcgetattr(tty, &t), 0);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), c.flow) << c.args.back();
    close(tty);
  }
}

TEST(PlcsimProgramTest, ServesAWholeUpdateOnAPseudoTerminal) {
  const std::string saved = testing::TempDir() + "plcsim_pty_test.bin";
  Plcsim sim({"--model", "QN4", "--save", saved});
  const int tty = OpenTerminal(sim);
  ASSERT_GE(tty, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(tty, &t), 0);
  cfmakeraw(&t);
  tcsetattr(tty, TCSANOW, &t);

  WriteText(tty, ":006401590141\r\n");
  EXPECT_EQ(ReadSome(tty, 19), ":006401590500003D\r\n");
  WriteText(tty, ":006401594552415345D2\r\n");
  EXPECT_EQ(ReadSome(tty, 19), ":006401590600003C\r\n");
  WriteText(tty, ":00640159063C\r\nUPDATE");  // QN4 hands over on the open link
  EXPECT_EQ(ReadSome(tty, 1), "\x06");

  std::vector<std::uint8_t> data(128);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
  const std::uint16_t crc = BlockCrc16(data);
  std::string block = "\x02\x01\xFE" + std::string(data.begin(), data.end());
  block += {static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)};
  WriteText(tty, block);
  EXPECT_EQ(ReadSome(tty, 1), "\x06");
  WriteText(tty, "\x04");
  EXPECT_EQ(ReadSome(tty, 1), "\x06");

  EXPECT_EQ(sim.WaitExit(), 0);  // done once EOT is acknowledged
  close(tty);
  std::ifstream file(saved, std::ios::binary);
  EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>()),
            data);
}

}  // namespace
}  // namespace plcburn
