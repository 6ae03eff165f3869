#include "sim/plc_sim.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace plcburn {
namespace {

using namespace std::string_literals;

std::size_t Row(std::string_view name) {
  return FindModel(name).value();
}

std::string Feed(PlcSim& sim, const std::string& bytes) {
  sim.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  const auto out = sim.TakeOutput(sim.Pending());
  return {out.begin(), out.end()};
}

template <typename Change>
SimOptions With(Change change) {
  SimOptions o;
  change(o);
  return o;
}

SimOptions Boot() {
  return With([](SimOptions& o) { o.startInBootLoader = true; });
}

SimOptions WithFaults(std::initializer_list<std::string_view> faults, bool boot = false) {
  SimOptions o;
  o.startInBootLoader = boot;
  for (auto f : faults) o.faults.push_back(ParseFault(f).value());
  return o;
}

const std::string kProbe59 = ":006401590141\r\n";
const std::string kProbe5B = ":0064015B013F\r\n";
const std::string kId59 = ":006401594944B5\r\n";
const std::string kErase59 = ":006401594552415345D2\r\n";
const std::string kAck59 = ":00640159063C\r\n";
const std::string kAppProbeReply = ":006401590500003D\r\n";
const std::string kBootProbeReply = ":006401590600003C\r\n";

struct Exchange {
  const char* model;
  SimOptions options;
  std::string request;
  std::string reply;
};

TEST(PlcSimTest, AnswersEveryRequestAsEachFirmwareShould) {
  const Exchange cases[] = {
      {"QN4", {}, kProbe59, kAppProbeReply},
      {"QN4", Boot(), kProbe59, kBootProbeReply},
      {"40MX7-PQN", {}, kProbe5B, ":0064015B0500003B\r\n"},
      {"40MX7-PQN", Boot(), kProbe5B, ":0064015B0600003A\r\n"},
      {"40MX7-PQN", {}, kProbe59, ""},
      {"40MX7-PQN", Boot(), kProbe59, ""},
      {"40MX7-PQN", {}, ":0064015B4944B3\r\n", ":0064015B06000D2D\r\n"},
      {"40MX7-PQN", {}, ":00640159053D\r\n", ":0064015901000041\r\n"},
      {"40MX7-PQN", {}, ":0064015B053B\r\n", ""},
      {"QN4", {}, ":0064015B4944B3\r\n", ""},
      {"QN4", With([](SimOptions& o) { o.appVersion = 7; }), ":00640159053D\r\n",
       ":006401590700003B\r\n"},
      {"VL", {}, kId59, ":0064015906001527\r\n"},
      {"TR7-D", {}, kId59, ":0064015906A0019B\r\n"},
      {"TR7-B", {}, ":0003156A00017D\r\n", ":000302413882\r\n"},
      {"TR7-MX7", {}, ":0003156A00017D\r\n", ":0003020000FB\r\n"},
      {"TR7-MX7", With([](SimOptions& o) { o.d1386 = 0x1234; }), ":0003156A00017D\r\n",
       ":0003021234B5\r\n"},
      {"QK48", {}, ":0003147C00016C\r\n", ":0003020001FA\r\n"},
      {"QK4", {}, ":0003147C00016C\r\n", ":0003020000FB\r\n"},
      {"QN4", {}, ":007F81\r\n", ""},
      {"QN4", {}, ":006401590142\r\n", ""},                                       // bad LRC
      {"QN4", {}, "\x00zz"s + kProbe59.substr(0, 6) + kProbe59, kAppProbeReply},  // resync on ':'
      {"QN4", {}, "ID", ""},
      {"QN4", Boot(), ":007F81\r\n", ""},
      {"QN4", Boot(), kId59, ""},
      {"QN4", Boot(), "ID", "\x06\x00\x0E"s},
      {"TR7-MX7", Boot(), "ID", "\x06\x00\x0C"s},
      {"TR7-D", Boot(), "ID", "\x06\x20\x01"s},
      {"QK4-K", Boot(), "ID", "\x06\x20\x03"s},
      {"MX7-GLT", Boot(), "ID", "\x06\x20\x06"s},
      {"VL-K", Boot(), "ID", "\x06\xA0\x02"s},
      {"QN4", With([](SimOptions& o) { o.startInBootLoader = true, o.bootId = 0x0013; }), "ID",
       "\x06\x00\x13"s},
      {"TR7-D", With([](SimOptions& o) { o.startInBootLoader = true, o.bootId = 0x1311; }), "ID",
       "\x06\x13\x11"s},
      {"ZN500", With([](SimOptions& o) { o.startInBootLoader = true, o.bootVersion = 0x0203; }),
       "VERSION", "\x06\x02\x03"s},
      {"QN4", Boot(), "ERASE", "\x06"},
      {"QN4", Boot(), "\x04", "\x06"},
      {"QN4", Boot(), "QIXID", "\x06\x00\x0E"s},  // stray bytes skipped
  };
  for (const auto& c : cases) {
    PlcSim sim(Row(c.model), c.options);
    EXPECT_EQ(Feed(sim, c.request), c.reply) << c.model << " " << c.request;
  }
}

TEST(PlcSimTest, AnswersDoNotDependOnHowTheBytesArrive) {
  const std::string traffic = kProbe59 + kErase59 + kAck59 + ":007F81\r\n" + kProbe59 + "ID" +
                              "VERSION" + "ERASE" + "ERASE" + "\x04" + "UPDATE";
  PlcSim whole(Row("QN4"));
  PlcSim trickle(Row("QN4"));
  const std::string expected = Feed(whole, traffic);
  std::string got;
  for (char c : traffic) got += Feed(trickle, std::string(1, c));
  EXPECT_EQ(got, expected);
  EXPECT_EQ(expected, kAppProbeReply + ":006401590600003C\r\n" + kBootProbeReply + "\x06\x00\x0E"s +
                          "\x06\x01\x00"s + "\x06\x06\x06\x06");
  EXPECT_EQ(trickle.Counters().bootErases, 2u);
  EXPECT_EQ(trickle.Counters().eraseEots, 1u);
  EXPECT_EQ(trickle.Counters().updates, 1u);
}

struct HandoverCase {
  const char* model;
  bool onSameLink;
};

TEST(PlcSimTest, HandsOverToTheBootLoaderByTheModelsReconnectRule) {
  for (const HandoverCase c : {HandoverCase{"QN4", true}, {"VL", false}, {"TR7-B", false}}) {
    SCOPED_TRACE(c.model);
    PlcSim sim(Row(c.model));
    sim.OnLinkOpened();
    EXPECT_EQ(Feed(sim, kAck59), "");  // no erase to acknowledge yet
    EXPECT_EQ(Feed(sim, kErase59), ":006401590600003C\r\n");
    // A reconnect before the acknowledgement changes nothing.
    sim.OnLinkClosed();
    sim.OnLinkOpened();
    EXPECT_FALSE(sim.InBootLoader());
    EXPECT_EQ(Feed(sim, kAck59), "");
    EXPECT_EQ(sim.InBootLoader(), c.onSameLink);
    sim.OnLinkOpened();  // a second handle is no re-plug
    EXPECT_EQ(sim.InBootLoader(), c.onSameLink);
    sim.OnLinkClosed();
    sim.OnLinkOpened();
    EXPECT_TRUE(sim.InBootLoader());
    EXPECT_EQ(Feed(sim, kProbe59), kBootProbeReply);
    EXPECT_EQ(sim.Counters().handovers, 1u);
  }
}

TEST(PlcSimTest, CrcIsXmodem) {
  auto crc = [](std::string_view s) {
    return BlockCrc16({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
  };
  EXPECT_EQ(crc("123456789"), 0x31C3);
  EXPECT_EQ(crc("abc"), 0x9DD6);
  EXPECT_EQ(crc(""), 0);
}

// A block as the burner sends it; `damage` spoils one of its check fields.
enum class Damage { None, Crc, Complement };
std::string Block(const ModelRules& m, std::uint8_t number, std::uint8_t fill,
                  Damage damage = Damage::None) {
  std::vector<std::uint8_t> data(m.blockSize);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(fill + i);
  std::uint16_t crc = BlockCrc16(data);
  if (damage == Damage::Crc) crc ^= 0x0001;
  std::string b{'\x02', static_cast<char>(number),
                static_cast<char>(damage == Damage::Complement ? number : 0xFF - number)};
  b.append(data.begin(), data.end());
  b += static_cast<char>(crc >> 8);
  b += static_cast<char>(crc & 0xFF);
  return b;
}

TEST(PlcSimTest, TransferWrapsNumbersDiscardsDuplicatesAndNaksBadBlocks) {
  PlcSim sim(Row("TR7-MX7"), Boot());
  const ModelRules& m = sim.Model();
  ASSERT_EQ(Feed(sim, "UPDATE"), "\x06");
  std::vector<std::uint8_t> sent;
  for (int i = 0; i < 258; ++i) {
    const auto number = static_cast<std::uint8_t>(i + 1);
    const auto fill = static_cast<std::uint8_t>(i * 7);
    if (i == 3) {
      ASSERT_EQ(Feed(sim, Block(m, number, fill, Damage::Crc)), "\x15");
    }
    if (i == 4) {
      ASSERT_EQ(Feed(sim, Block(m, number, fill, Damage::Complement)), "\x15");
    }
    if (i == 255) {  // 255 blocks in: number 0 is due, not 1
      ASSERT_EQ(Feed(sim, Block(m, 1, fill)), "\x15");
    }
    ASSERT_EQ(Feed(sim, Block(m, number, fill)), "\x06") << i;
    if (i == 5) {  // sent again after a lost ACK
      ASSERT_EQ(Feed(sim, Block(m, number, fill)), "\x06");
    }
    const std::string data = Block(m, number, fill).substr(3, m.blockSize);
    sent.insert(sent.end(), data.begin(), data.end());
  }
  EXPECT_FALSE(sim.TransferComplete());
  EXPECT_EQ(Feed(sim, "\x04"), "\x06");
  EXPECT_TRUE(sim.TransferComplete());
  EXPECT_EQ(sim.ReceivedImage(), sent);
  EXPECT_EQ(sim.Counters().blocksAccepted, 258u);
  EXPECT_EQ(sim.Counters().blocksDuplicate, 1u);
  EXPECT_EQ(sim.Counters().blocksNaked, 3u);
}

TEST(PlcSimTest, BlocksUseTheModelsSizeAndSurviveSplitArrival) {
  for (const char* model : {"VL", "40MX7-PQN", "QW"}) {
    PlcSim sim(Row(model), Boot());
    Feed(sim, "UPDATE");
    const std::string block = Block(sim.Model(), 1, 0);
    EXPECT_EQ(block.size(), sim.Model().blockSize + 5);
    EXPECT_EQ(Feed(sim, block.substr(0, 100)), "") << model;
    EXPECT_EQ(Feed(sim, block.substr(100)), "\x06") << model;
    EXPECT_EQ(sim.ReceivedImage().size(), sim.Model().blockSize) << model;
  }
}

TEST(PlcSimTest, ComModelsIgnoreBytesSentAtTheWrongLineProfile) {
  PlcSim com(Row("QN4"), Boot());
  com.OnLineProfile(kAppProfile);
  ASSERT_EQ(Feed(com, "UPDATE"), "\x06");
  EXPECT_EQ(com.ExpectedLine(), kBootProfile);
  EXPECT_EQ(Feed(com, Block(com.Model(), 1, 0)), "");  // the burner forgot to change speed
  EXPECT_GT(com.Counters().garbledBytes, 0u);
  com.OnLineProfile(kBootProfile);
  EXPECT_EQ(Feed(com, Block(com.Model(), 1, 0)), "\x06");

  PlcSim usb(Row("VL"), Boot());
  usb.OnLineProfile(kBootProfile);
  EXPECT_EQ(Feed(usb, kProbe59), kBootProbeReply);
}

TEST(PlcSimTest, ParsesFaultNames) {
  const auto nak = ParseFault("nak:2:3");
  EXPECT_TRUE(nak && nak->kind == FaultKind::Nak && nak->a == 2 && nak->b == 3);
  EXPECT_TRUE(ParseFault("hangup:5") && ParseFault("hangup:5")->a == 5);
  EXPECT_TRUE(ParseFault("xon-xoff") && ParseFault("xon-xoff")->kind == FaultKind::XonXoff);
  for (const char* bad :
       {"", "nak:2", "nak:x:3", "hangup", "lose-ack:1:2", "silence:1", "loud", "xon-xoff:1"})
    EXPECT_FALSE(ParseFault(bad)) << bad;
}

struct FaultCase {
  const char* model;
  SimOptions options;
  std::vector<std::pair<std::string, std::string>> exchanges;
};

TEST(PlcSimTest, EachFaultShowsOnTheWire) {
  const FaultCase cases[] = {
      {"QN4", WithFaults({"silence"}), {{kProbe59, ""}}},
      {"QN4", WithFaults({"silence"}, true), {{"ID", ""}}},
      {"QN4",
       WithFaults({"nak:2:3"}),
       {{kProbe59, ":0064015915020328\r\n"}, {kErase59, ":0064015915020328\r\n"}}},
      {"QN4", WithFaults({"nak:1:0"}), {{kId59, ":006401591501002C\r\n"}}},
      {"TR7-MX7", WithFaults({"nak:2:3"}), {{":0003156A00017D\r\n", ":0003020000FB\r\n"}}},
      {"VL", WithFaults({"wrong-id-app"}), {{kId59, ":0064015906011526\r\n"}}},
      {"TR7-D", WithFaults({"wrong-id-boot"}, true), {{"ID", "\x06\x21\x01"s}}},
      {"QN4", WithFaults({"lowercase"}), {{kProbe59, ":006401590500003d\r\n"}}},
      {"QN4", WithFaults({"bad-lrc"}), {{kProbe59, ":006401590500003E\r\n"}}},
      {"QN4", WithFaults({"short-reply"}), {{kProbe59, ":006401590500003D\r"}}},
      {"QN4", WithFaults({"lowercase"}, true), {{kProbe59, kBootProbeReply}}},
      {"VL",
       WithFaults({"garbage"}),
       {{kProbe59, "\xFF\x00?"s + kAppProbeReply}, {kProbe59, kAppProbeReply}}},
      {"QN4", WithFaults({"garbage"}), {{":007F81\r\n", "\x7F\x00?"s}, {kProbe59, kAppProbeReply}}},
  };
  for (const auto& c : cases) {
    PlcSim sim(Row(c.model), c.options);
    for (const auto& [request, reply] : c.exchanges)
      EXPECT_EQ(Feed(sim, request), reply) << c.model << " " << request;
  }
}

TEST(PlcSimTest, EraseFaultsChangeTheHandover) {
  PlcSim silentTr7b(Row("TR7-B"), WithFaults({"silent-erase"}));
  EXPECT_EQ(Feed(silentTr7b, kErase59), "");
  silentTr7b.OnLinkClosed();
  silentTr7b.OnLinkOpened();
  EXPECT_TRUE(silentTr7b.InBootLoader());

  PlcSim stubborn(Row("QN4"), WithFaults({"no-handover"}));
  EXPECT_EQ(Feed(stubborn, kErase59 + kAck59), ":006401590600003C\r\n");
  stubborn.OnLinkClosed();
  stubborn.OnLinkOpened();
  EXPECT_FALSE(stubborn.InBootLoader());
  EXPECT_EQ(Feed(stubborn, kProbe59), kAppProbeReply);
}

TEST(PlcSimTest, BlockFaultsNakLoseAckAndHangUp) {
  PlcSim sim(Row("QW"), WithFaults({"nak-block:2:2", "lose-ack:3", "hangup:4"}, true));
  const ModelRules& m = sim.Model();
  Feed(sim, "UPDATE");
  EXPECT_EQ(Feed(sim, Block(m, 1, 1)), "\x06");
  EXPECT_EQ(Feed(sim, Block(m, 2, 2)), "\x15");
  EXPECT_EQ(Feed(sim, Block(m, 2, 2)), "\x15");
  EXPECT_EQ(Feed(sim, Block(m, 2, 2)), "\x06");
  EXPECT_EQ(Feed(sim, Block(m, 3, 3)), "");
  EXPECT_EQ(Feed(sim, Block(m, 3, 3)), "\x06");  // resent, taken as the duplicate it is
  EXPECT_FALSE(sim.HungUp());
  EXPECT_EQ(Feed(sim, Block(m, 4, 4)), "\x06");
  EXPECT_TRUE(sim.HungUp());
  EXPECT_EQ(Feed(sim, Block(m, 5, 5) + "\x04"), "");
  EXPECT_EQ(sim.ReceivedImage().size(), 4 * m.blockSize);
  EXPECT_FALSE(sim.TransferComplete());

  // Given for several blocks, each fires on its own block; a refused block's answer may be lost
  // when it is at last accepted.
  PlcSim several(Row("QW"),
                 WithFaults({"lose-ack:1", "nak-block:2:1", "lose-ack:2", "nak-block:3:1"}, true));
  Feed(several, "UPDATE");
  const std::pair<std::uint8_t, std::string> answers[] = {
      {1, ""}, {1, "\x06"}, {2, "\x15"}, {2, ""}, {2, "\x06"}, {3, "\x15"}, {3, "\x06"},
  };
  for (const auto& [block, answer] : answers)
    EXPECT_EQ(Feed(several, Block(m, block, block)), answer) << int{block};
  EXPECT_EQ(several.ReceivedImage().size(), 3 * m.blockSize);
}

}  // namespace
}  // namespace plcburn
