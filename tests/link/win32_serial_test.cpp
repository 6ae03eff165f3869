#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "link/serial_link.h"
#include "link/win32_handle_link.h"

namespace plcburn {
namespace {

DCB BlankPort() {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  return dcb;
}

// A port as a terminal program may leave it: every handshake, flow control and special
// character on.
DCB CarelessPort() {
  DCB dcb = BlankPort();
  dcb.BaudRate = 4800;
  dcb.ByteSize = 5;
  dcb.Parity = ODDPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fBinary = 0;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 1;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fDsrSensitivity = 1;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.fErrorChar = 1;
  dcb.fNull = 1;
  dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  dcb.fAbortOnError = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

TEST(SetLineFields, WritesTheProfileOnABinaryCleanLine) {
  struct Case {
    LineProfile profile;
    DWORD baud;
    BYTE size;
    BYTE parity;
    DWORD parityCheck;
  };
  const Case cases[] = {
      {kAppProfile, 9600, 7, EVENPARITY, 1},
      {kBootProfile, 115200, 8, NOPARITY, 0},
  };
  for (const Case& c : cases) {
    for (DCB dcb : {CarelessPort(), BlankPort()}) {
      SetLineFields(dcb, c.profile);
      SCOPED_TRACE(c.baud);
      EXPECT_EQ(dcb.BaudRate, c.baud);
      EXPECT_EQ(dcb.ByteSize, c.size);
      EXPECT_EQ(dcb.Parity, c.parity);
      EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
      EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
      EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
      EXPECT_EQ(dcb.fBinary, 1u);
      EXPECT_EQ(dcb.fParity, c.parityCheck);
      EXPECT_EQ(dcb.fOutX, 0u);
      EXPECT_EQ(dcb.fInX, 0u);
      EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
      EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
      EXPECT_EQ(dcb.fDsrSensitivity, 0u);
      EXPECT_EQ(dcb.fErrorChar, 0u);
      EXPECT_EQ(dcb.fNull, 0u);
      EXPECT_EQ(dcb.fAbortOnError, 0u);
    }
    // What no longer acts once XON/XOFF is off is kept as read.
    DCB careless = CarelessPort();
    SetLineFields(careless, c.profile);
    EXPECT_EQ(careless.fTXContinueOnXoff, 1u);
    EXPECT_EQ(careless.XonChar, 0x11);
    EXPECT_EQ(careless.XoffChar, 0x13);
  }
}

TEST(SerialDevicePath, PrefixesListedNamesOnly) {
  EXPECT_EQ(SerialDevicePath("COM3"), "\\\\.\\COM3");
  EXPECT_EQ(SerialDevicePath("COM12"), "\\\\.\\COM12");
  EXPECT_EQ(SerialDevicePath("\\\\.\\COM4"), "\\\\.\\COM4");
}

TEST(OpenSerialPort, AnAbsentPortGivesNoLink) {
  EXPECT_EQ(OpenSerialPort("COM97").link, nullptr);
}

// The overlapped transfers, on a named pipe that the test serves from the other end.
class PipeLink : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = "\\\\.\\pipe\\plcburn-test-" + std::to_string(GetCurrentProcessId()) +
                             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    server_ = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                               4096, 4096, 0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
    const HANDLE client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    link_ = std::make_unique<Win32HandleLink>(client);
  }
  void TearDown() override {
    if (peer_.joinable()) peer_.join();
    if (server_ != INVALID_HANDLE_VALUE) CloseHandle(server_);
  }
  // The peer writes each piece after its delay, then optionally hangs up.
  void Serve(std::vector<std::pair<DWORD, std::string>> pieces, bool hangUp = false) {
    peer_ = std::thread([this, pieces, hangUp] {
      for (const auto& [delay, text] : pieces) {
        Sleep(delay);
        DWORD written = 0;
        WriteFile(server_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      }
      if (hangUp) {
        CloseHandle(server_);
        server_ = INVALID_HANDLE_VALUE;
      }
    });
  }
  std::string Read(std::size_t n, ULONGLONG& ms) {
    std::string got(n, '\0');
    const ULONGLONG start = GetTickCount64();
    got.resize(link_->Read(reinterpret_cast<std::uint8_t*>(got.data()), n));
    ms = GetTickCount64() - start;
    return got;
  }

  HANDLE server_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<Win32HandleLink> link_;
  std::thread peer_;
};

TEST_F(PipeLink, ReadGathersPiecesUntilTheCount) {
  link_->SetTimeouts(StepTimeouts(2000));
  Serve({{0, "abc"}, {60, "defgh"}, {0, "ij"}});
  ULONGLONG ms = 0;
  EXPECT_EQ(Read(8, ms), "abcdefgh");
  EXPECT_LT(ms, 1500u);
  EXPECT_EQ(Read(2, ms), "ij");
}

TEST_F(PipeLink, ShortReadEndsAtTheReadTimeout) {
  link_->SetTimeouts(StepTimeouts(300));
  Serve({{0, "abcd"}});
  ULONGLONG ms = 0;
  EXPECT_EQ(Read(8, ms), "abcd");
  EXPECT_GE(ms, 250u);
  EXPECT_LT(ms, 1500u);
}

TEST_F(PipeLink, InterruptEndsTheReadAndEveryLaterTransfer) {
  link_->SetTimeouts(StepTimeouts(5000));
  std::thread stopper([this] {
    Sleep(100);
    link_->Interrupt();
  });
  ULONGLONG ms = 0;
  EXPECT_EQ(Read(4, ms), "");
  stopper.join();
  EXPECT_LT(ms, 2000u);
  EXPECT_EQ(Read(4, ms), "");
  EXPECT_LT(ms, 100u);
  const std::uint8_t byte = 0x06;
  EXPECT_EQ(link_->Write(&byte, 1), 0u);
}

TEST_F(PipeLink, WritesReachThePeer) {
  link_->SetTimeouts(StepTimeouts(1000));
  const std::string text = "hello";
  EXPECT_EQ(link_->Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 5u);
  char got[8] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(server_, got, 5, &read, nullptr));
  EXPECT_EQ(std::string(got, read), text);
}

TEST_F(PipeLink, AVanishedPeerEndsReadsAtOnce) {
  link_->SetTimeouts(StepTimeouts(3000));
  Serve({{0, "ab"}}, true);
  peer_.join();
  ULONGLONG ms = 0;
  EXPECT_EQ(Read(4, ms), "ab");
  EXPECT_EQ(Read(4, ms), "");
  EXPECT_LT(ms, 500u);
}

}  // namespace
}  // namespace plcburn
