#include "core/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace plcburn {
namespace {

TEST(Utf8Text, PathsAndWideTextKeepEveryCharacter) {
  const std::string bad = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string in, out;  // out empty: as in
  } cases[] = {
      {"Z:/tmp/\xD0\x9F\xD1\x80\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB2\xD0\xBA\xD0\xB0/QW_test.bin", ""},
      {"/fw/\xE5\x9B\xBA\xE4\xBB\xB6/VL_v1.bin", ""},
      {"\xF0\x9F\x94\xA5.bin", ""},  // past U+FFFF: a surrogate pair on Windows
      {"a\xFF"
       "b",
       "a" + bad + "b"},
      {"\xC0\xAF", bad + bad},            // an over-long '/'
      {"\xED\xA0\x80", bad + bad + bad},  // a surrogate
      {"\xE2\x82"
       "x",
       bad + bad + "x"},  // cut short
  };
  for (const auto& c : cases) {
    const std::string out = c.out.empty() ? c.in : c.out;
    EXPECT_EQ(Utf8FromWide(WideFromUtf8(c.in)), out);
    if (!c.out.empty()) continue;
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(c.in)), c.in);
#ifdef _WIN32
    EXPECT_EQ(WideFromUtf8(c.in), PathFromUtf8(c.in).wstring());  // as the file functions get it
#endif
  }
}

}  // namespace
}  // namespace plcburn
