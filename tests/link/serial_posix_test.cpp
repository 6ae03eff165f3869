#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <numeric>
#include <thread>
#include <vector>

#include "core/message_help.h"
#include "link/serial_link.h"
#include "tests/support/pty_pair.h"

namespace plcburn {
namespace {

using Clock = std::chrono::steady_clock;
using test::PtyPair;

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

std::vector<std::uint8_t> AllByteValues() {
  std::vector<std::uint8_t> bytes(256);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

std::unique_ptr<Link> OpenWithTimeouts(const PtyPair& pty, std::uint32_t ms) {
  OpenResult opened = OpenSerialPort(pty.SlavePath());
  EXPECT_NE(opened.link, nullptr) << opened.reason;
  if (opened.link) opened.link->SetTimeouts(StepTimeouts(ms));
  return std::move(opened.link);
}

TEST(SerialPosix, PortPathAndFailureReasons) {
  EXPECT_EQ(SerialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(SerialDevicePath("/dev/pts/3"), "/dev/pts/3");
  EXPECT_EQ(SerialDevicePath("./ttyS0"), "./ttyS0");

  const struct {
    int err;
    const char* mustHold;
    bool documented;  // a reason of the guide; else the system's own words
  } cases[] = {{EACCES, "dialout", true},
               {EPERM, "dialout", true},
               {EBUSY, "in use", true},
               {EWOULDBLOCK, "in use", true},
               {ENOTTY, "not a serial port", true},
               {ENOENT, "no such device", true},
               {ENXIO, "no such device", true},
               {EIO, "Input/output error (error 5)", false},
               {EMFILE, "/dev/ttyUSB0: Too many open files (error 24)", false}};
  for (const auto& c : cases) {
    const std::string reason = OpenFailureReason(c.err, "/dev/ttyUSB0");
    EXPECT_NE(reason.find(c.mustHold), std::string::npos) << reason;
    EXPECT_NE(reason.find("/dev/ttyUSB0"), std::string::npos) << reason;
    EXPECT_EQ(IsDocumentedOpenFailureReason(reason), c.documented) << reason;
  }
}

TEST(SerialPosix, OpenRefusals) {
  const struct {
    const char* path;
    const char* reason;
  } refused[] = {
      {"/dev/no-such-port", "no such device"},
      {"/dev/null", "not a serial port"},
      {"/dev/tty", "the terminal this program runs in"},  // whichever terminal is ours, or none
  };
  for (const auto& r : refused) {
    OpenResult opened = OpenSerialPort(r.path);
    EXPECT_EQ(opened.link, nullptr) << r.path;
    EXPECT_NE(opened.reason.find(r.reason), std::string::npos) << opened.reason;
    EXPECT_TRUE(IsDocumentedOpenFailureReason(opened.reason)) << opened.reason;
  }

  PtyPair pty;
  OpenResult first = OpenSerialPort(pty.SlavePath());
  ASSERT_NE(first.link, nullptr) << first.reason;
  OpenResult second = OpenSerialPort(pty.SlavePath());
  EXPECT_EQ(second.link, nullptr);
  EXPECT_NE(second.reason.find("in use by another program"), std::string::npos);
  first.link->Close();
  first.link->Close();
  std::uint8_t byte = 0;
  EXPECT_EQ(first.link->Write(&byte, 1), 0u);
  EXPECT_EQ(first.link->Read(&byte, 1), 0u);
  EXPECT_NE(OpenSerialPort(pty.SlavePath()).link, nullptr) << "closing must release the port";
}

// However the link ends, the port is left as it was found: its line settings, not exclusive,
// not locked, so the next program (or burn) can open it.
TEST(SerialPosix, EveryClosePathGivesThePortBack) {
  const struct {
    const char* path;
    void (*end)(std::unique_ptr<Link>& link);
  } cases[] = {
      {"Close", [](std::unique_ptr<Link>& link) { link->Close(); }},
      {"destructor", [](std::unique_ptr<Link>& link) { link.reset(); }},
      {"after Interrupt",
       [](std::unique_ptr<Link>& link) {
         link->Interrupt();
         link->Close();
       }},
  };
  for (const auto& c : cases) {
    PtyPair pty;
    pty.MakeCooked();
    const termios found = pty.SlaveTermios();
    // Held by the test, as by the far end's program: it sees the flags of the one tty.
    const int watcher = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watcher, 0);
    auto link = OpenWithTimeouts(pty, 100);
    ASSERT_NE(link, nullptr);
    link->ApplyLineProfile(kBootProfile);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(watcher, TIOCGEXCL, &exclusive), 0);
    EXPECT_NE(exclusive, 0) << c.path;

    c.end(link);
    ASSERT_EQ(::ioctl(watcher, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << c.path;
    EXPECT_EQ(::flock(watcher, LOCK_EX | LOCK_NB), 0) << c.path << ": still locked";
    ::close(watcher);
    const termios now = pty.SlaveTermios();
    EXPECT_EQ(now.c_iflag, found.c_iflag) << c.path;
    EXPECT_EQ(now.c_oflag, found.c_oflag) << c.path;
    EXPECT_EQ(now.c_lflag, found.c_lflag) << c.path;
    EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&found)) << c.path;
  }
}

TEST(SerialPosix, ReadWaitsForTheCountOrTheTimeOut) {
  const struct {
    std::string sent;
    std::size_t want;
    std::uint32_t timeoutMs;
    std::size_t expected;
    long long minMs, maxMs;
  } cases[] = {
      // Upper bounds are loose (a loaded machine is slow); each stays below what a wrong wait
      // costs.
      {"ACK01", 5, 3000, 5, 0, 1500},  // already there: no wait
      {"abc", 10, 200, 3, 190, 1500},  // partial count at the time-out
      {"", 4, 100, 0, 90, 1500},       // silence
  };
  for (const auto& c : cases) {
    PtyPair pty;
    auto link = OpenWithTimeouts(pty, c.timeoutMs);
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(pty.Send(c.sent));
    std::vector<std::uint8_t> buf(c.want);
    const auto start = Clock::now();
    EXPECT_EQ(link->Read(buf.data(), c.want), c.expected) << c.sent;
    EXPECT_GE(MsSince(start), c.minMs) << c.sent;
    EXPECT_LE(MsSince(start), c.maxMs) << c.sent;
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + c.expected), c.sent.substr(0, c.expected));
  }
}

