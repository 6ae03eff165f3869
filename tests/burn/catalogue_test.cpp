#include "burn/catalogue.h"

#include <gtest/gtest.h>

#include <string>

namespace plcburn {
namespace {

// One row per model: the rules that differ between models, and the counts they give for the
// 426,032-byte built-in image.
struct ModelRow {
  const char* name;
  std::uint16_t id;
  bool usb;
  std::uint32_t maxSize;
  std::uint8_t subByte;
  bool silentErase;
  ModelCheck check;
  ReconnectAction reconnect;
  std::uint32_t waitMs;
  std::uint16_t bootId;  // an identifier the boot loader must report
  std::uint16_t pages;   // erase commands for 426,032 bytes (or 12,288 for 40MX7-PQN)
  std::int32_t blocks;
  const char* caption;
};

constexpr std::uint32_t k480K = 491520, k512K = 524288;
const ModelRow kRows[] = {
    {"TR7-MX7", 0x000C, false, k480K, 0x59, false, ModelCheck::D1386, ReconnectAction::WaitOnOpenLink, 1000, 0x000D, 209, 3329, "INFORMATION"},
    {"QN4", 0x000E, false, k480K, 0x59, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x000E, 209, 3329, "INFORMATION"},
    {"QW4", 0x000F, false, k480K, 0x59, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x000F, 209, 3329, "INFORMATION"},
    {"QK4", 0x0013, false, k480K, 0x59, false, ModelCheck::D1148, ReconnectAction::WaitOnOpenLink, 1000, 0x0013, 209, 3329, "INFORMATION"},
    {"TR7-B", 0x000C, false, k512K, 0x59, true, ModelCheck::D1386, ReconnectAction::PowerCycle, 2000, 0x000C, 4, 3329, "INFORMATION"},
    {"VL", 0x0015, true, k480K, 0x59, false, ModelCheck::None, ReconnectAction::ReplugUsb, 2000, 0x0015, 27, 1665, "Information"},
    {"QJ5", 0x0000, false, k480K, 0x59, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x0000, 209, 3329, "INFORMATION"},
    {"40MX7-PQN", 0x000D, false, 12288, 0x5B, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x000D, 4, 48, "INFORMATION"},
    {"QW", 0x0008, false, k480K, 0x59, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x0008, 209, 3329, "INFORMATION"},
    {"TR7-D", 0xA001, false, k480K, 0x59, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x2001, 209, 3329, "INFORMATION"},
    {"VL-K", 0xA002, true, k480K, 0x59, false, ModelCheck::None, ReconnectAction::ReplugUsb, 2000, 0xA002, 27, 1665, "Information"},
    {"QK4-K", 0xA003, false, k480K, 0x59, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x2003, 209, 3329, "INFORMATION"},
    {"ZN500", 0x3000, true, 2076672, 0x59, false, ModelCheck::VersionA, ReconnectAction::ReplugUsb, 5000, 0x3000, 104, 1649, "Information"},
    {"TR-MX-QJ4", 0x0003, false, k480K, 0x59, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x0003, 209, 3329, "INFORMATION"},
    {"MX7-GLT", 0xA006, false, k512K, 0x59, true, ModelCheck::None, ReconnectAction::PowerCycle, 2000, 0x2006, 4, 3329, "INFORMATION"},
    {"QK48", 0x0013, false, k512K, 0x59, false, ModelCheck::D1148, ReconnectAction::WaitOnOpenLink, 1000, 0x0013, 4, 3329, "INFORMATION"},
    {"TR7-F", 0x0017, false, 917504, 0x59, false, ModelCheck::None, ReconnectAction::WaitOnOpenLink, 1000, 0x0017, 4, 3329, "INFORMATION"},
};

class CatalogueRow : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CatalogueRow, RulesOfTheModel) {
  const std::size_t row = GetParam();
  const ModelRow& e = kRows[row];
  const ModelRules& m = ModelAt(row);
  const std::uint32_t image = m.name == "40MX7-PQN" ? 12288 : 426032;
  EXPECT_EQ(std::string(plcList[row]), e.name);
  EXPECT_EQ(FindModel(e.name), row);
  EXPECT_EQ(m.id, e.id);
  EXPECT_EQ(plcID[row], e.id);
  EXPECT_EQ(m.IsUsb(), e.usb);
  EXPECT_EQ(m.maxSize, e.maxSize);
  EXPECT_EQ(m.subByte, e.subByte);
  EXPECT_EQ(m.eraseDoneWithoutReply, e.silentErase);
  EXPECT_EQ(m.modelCheck, e.check);
  EXPECT_EQ(m.reconnect, e.reconnect);
  EXPECT_EQ(m.reconnectWaitMs, e.waitMs);
  EXPECT_EQ(m.reconnectPrompt.empty(), e.reconnect == ReconnectAction::WaitOnOpenLink);
  EXPECT_TRUE(m.AcceptsBootId(e.bootId));
  EXPECT_EQ(m.TotalPages(image), e.pages);
  EXPECT_EQ(m.TotalPackets(image), e.blocks);
  EXPECT_EQ(m.BlockLength(), e.usb || m.name == "40MX7-PQN" ? 261u : 133u);
  EXPECT_EQ(m.successCaption, e.caption);
  EXPECT_EQ(m.readsBootVersion, m.name == "ZN500");
  EXPECT_EQ(m.unsentTail, m.name == "ZN500" ? 4096u : 0u);
}

INSTANTIATE_TEST_SUITE_P(AllModels, CatalogueRow, ::testing::Range<std::size_t>(0, kModelCount),
                         [](const auto& info) {
                           std::string n = kRows[info.param].name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

TEST(Catalogue, SizeLimitsAndMessages) {
  struct Case {
    const char* model;
    std::uint32_t length;
    bool fits;
    const char* message;
  } cases[] = {
      {"VL", 491520, true, "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)"},
      {"VL", 491521, false, "The file size EXCEEDS the MAXIMUM size (2 * 1024 * 240)"},
      {"40MX7-PQN", 426032, false, "The file size EXCEEDS the MAXIMUM size (4 * 1024)"},
      {"40MX7-PQN", 12288, true, "The file size EXCEEDS the MAXIMUM size (4 * 1024)"},
      {"TR7-F", 917505, false, "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 7)"},
      {"QK48", 524288, true, "The file size EXCEEDS the MAXIMUM size (128 * 1024 * 4)"},
      {"ZN500", 2076673, false, "The file size EXCEEDS the MAXIMUM size (2028 * 1024)"},
  };
  for (const Case& c : cases) {
    const ModelRules& m = ModelAt(*FindModel(c.model));
    EXPECT_EQ(c.length <= m.maxSize, c.fits) << c.model;
    EXPECT_EQ(m.sizeMessage, c.message);
  }
  EXPECT_EQ(ModelAt(*FindModel("ZN500")).minSize, 4096u);
}

TEST(Catalogue, IdentifierRules) {
  struct Case {
    const char* model;
    std::uint16_t reported;
    bool app, boot;
  } cases[] = {
      {"TR7-MX7", 0x000D, true, true}, {"TR7-B", 0x000D, true, true}, {"40MX7-PQN", 0x000D, true, true},
      {"40MX7-PQN", 0x000C, false, false}, {"QJ5", 0x0000, true, true}, {"QK4-K", 0x2003, false, true},
      {"QK4-K", 0xA003, true, false}, {"VL-K", 0xA002, true, true}, {"VL-K", 0x2002, false, false},
  };
  for (const Case& c : cases) {
    const ModelRules& m = ModelAt(*FindModel(c.model));
    EXPECT_EQ(m.AcceptsAppId(c.reported), c.app) << c.model;
    EXPECT_EQ(m.AcceptsBootId(c.reported), c.boot) << c.model;
  }
}

TEST(Catalogue, LookupByNameIsExact) {
  EXPECT_FALSE(FindModel("vl").has_value());
  EXPECT_FALSE(FindModel("VL ").has_value());
  EXPECT_FALSE(FindModel("").has_value());
  EXPECT_EQ(FindModel("QK4-K"), 11u);
}

TEST(Catalogue, ModelOfABuildFromItsImageName) {
  struct Case {
    const char* file;
    const char* model;
  } cases[] = {
      {"VL_v189_20170828_left.bin", "VL"}, {"QK4-K_v2.bin", "QK4-K"}, {"TR7-B_x_y.bin", "TR7-B"},
      {"vl-k_lower.bin", "VL-K"},           {"NOUNDERSCORE.bin", "40MX7-PQN"},
      {"", "40MX7-PQN"},                    {"_leading.bin", "40MX7-PQN"},
  };
  for (const Case& c : cases) EXPECT_EQ(ModelAt(ModelFromImageName(c.file)).name, c.model) << c.file;
}

TEST(Catalogue, PageRulesAtBoundaries) {
  struct Case {
    const char* model;
    std::uint32_t length;
    std::uint16_t pages;
  } cases[] = {{"TR7-B", 131072, 2}, {"TR7-B", 131071, 1}, {"ZN500", 4096, 0}, {"ZN500", 8192, 1},
               {"ZN500", 8193, 2},   {"VL", 16383, 1},     {"VL", 16384, 2},   {"QN4", 0, 1},
               {"40MX7-PQN", 0, 4}};
  for (const Case& c : cases)
    EXPECT_EQ(ModelAt(*FindModel(c.model)).TotalPages(c.length), c.pages) << c.model << c.length;
}

}  // namespace
}  // namespace plcburn
