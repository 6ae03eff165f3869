#include "proto/block_transfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "core/result_codes.h"
#include "proto/boot_steps.h"
#include "tests/proto/step_fixture.h"

namespace plcburn {
namespace {

using testing::Bytes;
using testing::StepFixture;

TEST(Crc, CheckValues) {
  const std::string digits = "123456789";
  const std::string abc = "abc";
  EXPECT_EQ(CRC(reinterpret_cast<const std::uint8_t*>(digits.data()), 9), 0x31C3u);
  EXPECT_EQ(CRC(reinterpret_cast<const std::uint8_t*>(abc.data()), 3), 0x9DD6u);
  EXPECT_EQ(CRC(nullptr, 0), 0u);
  const std::uint8_t one = 1, ff = 0xFF;
  EXPECT_EQ(CRC(&one, 1), 0x1021u);  // table entries 1 and 255
  EXPECT_EQ(CRC(&ff, 1), 0x1EF0u);
}

Bytes Image(std::size_t n) {
  Bytes image(n);
  for (std::size_t i = 0; i < n; ++i)
    image[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
  return image;
}

// Acks every write and collects what was sent.
struct Transfer {
  Transfer(const char* model, const Bytes& image)
      : f(model, static_cast<std::uint32_t>(image.size())) {
    f.ctx.fin = ImageCursor(image);
    f.link.responder = [this](const Bytes&) {
      progressSeen.push_back(f.state.progress);
      return Bytes{ACK};
    };
  }
  StepFixture f;
  std::vector<std::int32_t> progressSeen;
};

TEST(SendFw, BlockCountsAndPadding) {
  struct Case {
    const char* model;
    std::size_t length;
    std::size_t blocks;
    std::size_t blockLength;
    std::size_t imageBytesInLast;
  } cases[] = {
      {"VL", 426032, 1665, 261, 48},
      {"VL", 512, 2, 261, 256},
      {"VL", 257, 2, 261, 1},
      {"QN4", 129, 2, 133, 1},
      {"TR7-B", 426032, 3329, 133, 48},
      {"ZN500", 426032, 1649, 261, 48},
      {"40MX7-PQN", 12288, 48, 261, 256},
      {"VL", 0, 0, 261, 0},
      {"ZN500", 4096, 0, 261, 0},
      {"VL-K", 256, 1, 261, 256},
  };
  for (const Case& c : cases) {
    const Bytes image = Image(c.length);
    Transfer t(c.model, image);
    ASSERT_EQ(SendFW(t.f.ctx, t.f.link), RC_OK) << c.model;
    const auto& writes = t.f.link.writes;
    ASSERT_EQ(writes.size(), c.blocks + 1) << c.model << " " << c.length;
    EXPECT_EQ(writes.back(), Bytes{EOT});
    Bytes sent;
    for (std::size_t b = 0; b < c.blocks; ++b) {
      ASSERT_EQ(writes[b].size(), c.blockLength);
      sent.insert(sent.end(), writes[b].begin() + 3, writes[b].end() - 2);
    }
    const std::size_t sentImage = c.length - (std::string(c.model) == "ZN500" ? 4096 : 0);
    ASSERT_EQ(sent.size(), c.blocks * (c.blockLength - 5));
    EXPECT_TRUE(
        std::equal(image.begin(), image.begin() + static_cast<long>(sentImage), sent.begin()));
    EXPECT_TRUE(std::all_of(sent.begin() + static_cast<long>(sentImage), sent.end(),
                            [](std::uint8_t b) { return b == 0x1A; }));
    if (c.blocks > 0) {
      EXPECT_EQ(sentImage - (c.blocks - 1) * (c.blockLength - 5), c.imageBytesInLast);
    }
    EXPECT_EQ(t.f.ctx.fin.Position(), sentImage) << "cursor stops at what was sent";
    EXPECT_EQ(t.f.state.progress, 100);
  }
}

TEST(SendFw, HeaderNumbersWrapAndCrcCoversData) {
  const Bytes image = Image(300 * 128);
  Transfer t("QN4", image);
  ASSERT_EQ(SendFW(t.f.ctx, t.f.link), RC_OK);
  const auto& w = t.f.link.writes;
  struct Expect {
    std::size_t index;
    std::uint8_t number, complement;
  } expects[] = {{0, 1, 0xFE}, {1, 2, 0xFD}, {254, 255, 0x00}, {255, 0, 0xFF}, {256, 1, 0xFE}};
  for (const Expect& e : expects) {
    EXPECT_EQ(w[e.index][0], STX);
    EXPECT_EQ(w[e.index][1], e.number) << e.index;
    EXPECT_EQ(w[e.index][2], e.complement) << e.index;
  }
  for (const Bytes& block : std::vector<Bytes>(w.begin(), w.end() - 1)) {
    const std::uint32_t crc = CRC(block.data() + 3, 128);
    ASSERT_EQ(block[131], crc >> 8);
    ASSERT_EQ(block[132], crc & 0xFF);
  }
}

TEST(SendFw, ProgressSequence) {
  const Bytes image = Image(426032);
  Transfer t("VL", image);
  ASSERT_EQ(SendFW(t.f.ctx, t.f.link), RC_OK);
  // Seen before each write: 0 before block 1 and after it (100 / 1666), 99 before EOT.
  EXPECT_EQ(t.progressSeen[0], 0);
  EXPECT_EQ(t.progressSeen[1], 0);
  EXPECT_EQ(t.progressSeen[17], 1);
  EXPECT_EQ(t.progressSeen.back(), 99);
  EXPECT_TRUE(std::is_sorted(t.progressSeen.begin(), t.progressSeen.end()));
  EXPECT_EQ(t.f.state.flashStatus, PROGRAM);
}

TEST(SendFw, NakAndSilenceResendTheSameBlock) {
  const Bytes image = Image(3 * 128);
  StepFixture f("QN4", 3 * 128);
  f.ctx.fin = ImageCursor(image);
  int call = 0;
  f.link.responder = [&call](const Bytes&) {
    ++call;
    if (call == 2) return Bytes{0x15};
    if (call == 3) return Bytes{};
    return Bytes{ACK};
  };
  ASSERT_EQ(SendFW(f.ctx, f.link), RC_OK);
  const auto& w = f.link.writes;
  ASSERT_EQ(w.size(), 6u);
  EXPECT_EQ(w[1], w[2]);
  EXPECT_EQ(w[1], w[3]);
  EXPECT_EQ(w[1][1], 2);
  EXPECT_EQ(w[4][1], 3);
  EXPECT_EQ(f.state.totalErrCounter, 2);
  EXPECT_EQ(f.state.errCounter, 0);
  EXPECT_EQ(f.link.Clock().NowMs(), 3000u);
}

TEST(SendFw, ElevenAttemptsAtMostThenFailWithoutEot) {
  const Bytes image = Image(2 * 256);
  StepFixture f("VL", 2 * 256);
  f.ctx.fin = ImageCursor(image);
  int call = 0;
  f.link.responder = [&call](const Bytes&) { return ++call == 1 ? Bytes{ACK} : Bytes{0x15}; };
  for (int i = 0; i < 5; ++i) f.link.LimitNextWrite(i == 0 ? 261 : 10);
  EXPECT_EQ(SendFW(f.ctx, f.link), RC_FAIL);
  EXPECT_EQ(f.link.writes.size(), 1u + 4u + 6u);
  EXPECT_NE(f.link.writes.back(), Bytes{EOT});
  EXPECT_EQ(f.state.errCounter, 6);
  EXPECT_EQ(f.state.totalErrCounter, 10);
}

}  // namespace
}  // namespace plcburn
