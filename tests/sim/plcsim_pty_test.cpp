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
#include "tests/sim/plcsim_process.h"

namespace plcburn {
namespace {

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
