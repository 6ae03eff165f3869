// The Windows link on a real COM port: a pseudo-terminal that Wine offers as a COM port, served
// by wine_port.py's echo peer.

// clang-format off
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "link/serial_link.h"

namespace plcburn {
namespace {

class ComLink : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("PLCBURN_TEST_COM");
    if (port == nullptr) GTEST_SKIP() << "run through wine_port.py";
    OpenResult opened = OpenSerialPort(port);
    ASSERT_NE(opened.link, nullptr) << port;
    link_ = std::move(opened.link);
    ASSERT_TRUE(link_->ApplyLineProfile(kBootProfile));
  }
  void Send(const std::string& text) {
    ASSERT_EQ(link_->Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
              text.size());
  }
  std::string Receive(std::size_t n, ULONGLONG* ms = nullptr) {
    std::string got(n, '\0');
    const ULONGLONG start = GetTickCount64();
    got.resize(link_->Read(reinterpret_cast<std::uint8_t*>(got.data()), n));
    if (ms != nullptr) *ms = GetTickCount64() - start;
    return got;
  }
  std::unique_ptr<Link> link_;
};

TEST_F(ComLink, ReadGathersAReplyThatComesInPieces) {
  link_->SetTimeouts(StepTimeouts(2000));
  Send("Ehello world\n");
  ULONGLONG ms = 0;
  EXPECT_EQ(Receive(11, &ms), "hello world");
  EXPECT_LT(ms, 1500u);
}

TEST_F(ComLink, ShortReplyEndsAtTheReadTimeout) {
  link_->SetTimeouts(StepTimeouts(300));
  Send("Eabcd\n");
  ULONGLONG ms = 0;
  EXPECT_EQ(Receive(8, &ms), "abcd");
  EXPECT_GE(ms, 250u);
  EXPECT_LT(ms, 1500u);
}

TEST_F(ComLink, LineProfilesReachThePort) {
  link_->SetTimeouts(StepTimeouts(1000));
  Send("P\n");
  EXPECT_EQ(Receive(11), "115200 8N1\n");
  // A pty keeps 8 data bits without parity whatever it is asked, so only the speed is compared.
  ASSERT_TRUE(link_->ApplyLineProfile(kAppProfile));
  Send("P\n");
  const std::string app = Receive(9);
  EXPECT_EQ(app.substr(0, 5), "9600 ") << app;
}

TEST_F(ComLink, InterruptEndsAWaitingRead) {
  link_->SetTimeouts(StepTimeouts(5000));
  std::thread stopper([this] {
    Sleep(150);
    link_->Interrupt();
  });
  ULONGLONG ms = 0;
  EXPECT_EQ(Receive(4, &ms), "");
  stopper.join();
  EXPECT_LT(ms, 2000u);
}

}  // namespace
}  // namespace plcburn
