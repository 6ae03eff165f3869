#include "proto/boot_steps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "tests/proto/step_fixture.h"

namespace plcburn {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::StepFixture;

Bytes IdAnswer(std::uint16_t id) {
  return {ACK, static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id & 0xFF)};
}

TEST(CheckIdB, IdentifierRulesPerModel) {
  struct Case {
    const char* model;
    std::uint16_t reported;
    bool accepted;
  } cases[] = {
      {"VL", 0x0015, true},     {"VL-K", 0xA002, true},      {"VL-K", 0x2002, false},
      {"ZN500", 0x3000, true},  {"TR7-MX7", 0x000C, true},   {"TR7-MX7", 0x000D, true},
      {"TR7-B", 0x000D, true},  {"40MX7-PQN", 0x000D, true}, {"40MX7-PQN", 0x000C, false},
      {"TR7-D", 0x2001, true},  {"TR7-D", 0xA001, false},    {"QK4-K", 0x2003, true},
      {"QK4-K", 0xA003, false}, {"MX7-GLT", 0x2006, true},   {"QJ5", 0x0000, true},
      {"QK48", 0x0013, true},   {"TR7-F", 0x0018, false},
  };
  for (const Case& c : cases) {
    StepFixture f(c.model);
    for (int i = 0; i < 6; ++i) f.link.QueueReply(IdAnswer(c.reported));
    EXPECT_EQ(CheckID_B(f.ctx, f.link), c.accepted ? RC_OK : RC_FAIL)
        << c.model << " " << std::hex << c.reported;
    EXPECT_EQ(f.link.WrittenTexts()[0], "ID");
  }
}

TEST(CheckIdB, ErrCounterAfterLateAcceptance) {
  struct Case {
    const char* model;
    std::uint16_t id;
    int errAfter;  // the 0x000C pair keeps the count of turned-down answers
  } cases[] = {{"TR7-MX7", 0x000C, 2}, {"QN4", 0x000E, 0}, {"VL", 0x0015, 0}};
  for (const Case& c : cases) {
    StepFixture f(c.model);
    f.link.QueueReply(Bytes{});
    f.link.QueueReply(Bytes{ACK, 0x00});
    f.link.QueueReply(IdAnswer(c.id));
    EXPECT_EQ(CheckID_B(f.ctx, f.link), RC_OK);
    EXPECT_EQ(f.state.errCounter, c.errAfter) << c.model;
    EXPECT_EQ(f.state.totalErrCounter, 2);
  }
}

TEST(CheckIdB, WrongFirstByteIsRetried) {
  StepFixture f("QN4");
  f.link.QueueReply(Bytes{0x15, 0x00, 0x0E});
  f.link.QueueReply(IdAnswer(0x000E));
  EXPECT_EQ(CheckID_B(f.ctx, f.link), RC_OK);
  EXPECT_EQ(f.link.writes.size(), 2u);
}

TEST(VersionB, AckAndTwoBytes) {
  StepFixture f("ZN500");
  f.link.QueueReply(Bytes{ACK, 0x12, 0x34});
  EXPECT_EQ(read_fu_version_B(f.ctx), RC_OK);
  EXPECT_EQ(f.link.WrittenTexts()[0], "VERSION");
  StepFixture g("ZN500");
  for (int i = 0; i < 6; ++i) g.link.QueueReply(Bytes{ACK, 0x12});
  EXPECT_EQ(read_fu_version_B(g.ctx), RC_FAIL);
  EXPECT_EQ(g.state.errCounter, 6);
}

// Answers every command with ACK and records progress after each write.
struct AckingLink {
  StepFixture& f;
  std::vector<std::int32_t> progressSeen;
  explicit AckingLink(StepFixture& fixture) : f(fixture) {
    f.link.responder = [this](const Bytes&) {
      progressSeen.push_back(f.state.progress);
      return Bytes{ACK};
    };
  }
};

TEST(SendEraseB, PageCounts) {
  struct Case {
    const char* model;
    std::uint32_t length;
    std::size_t erases;
  } cases[] = {
      {"TR7-B", 131072, 2}, {"TR7-B", 131071, 1}, {"MX7-GLT", 426032, 4},
      {"QK48", 0, 1},       {"TR7-F", 917504, 8}, {"VL", 426032, 27},
      {"VL-K", 16384, 2},   {"ZN500", 4096, 0},   {"ZN500", 8192, 1},
      {"ZN500", 8193, 2},   {"40MX7-PQN", 1, 4},  {"40MX7-PQN", 12288, 4},
      {"TR7-MX7", 2047, 1}, {"QW", 2048, 2},      {"TR-MX-QJ4", 426032, 209},
  };
  for (const Case& c : cases) {
    StepFixture f(c.model, c.length);
    AckingLink acking(f);
    EXPECT_EQ(SendErase_B(f.ctx, f.link), RC_OK);
    const auto texts = f.link.WrittenTexts();
    ASSERT_EQ(texts.size(), c.erases + 1) << c.model << " " << c.length;
    EXPECT_EQ(texts.back(), "\x04");
    for (std::size_t i = 0; i < c.erases; ++i) EXPECT_EQ(texts[i], "ERASE");
    EXPECT_EQ(f.state.progress, 100);
    EXPECT_EQ(f.state.flashStatus, ERASE);
  }
}

TEST(SendEraseB, ProgressOfTheVlTrace) {
  StepFixture f("VL", 426032);
  AckingLink acking(f);
  ASSERT_EQ(SendErase_B(f.ctx, f.link), RC_OK);
  // Progress before each write: 0 before the first, then after each acknowledged page.
  EXPECT_THAT(acking.progressSeen,
              ElementsAre(0, 0, 3, 7, 11, 14, 18, 22, 25, 29, 33, 37, 40, 44, 48, 51, 55, 59, 62,
                          66, 70, 74, 77, 81, 85, 88, 92, 96));
}

TEST(SendEraseB, FailureMidwaySendsNoEot) {
  StepFixture f("VL", 426032);
  int writes = 0;
  f.link.responder = [&writes](const Bytes&) { return ++writes <= 3 ? Bytes{ACK} : Bytes{0x15}; };
  EXPECT_EQ(SendErase_B(f.ctx, f.link), RC_FAIL);
  EXPECT_EQ(f.link.writes.size(), 3u + 6u);
  EXPECT_EQ(f.link.WrittenTexts().back(), "ERASE");
  EXPECT_EQ(f.state.flashStatus, ERASE);
  EXPECT_EQ(f.state.progress, 7);
  EXPECT_EQ(f.state.errCounter, 6);
}

TEST(SendUpdate, SwitchesToBootProfileOnlyOnAck) {
  for (bool acked : {true, false}) {
    StepFixture f("VL");
    if (acked) f.link.QueueReply(Bytes{ACK});
    EXPECT_EQ(SendUpdate(f.ctx, f.link), acked ? RC_OK : RC_FAIL);
    EXPECT_EQ(f.link.WrittenTexts()[0], "UPDATE");
    if (acked) {
      EXPECT_THAT(f.link.profiles, ElementsAre(kBootProfile));
    } else {
      EXPECT_TRUE(f.link.profiles.empty());
      EXPECT_EQ(f.link.Clock().NowMs(), 6u * 3000u);
    }
  }
}

}  // namespace
}  // namespace plcburn
