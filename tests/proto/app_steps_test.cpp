#include "proto/app_steps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "tests/proto/step_fixture.h"

namespace plcburn {
namespace {

using testing::Answer;
using ::testing::Each;
using ::testing::ElementsAre;
using testing::Nak;
using testing::Register;
using testing::StepFixture;
using testing::WithBadLrc;

struct RequestCase {
  const char* model;
  std::string (*build)(const ModelRules&);
  const char* text;
};

TEST(AppRequests, ByteExactForEveryVariant) {
  const RequestCase cases[] = {
      {"VL", ProbeRequest, ":006401590141\r\n"},
      {"40MX7-PQN", ProbeRequest, ":0064015B013F\r\n"},
      {"TR7-B", IdentityRequest, ":006401594944B5\r\n"},
      {"40MX7-PQN", IdentityRequest, ":0064015B4944B3\r\n"},
      {"QK4", EraseRequestA, ":006401594552415345D2\r\n"},
      {"40MX7-PQN", EraseRequestA, ":0064015B4552415345D0\r\n"},
      {"ZN500", EraseAckRequestA, ":00640159063C\r\n"},
      {"40MX7-PQN", EraseAckRequestA, ":0064015B063A\r\n"},
  };
  for (const RequestCase& c : cases)
    EXPECT_EQ(c.build(ModelAt(*FindModel(c.model))), c.text) << c.model;
  EXPECT_EQ(DummyRequest(), ":007F81\r\n");
  EXPECT_EQ(ReadD1386Request(), ":0003156A00017D\r\n");
  EXPECT_EQ(ReadD1148Request(), ":0003147C00016C\r\n");
  EXPECT_EQ(VersionRequestA(), ":00640159053D\r\n");
}

TEST(AppRequests, PqnVersionRequestKeepsSubByte59) {
  StepFixture f("40MX7-PQN");
  f.link.QueueReply(Answer(0x07));
  EXPECT_EQ(read_fu_version_A(f.ctx), 0x07);
  EXPECT_THAT(f.link.WrittenTexts(), ElementsAre(":00640159053D\r\n"));
}

TEST(DummyComm, FiveWritesTenReadsAndProfileOnlyOnCom) {
  for (const char* model : {"TR7-B", "VL"}) {
    StepFixture f(model);
    f.link.QueueReplies(Answer(0x05), 5);  // answers are drained, never judged
    DummyComm(f.ctx, f.link);
    EXPECT_EQ(f.link.writes.size(), 5u);
    EXPECT_EQ(f.link.readCount, 10);
    EXPECT_THAT(f.link.WrittenTexts(), Each(std::string(":007F81\r\n")));
    EXPECT_EQ(f.link.timeouts.ReadTotalTimeoutConstant, 200u);
    EXPECT_EQ(f.link.profiles.size(), std::string(model) == "VL" ? 0u : 1u);
    EXPECT_EQ(f.state.totalErrCounter, 0);
  }
}

TEST(DummyComm, SilentPlcCostsTenReadTimeouts) {
  StepFixture f("QN4");
  DummyComm(f.ctx, f.link);
  EXPECT_EQ(f.link.Clock().NowMs(), 2000u);
}

TEST(ConfirmComm, ModeAnswers) {
  struct Case {
    std::string reply;
    std::uint8_t result;
  } cases[] = {{Answer(0x05), RC_APP_MODE}, {Answer(0x06), RC_BOOT_MODE}};
  for (const Case& c : cases) {
    StepFixture f("TR7-MX7");
    f.link.QueueReply(c.reply);
    EXPECT_EQ(ConfirmComm(f.ctx, f.link), c.result);
    EXPECT_EQ(f.state.errCounter, 0);
    ASSERT_EQ(f.link.profiles.size(), 1u);
    EXPECT_EQ(f.link.profiles[0], kAppProfile);
  }
}

// Each classifying step, fed six copies of the same last reply.
struct ClassifyCase {
  std::string reply;
  std::uint8_t confirm, checkId, erase;
};

class Classification : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(Classification, LastReplyDecidesTheCode) {
  const ClassifyCase& c = GetParam();
  {
    StepFixture f("QN4");
    f.link.QueueReplies(c.reply, 6);
    EXPECT_EQ(ConfirmComm(f.ctx, f.link), c.confirm);
  }
  {
    StepFixture f("QN4");
    f.link.QueueReplies(c.reply, 6);
    EXPECT_EQ(CheckID_A(f.ctx, f.link), c.checkId);
  }
  {
    StepFixture f("QN4");
    f.link.QueueReplies(c.reply, 6);
    EXPECT_EQ(SendErase_A(f.ctx, f.link), c.erase);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Classification,
    ::testing::Values(
        ClassifyCase{"", RC_NO_RESPONSE, RC_NO_RESPONSE, RC_NO_RESPONSE},
        ClassifyCase{Answer(0x07), RC_NO_RESPONSE, RC_NO_RESPONSE, RC_NO_RESPONSE},
        ClassifyCase{Nak(1, 9), RC_RUN_MODE, RC_UNKNOWN_CODE, RC_UNKNOWN_CODE},
        ClassifyCase{Nak(2, 1), RC_FLOW_STATE1, RC_FLOW_UNKNOWN, RC_FLOW_UNKNOWN},
        ClassifyCase{Nak(2, 2), RC_FLOW_STATE2, RC_FLOW_STATE2, RC_FLOW_UNKNOWN},
        ClassifyCase{Nak(2, 3), RC_FLOW_UNKNOWN, RC_FLOW_STATE3, RC_FLOW_STATE3},
        ClassifyCase{Nak(2, 4), RC_FLOW_UNKNOWN, RC_FLOW_UNKNOWN, RC_FLOW_STATE4},
        ClassifyCase{Nak(2, 7), RC_FLOW_UNKNOWN, RC_FLOW_UNKNOWN, RC_FLOW_UNKNOWN},
        ClassifyCase{Nak(3, 2), RC_UNKNOWN_CODE, RC_UNKNOWN_CODE, RC_UNKNOWN_CODE},
        // A NAK whose LRC is wrong is still decoded and classified.
        ClassifyCase{WithBadLrc(Nak(2, 2)), RC_FLOW_STATE2, RC_FLOW_STATE2, RC_FLOW_UNKNOWN},
        // A short NAK is never decoded.
        ClassifyCase{Nak(1, 1).substr(0, 18), RC_NO_RESPONSE, RC_NO_RESPONSE, RC_NO_RESPONSE},
        ClassifyCase{"::::", RC_NO_RESPONSE, RC_NO_RESPONSE, RC_NO_RESPONSE}));

TEST(ExchangeCounters, FiveFailedWritesThenSixFailedReads) {
  StepFixture f("QN4");
  for (int i = 0; i < 5; ++i) f.link.LimitNextWrite(3);
  const std::uint8_t rc = ConfirmComm(f.ctx, f.link);
  EXPECT_EQ(rc, RC_NO_RESPONSE);
  EXPECT_EQ(f.link.writes.size(), 11u);
  EXPECT_EQ(f.link.readCount, 6);
  EXPECT_EQ(f.state.errCounter, 6);
  EXPECT_EQ(f.state.totalErrCounter, 11);
}

TEST(ExchangeCounters, SixFailedWritesEndWithoutAnyRead) {
  StepFixture f("QN4");
  for (int i = 0; i < 6; ++i) f.link.LimitNextWrite(0);
  EXPECT_EQ(CheckID_A(f.ctx, f.link), RC_NO_RESPONSE);
  EXPECT_EQ(f.link.readCount, 0);
  EXPECT_EQ(f.state.errCounter, 6);
  EXPECT_EQ(f.state.totalErrCounter, 6);
}

TEST(ExchangeCounters, TotalAccumulatesAcrossSteps) {
  StepFixture f("QN4");
  f.state.totalErrCounter = 4;
  f.link.QueueReply("");
  f.link.QueueReply(Answer(0x05));
  EXPECT_EQ(ConfirmComm(f.ctx, f.link), RC_APP_MODE);
  EXPECT_EQ(f.state.totalErrCounter, 5);
  EXPECT_EQ(f.state.errCounter, 0);
  EXPECT_EQ(f.link.Clock().NowMs(), 3000u);
}

TEST(ExchangeCounters, ReplyOneCharacterShortIsNeverDecoded) {
  StepFixture f("QN4");
  f.link.QueueReplies(Answer(0x05).substr(0, 18), 6);
  EXPECT_EQ(ConfirmComm(f.ctx, f.link), RC_NO_RESPONSE);
  // Only the line end is never looked at.
  StepFixture g("QN4");
  g.link.QueueReply(Answer(0x05).substr(0, 17) + "XY");
  EXPECT_EQ(ConfirmComm(g.ctx, g.link), RC_APP_MODE);
}

TEST(CheckIdA, IdentifierRules) {
  struct Case {
    const char* model;
    std::uint8_t high, low;
    bool accepted;
  } cases[] = {
      {"TR7-MX7", 0x00, 0x0C, true},    {"TR7-MX7", 0x00, 0x0D, true},
      {"TR7-B", 0x00, 0x0D, true},      {"TR7-B", 0x0C, 0x00, false},
      {"QK4", 0x00, 0x13, true},        {"QK48", 0x00, 0x12, false},
      {"QJ5", 0x00, 0x00, true},        {"40MX7-PQN", 0x00, 0x0D, true},
      {"40MX7-PQN", 0x00, 0x0C, false}, {"TR7-D", 0xA0, 0x01, true},
      {"TR7-D", 0x20, 0x01, false},
  };
  for (const Case& c : cases) {
    StepFixture f(c.model);
    f.link.QueueReplies(Answer(0x06, c.high, c.low), 6);
    EXPECT_EQ(CheckID_A(f.ctx, f.link), c.accepted ? RC_OK : RC_NO_RESPONSE)
        << c.model << " " << int(c.high) << "/" << int(c.low);
  }
}

TEST(CheckIdA, SuccessKeepsTheFailuresSoFar) {
  StepFixture f("QN4");
  f.link.QueueReply("");
  f.link.QueueReply(Answer(0x06, 0x00, 0x01));
  f.link.QueueReply(Answer(0x06, 0x00, 0x0E));
  EXPECT_EQ(CheckID_A(f.ctx, f.link), RC_OK);
  EXPECT_EQ(f.state.errCounter, 2);
}

TEST(Registers, ValueOrZero) {
  StepFixture f("TR7-B");
  f.link.QueueReply(Register(0x4138));
  EXPECT_EQ(READ_D1386(f.ctx, f.link), 0x4138);
  // Function code and byte count are not examined.
  StepFixture g("QK48");
  g.link.QueueReply(testing::Hex({0x07, 0x99, 0x55, 0x00, 0x02}));
  EXPECT_EQ(READ_D1148(g.ctx, g.link), 0x0002);
  StepFixture h("QK48");
  h.link.QueueReplies(WithBadLrc(Register(0x0005)), 6);
  EXPECT_EQ(READ_D1148(h.ctx, h.link), 0);
  EXPECT_EQ(h.state.totalErrCounter, 6);
  EXPECT_EQ(h.link.WrittenTexts()[0], ":0003147C00016C\r\n");
}

TEST(VersionA, AnyValidReplyIsTheVersion) {
  StepFixture f("ZN500");
  f.link.QueueReply(Nak(2, 2));
  EXPECT_EQ(read_fu_version_A(f.ctx), 0x15);
  StepFixture g("ZN500");
  EXPECT_EQ(read_fu_version_A(g.ctx), 0);
  EXPECT_EQ(g.state.totalErrCounter, 6);
}

TEST(SendEraseA, AcknowledgesTheErase) {
  StepFixture f("QK4");
  f.link.QueueReply(Answer(0x06));
  EXPECT_EQ(SendErase_A(f.ctx, f.link), RC_OK);
  EXPECT_THAT(f.link.WrittenTexts(), ElementsAre(":006401594552415345D2\r\n", ":00640159063C\r\n"));
  EXPECT_EQ(f.link.readCount, 1);
}

TEST(SendEraseA, SilentEraseCountsAsDoneOnlyForTwoModels) {
  struct Case {
    const char* model;
    std::uint8_t result;
  } cases[] = {{"TR7-B", RC_OK}, {"MX7-GLT", RC_OK}, {"TR7-MX7", RC_NO_RESPONSE}};
  for (const Case& c : cases) {
    StepFixture f(c.model);
    f.state.errCounter = 3;
    EXPECT_EQ(SendErase_A(f.ctx, f.link), c.result) << c.model;
    if (c.result == RC_OK) {
      EXPECT_EQ(f.link.writes.size(), 1u) << "no acknowledgement after silence";
      EXPECT_EQ(f.state.errCounter, 0);
      EXPECT_EQ(f.state.totalErrCounter, 0);
    }
  }
}

TEST(SendEraseA, WrongLrcIsAFailedReadEvenForSilentModels) {
  StepFixture f("TR7-B");
  f.link.QueueReply(WithBadLrc(Answer(0x06)));
  f.link.QueueReply(Answer(0x06));
  EXPECT_EQ(SendErase_A(f.ctx, f.link), RC_OK);
  EXPECT_EQ(f.state.totalErrCounter, 1);
  EXPECT_EQ(f.link.writes.size(), 3u);
}

TEST(SendEraseA, ShortAcknowledgementWriteStartsAgainWithTheErase) {
  StepFixture f("QK4");
  f.link.QueueReply(Answer(0x06));
  f.link.QueueReply(Answer(0x06));
  f.link.LimitNextWrite(23);
  f.link.LimitNextWrite(14);
  EXPECT_EQ(SendErase_A(f.ctx, f.link), RC_OK);
  const auto texts = f.link.WrittenTexts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[2], ":006401594552415345D2\r\n");
  EXPECT_EQ(f.state.totalErrCounter, 1);
}

}  // namespace
}  // namespace plcburn