TEST(SerialPosix, WriteStopsAtTheTimeOutWhenNobodyReads) {
  PtyPair pty;
  auto link = OpenWithTimeouts(pty, 200);
  ASSERT_NE(link, nullptr);
  std::vector<std::uint8_t> big(1 << 20, 0x55);
  const auto start = Clock::now();
  const std::size_t sent = link->Write(big.data(), big.size());
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, big.size());
  EXPECT_GE(MsSince(start), 190);
  EXPECT_LE(MsSince(start), 2000);
}

// The deadlines come from the link's clock: one that has jumped past them ends every wait at once.
TEST(SerialPosix, WaitsEndWhenTheInjectedClockPassesTheDeadline) {
  PtyPair pty;
  std::uint64_t fakeNow = 0;
  OpenResult opened = OpenSerialPort(pty.SlavePath(), [&fakeNow] { return fakeNow += 60000; });
  ASSERT_NE(opened.link, nullptr) << opened.reason;
  opened.link->SetTimeouts(StepTimeouts(30000));
  ASSERT_TRUE(pty.Send("ab"));
  std::uint8_t buf[4];
  const auto start = Clock::now();
  EXPECT_EQ(opened.link->Read(buf, sizeof buf), 2u);
  std::vector<std::uint8_t> big(1 << 20, 0x55);
  EXPECT_LT(opened.link->Write(big.data(), big.size()), big.size());
  EXPECT_LT(MsSince(start), 10000) << "a 30 s time-out was waited for in real time";
}

TEST(SerialPosix, HangUpEndsABlockedReadAndFailsTheNextWrite) {
  PtyPair pty;
  auto link = OpenWithTimeouts(pty, 3000);
  ASSERT_NE(link, nullptr);
  std::thread farEnd([&] {
    pty.Send("abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.CloseMaster();
  });
  std::uint8_t buf[10];
  const auto start = Clock::now();
  EXPECT_EQ(link->Read(buf, sizeof buf), 3u);
  EXPECT_LT(MsSince(start), 2500);
  farEnd.join();

  const auto afterHangUp = Clock::now();
  EXPECT_EQ(link->Write(buf, 3), 0u);
  EXPECT_EQ(link->Read(buf, 1), 0u);
  EXPECT_LT(MsSince(afterHangUp), 1000);
}

TEST(SerialPosix, InterruptWakesABlockedReadAndEveryLaterCall) {
  PtyPair pty;
  auto link = OpenWithTimeouts(pty, 3000);
  ASSERT_NE(link, nullptr);
  std::atomic<Clock::rep> interruptedAt{0};
  std::thread quitter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    interruptedAt = Clock::now().time_since_epoch().count();
    link->Interrupt();
  });
  std::uint8_t buf[4];
  EXPECT_EQ(link->Read(buf, sizeof buf), 0u);
  const auto returnedAt = Clock::now();
  quitter.join();
  EXPECT_LT(returnedAt - Clock::time_point(Clock::duration(interruptedAt.load())),
            std::chrono::milliseconds(1500));

  ASSERT_TRUE(pty.Send("late"));
  const auto later = Clock::now();
  EXPECT_EQ(link->Read(buf, sizeof buf), 0u);
  EXPECT_EQ(link->Write(buf, sizeof buf), 0u);
  EXPECT_LT(MsSince(later), 1000);
  EXPECT_TRUE(pty.Receive(1, 100).empty());
}

