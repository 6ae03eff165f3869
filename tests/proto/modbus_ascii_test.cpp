#include "proto/modbus_ascii.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plcburn {
namespace {

struct LrcCase {
  const char* name;
  std::string text;
  int len;
  std::uint8_t result;
  std::string bufferAfter;  // the first bytes of the buffer after the call
};

class CheckLrcTest : public ::testing::TestWithParam<LrcCase> {};

TEST_P(CheckLrcTest, DecodesInPlaceAndSums) {
  const LrcCase& c = GetParam();
  std::vector<std::uint8_t> buf(c.text.begin(), c.text.end());
  EXPECT_EQ(CheckLRC(buf.data(), c.len), c.result);
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<long>(c.bufferAfter.size())),
            c.bufferAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckLrcTest,
    ::testing::Values(LrcCase{"valid_probe_answer", "00640159053D", 12, 0,
                              std::string("\x00\x64\x01\x59\x05\x3D", 6)},
                      LrcCase{"lower_case_letter", "00640159053d", 12, 1,
                              std::string("\x00\x64\x01\x59\x05", 5) + "159053d"},
                      LrcCase{"bad_character_keeps_earlier_pairs", "0064G159053D", 12, 1,
                              std::string("\x00\x64", 2) + "64G1"},
                      LrcCase{"sum_not_zero_is_returned", "0102", 4, 3, std::string("\x01\x02", 2)},
                      LrcCase{"only_low_eight_bits_of_length", "00640159053DZZ", 256 + 12, 0,
                              std::string("\x00\x64\x01\x59\x05\x3D", 6)},
                      LrcCase{"zero_length_checks_nothing", "ZZ", 0, 0, "ZZ"},
                      LrcCase{"odd_length_leaves_the_last_character", "01FZ", 3, 1,
                              std::string("\x01", 1) + "1FZ"},
                      LrcCase{"sum_of_one_equals_bad_character", "01", 2, 1,
                              std::string("\x01", 1)}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(BuildFrame, AppendsLrcAndLineEnd) {
  const std::vector<std::uint8_t> probe{0x00, 0x64, 0x01, 0x59, 0x01};
  EXPECT_EQ(BuildFrame(probe), ":006401590141\r\n");
  const std::vector<std::uint8_t> dummy{0x00, 0x7F};
  EXPECT_EQ(BuildFrame(dummy), ":007F81\r\n");
  const std::vector<std::uint8_t> none{};
  EXPECT_EQ(BuildFrame(none), ":00\r\n");
}

}  // namespace
}  // namespace plcburn
