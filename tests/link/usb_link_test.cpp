#include "link/usb_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "link/usb_lookup.h"
#include "tests/link/usb_fake.h"

namespace plcburn {
namespace {

using test::FakeTransfer;
using test::FakeUsb;
using Bytes = std::vector<std::uint8_t>;

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

struct Fixture {
  std::shared_ptr<FakeUsb> usb = std::make_shared<FakeUsb>();
  std::unique_ptr<UsbLink> link;

  explicit Fixture(bool realTime = false) {
    usb->devices = {{}};
    usb->realTime = realTime;
    UsbHandle h = kNoUsbHandle;
    usb->Open(1, &h);
    LinkClock clock;
    if (!realTime) clock = [u = usb.get()] { return u->clock.NowMs(); };
    link = UsbLink::Attach(usb, h, clock);
    link->SetTimeouts(StepTimeouts(200));
  }
  std::string Read(std::size_t n) {
    std::string s(n, '\0');
    s.resize(link->Read(reinterpret_cast<std::uint8_t*>(s.data()), n));
    return s;
  }
  std::size_t Write(const std::string& s) { return link->Write(B(s).data(), s.size()); }
};

TEST(UsbLinkTest, Reads) {
  const struct {
    const char* what;
    std::vector<FakeTransfer> script;
    std::size_t n;
    std::string first;
    std::uint64_t elapsedMs;
    std::string second;  // a following read of n bytes
  } cases[] = {
      {"pieces assembled", {{B("AB")}, {B("C")}, {B("DE")}}, 5, "ABCDE", 0, ""},
      {"idle slice between pieces",
       {{B("AB")}, {{}, kUsbErrorTimeout}, {B("CDE")}},
       5,
       "ABCDE",
       100,
       ""},
      {"surplus kept", {{B("ABCDEFG")}}, 3, "ABC", 0, "DEF"},
      {"full packet on a short read", {{Bytes(64, 'x')}}, 2, "xx", 0, "xx"},
      {"time-out with a partial count", {{B("A")}, {B("BC"), kUsbErrorTimeout}}, 5, "ABC", 200, ""},
      {"nothing comes", {}, 4, "", 200, ""},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.usb->in.assign(c.script.begin(), c.script.end());
    EXPECT_EQ(f.Read(c.n), c.first) << c.what;
    EXPECT_EQ(f.usb->clock.NowMs(), c.elapsedMs) << c.what;
    EXPECT_LE(f.usb->longestTimeout, 100u) << c.what;
    if (!c.second.empty()) {
      EXPECT_EQ(f.Read(c.n), c.second) << c.what;
    }
  }
}

TEST(UsbLinkTest, WriteReportsBytesMovedWithinItsTimeOut) {
  Fixture f;
  f.usb->out = {{{}, kUsbErrorTimeout, 3}};
  EXPECT_EQ(f.Write("ABCDEF"), 6u);  // the rest goes in the next slice
  EXPECT_EQ(f.usb->written, B("ABCDEF"));

  Fixture stuck;
  stuck.usb->out.assign(30, FakeTransfer{{}, kUsbErrorTimeout, 0});
  stuck.usb->out.front().accept = 2;
  EXPECT_EQ(stuck.Write("ABCDEF"), 2u);
  EXPECT_EQ(stuck.usb->clock.NowMs(), 200u);
}

TEST(UsbLinkTest, UnplugFailsAtOnceAndForGood) {
  for (bool midRead : {true, false}) {
    Fixture f;
    if (midRead) {
      f.usb->in = {{B("AB")}, {{}, kUsbErrorNoDevice}};
      EXPECT_EQ(f.Read(5), "AB");
    } else {
      f.usb->out = {{{}, kUsbErrorNoDevice, 1}};
      EXPECT_EQ(f.Write("ABC"), 1u);
    }
    const int transfers = f.usb->transfers;
    EXPECT_EQ(f.Read(5), "");
    EXPECT_EQ(f.Write("ABC"), 0u);
    EXPECT_EQ(f.usb->transfers, transfers) << "no transfer after the unplug";
    EXPECT_EQ(f.usb->clock.NowMs(), 0u);
  }
}

TEST(UsbLinkTest, CloseGivesBackWhatOpenTookOnce) {
  Fixture f;
  EXPECT_TRUE(f.usb->claimed);
  f.link->Close();
  EXPECT_FALSE(f.usb->claimed);
  EXPECT_TRUE(f.usb->openHandles.empty());
  f.usb->claimed = true;
  f.link->Close();
  EXPECT_TRUE(f.usb->claimed) << "a second close releases nothing";
  EXPECT_EQ(f.Read(1), "");
}

// What the emulated bus cannot show: libusb that does not start.
TEST(UsbLookupTest, NoDeviceSetOpensNothing) {
  auto usb = std::make_shared<FakeUsb>();
  usb->devices = {{}};
  usb->listFails = true;
  const OpenResult r = OpenUsbLink(usb);
  EXPECT_EQ(r.link, nullptr);
  EXPECT_EQ(r.reason, "");
  EXPECT_TRUE(usb->opened.empty());
}

// Real time, briefly: another thread wakes a read that would wait the whole 5 s.
TEST(UsbLinkTest, InterruptWakesAReadWithinASlice) {
  Fixture f(true);
  f.link->SetTimeouts(StepTimeouts(5000));
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    f.link->Interrupt();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(f.Read(4), "");
  waker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

}  // namespace
}  // namespace plcburn
