#include "core/catalogue.h"

#include <gtest/gtest.h>

#include <string>

namespace plcburn {
namespace {

// What each model's rules make of the 426,032-byte built-in image (12,288 bytes for 40MX7-PQN):
// the identifiers accepted, the erase commands, the blocks and their length on the wire, and how
// long the burn waits for the PLC after the application's erase.
TEST(Catalogue, EachModelsIdentifiersAndTransferCounts) {
  struct Row {
    const char* name;
    std::uint16_t appId, bootId;
    std::uint16_t pages;
    std::int32_t blocks;
    std::uint32_t blockLength, waitMs;
  } rows[] = {
      {"TR7-MX7", 0x000C, 0x000D, 209, 3329, 133, 1000},
      {"QN4", 0x000E, 0x000E, 209, 3329, 133, 1000},
      {"QW4", 0x000F, 0x000F, 209, 3329, 133, 1000},
      {"QK4", 0x0013, 0x0013, 209, 3329, 133, 1000},
      {"TR7-B", 0x000D, 0x000C, 4, 3329, 133, 2000},
      {"VL", 0x0015, 0x0015, 27, 1665, 261, 2000},
      {"QJ5", 0x0000, 0x0000, 209, 3329, 133, 1000},
      {"40MX7-PQN", 0x000D, 0x000D, 4, 48, 261, 1000},
      {"QW", 0x0008, 0x0008, 209, 3329, 133, 1000},
      {"TR7-D", 0xA001, 0x2001, 209, 3329, 133, 1000},
      {"VL-K", 0xA002, 0xA002, 27, 1665, 261, 2000},
      {"QK4-K", 0xA003, 0x2003, 209, 3329, 133, 1000},
      {"ZN500", 0x3000, 0x3000, 104, 1649, 261, 5000},
      {"TR-MX-QJ4", 0x0003, 0x0003, 209, 3329, 133, 1000},
      {"MX7-GLT", 0xA006, 0x2006, 4, 3329, 133, 2000},
      {"QK48", 0x0013, 0x0013, 4, 3329, 133, 1000},
      {"TR7-F", 0x0017, 0x0017, 4, 3329, 133, 1000},
  };
  ASSERT_EQ(std::size(rows), kModelCount);
  for (const Row& r : rows) {
    ASSERT_TRUE(FindModel(r.name).has_value()) << r.name;
    const ModelRules& m = ModelAt(*FindModel(r.name));
    const std::uint32_t image = m.name == "40MX7-PQN" ? 12288 : 426032;
    EXPECT_TRUE(m.AcceptsAppId(r.appId)) << r.name;
    EXPECT_TRUE(m.AcceptsBootId(r.bootId)) << r.name;
    EXPECT_EQ(m.TotalPages(image), r.pages) << r.name;
    EXPECT_EQ(m.TotalPackets(image), r.blocks) << r.name;
    EXPECT_EQ(m.BlockLength(), r.blockLength) << r.name;
    EXPECT_EQ(m.reconnectWaitMs, r.waitMs) << r.name;
  }
}

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
      {"TR7-MX7", 0x000D, true, true},   {"TR7-B", 0x000D, true, true},
      {"40MX7-PQN", 0x000D, true, true}, {"40MX7-PQN", 0x000C, false, false},
      {"QJ5", 0x0000, true, true},       {"QK4-K", 0x2003, false, true},
      {"QK4-K", 0xA003, true, false},    {"VL-K", 0xA002, true, true},
      {"VL-K", 0x2002, false, false},
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
      {"VL_v189_20170828_left.bin", "VL"}, {"QK4-K_v2.bin", "QK4-K"},
      {"TR7-B_x_y.bin", "TR7-B"},          {"vl-k_lower.bin", "VL-K"},
      {"NOUNDERSCORE.bin", "40MX7-PQN"},   {"", "40MX7-PQN"},
      {"_leading.bin", "40MX7-PQN"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ModelAt(ModelFromImageName(c.file)).name, c.model) << c.file;
}

TEST(Catalogue, PageRulesAtBoundaries) {
  struct Case {
    const char* model;
    std::uint32_t length;
    std::uint16_t pages;
  } cases[] = {{"TR7-B", 131072, 2}, {"TR7-B", 131071, 1}, {"ZN500", 4096, 0},
               {"ZN500", 8192, 1},   {"ZN500", 8193, 2},   {"VL", 16383, 1},
               {"VL", 16384, 2},     {"QN4", 0, 1},        {"40MX7-PQN", 0, 4}};
  for (const Case& c : cases)
    EXPECT_EQ(ModelAt(*FindModel(c.model)).TotalPages(c.length), c.pages) << c.model << c.length;
}

}  // namespace
}  // namespace plcburn
