#include "sim/sim_link.h"

#include <gtest/gtest.h>

#include <string>

namespace plcburn {
namespace {

std::size_t Row(std::string_view name) {
  return FindModel(name).value();
}

void Send(Link& link, const std::string& s) {
  ASSERT_EQ(link.Write(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()), s.size());
}

std::string Receive(Link& link, std::size_t n) {
  std::string s(n, '\0');
  s.resize(link.Read(reinterpret_cast<std::uint8_t*>(s.data()), n));
  return s;
}

TEST(SimLinkTest, ShortReadsCostTheirTimeOutOnTheClock) {
  PlcSim sim(Row("QN4"));
  VirtualClock clock;
  SimLink link(sim, clock);
  link.SetTimeouts(StepTimeouts(3000));
  Send(link, ":006401590141\r\n");
  EXPECT_EQ(Receive(link, 19), ":006401590500003D\r\n");
  EXPECT_EQ(clock.NowMs(), 0u);
  Send(link, ":006401590141\r\n");
  EXPECT_EQ(Receive(link, 11), ":0064015905");
  EXPECT_EQ(Receive(link, 11), "00003D\r\n");
  EXPECT_EQ(clock.NowMs(), 3000u);
  link.SetTimeouts(StepTimeouts(200));
  EXPECT_EQ(Receive(link, 11), "");
  EXPECT_EQ(clock.NowMs(), 3200u);
  link.Interrupt();
  EXPECT_EQ(Receive(link, 11), "");
  EXPECT_EQ(clock.NowMs(), 3200u);
  EXPECT_EQ(link.Write(reinterpret_cast<const std::uint8_t*>("ID"), 2), 0u);
}

TEST(SimLinkTest, OpenerReopensTheSamePlcForAPowerCycle) {
  PlcSim sim(Row("TR7-B"));
  VirtualClock clock;
  SimOpener opener(sim, clock);
  EXPECT_EQ(opener.OpenUsb().link, nullptr);  // a COM model is not on USB
  auto first = opener.OpenCom("COM3");
  ASSERT_NE(first.link, nullptr);
  EXPECT_EQ(opener.OpenCom("COM3").link, nullptr);  // COM ports are exclusive
  first.link->ApplyLineProfile(kAppProfile);
  Send(*first.link, ":006401594552415345D2\r\n");
  EXPECT_EQ(Receive(*first.link, 19), ":006401590600003C\r\n");
  Send(*first.link, ":00640159063C\r\n");
  first.link->Close();
  EXPECT_FALSE(sim.InBootLoader());

  opener.SetFailOpens(true);
  const auto failed = opener.OpenCom("COM3");
  EXPECT_EQ(failed.link, nullptr);
  EXPECT_FALSE(failed.reason.empty());
  opener.SetFailOpens(false);

  auto second = opener.OpenCom("COM3");
  ASSERT_NE(second.link, nullptr);
  EXPECT_TRUE(sim.InBootLoader());
  Send(*second.link, ":006401590141\r\n");
  EXPECT_EQ(Receive(*second.link, 19), ":006401590600003C\r\n");
  EXPECT_EQ(opener.Opens(), 2);
  EXPECT_EQ(opener.LastPortName(), "COM3");
  second.link.reset();  // dropping a link closes it
  EXPECT_FALSE(opener.AnyLinkOpen());
  EXPECT_EQ(sim.Counters().linkCloses, 2u);
}

TEST(SimLinkTest, WritesFailOnceThePlcHasHungUp) {
  SimOptions options;
  options.startInBootLoader = true;
  options.faults.push_back(*ParseFault("hangup:1"));
  PlcSim sim(Row("VL"), options);
  VirtualClock clock;
  SimOpener opener(sim, clock);
  auto open = opener.OpenUsb();
  ASSERT_NE(open.link, nullptr);
  Link& link = *open.link;
  Send(link, "UPDATE");
  EXPECT_EQ(Receive(link, 1), "\x06");
  std::string block(261, '\0');
  block[0] = 0x02;
  block[1] = 0x01;
  block[2] = static_cast<char>(0xFE);  // zero data, CRC 0
  Send(link, block);
  EXPECT_EQ(Receive(link, 1), "\x06");
  EXPECT_EQ(link.Write(reinterpret_cast<const std::uint8_t*>(block.data()), block.size()), 0u);
}

}  // namespace
}  // namespace plcburn