TEST(SerialPosix, AllByteValuesPassBothWaysOverACookedPort) {
  const LineProfile* profiles[] = {nullptr, &kAppProfile, &kBootProfile};
  for (const LineProfile* profile : profiles) {
    PtyPair pty;
    pty.MakeCooked();  // echo, CR/LF mapping and XON/XOFF must all be switched off by the opener
    auto link = OpenWithTimeouts(pty, 1000);
    ASSERT_NE(link, nullptr);
    if (profile) link->ApplyLineProfile(*profile);
    const auto bytes = AllByteValues();

    ASSERT_TRUE(pty.Send(bytes));
    std::vector<std::uint8_t> got(bytes.size());
    EXPECT_EQ(link->Read(got.data(), got.size()), bytes.size());
    EXPECT_EQ(got, bytes);

    EXPECT_EQ(link->Write(bytes.data(), bytes.size()), bytes.size());
    EXPECT_EQ(pty.Receive(bytes.size() + 1, 300), bytes);  // nothing echoed or added
  }
}

TEST(SerialPosix, LineFieldsFollowTheProfile) {
  const struct {
    LineProfile profile;
    speed_t speed;
    tcflag_t size, parity, stop;
  } cases[] = {
      {kAppProfile, B9600, CS7, PARENB, 0},
      {kBootProfile, B115200, CS8, 0, 0},
      {{19200, 8, Parity::Odd, 2, false, false}, B19200, CS8, PARENB | PARODD, CSTOPB},
  };
  termios tio{};
  tio.c_cflag = CS8 | PARENB | PARODD | CSTOPB | CLOCAL | CREAD;  // whatever was there before
  for (const auto& c : cases) {
    ASSERT_TRUE(SetLineFields(tio, c.profile)) << c.profile.BaudRate;
    EXPECT_EQ(cfgetospeed(&tio), c.speed);
    EXPECT_EQ(cfgetispeed(&tio), c.speed);
    EXPECT_EQ(tio.c_cflag & CSIZE, c.size);
    EXPECT_EQ(tio.c_cflag & (PARENB | PARODD), c.parity);
    EXPECT_EQ(tio.c_cflag & CSTOPB, c.stop);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  }
  const termios before = tio;
  EXPECT_FALSE(SetLineFields(tio, {12345, 8, Parity::None, 0, false, false}));
  EXPECT_FALSE(SetLineFields(tio, {9600, 9, Parity::None, 0, false, false}));
  EXPECT_EQ(std::memcmp(&before, &tio, sizeof tio), 0);
}

// A pty keeps speed and stop bits but forces CS8 without parity, so only those are read back.
TEST(SerialPosix, ApplyLineProfileReachesThePort) {
  PtyPair pty;
  auto link = OpenWithTimeouts(pty, 100);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->ApplyLineProfile({19200, 8, Parity::None, 2, false, false}));
  EXPECT_EQ(pty.SlaveTermios().c_cflag & CSTOPB, tcflag_t{CSTOPB});
  for (const LineProfile& profile : {kAppProfile, kBootProfile}) {
    EXPECT_TRUE(link->ApplyLineProfile(profile));
    const termios tio = pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), profile.BaudRate == 9600 ? B9600 : B115200);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
  }
  EXPECT_FALSE(link->ApplyLineProfile({12345, 8, Parity::None, 0, false, false}));
  const termios tio = pty.SlaveTermios();
  EXPECT_EQ(cfgetospeed(&tio), B115200);
}

}  // namespace
}  // namespace plcburn
