#include "core/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace plcburn {
namespace {

TEST(Utf8Text, PathsAndWideTextKeepEveryCharacter) {
  const char* const names[] = {
      "QW_test.bin",
      "Z:/tmp/\xD0\x9F\xD1\x80\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB2\xD0\xBA\xD0\xB0/"
      "QW_test.bin",                             // Прошивка
      "/fw/\xE5\x9B\xBA\xE4\xBB\xB6/VL_v1.bin",  // 固件
      "\xF0\x9F\x94\xA5.bin",                    // past U+FFFF: a surrogate pair on Windows
      "",
  };
  for (const std::string name : names) {
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(name)), name);
    EXPECT_EQ(Utf8FromWide(WideFromUtf8(name)), name);
#ifdef _WIN32
    // The same name as the file functions get it.
    EXPECT_EQ(WideFromUtf8(name), PathFromUtf8(name).wstring()) << name;
#endif
  }
}

TEST(Utf8Text, WhatIsNotTextBecomesReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"a\xFF"
       "b",
       "a" + replacement + "b"},                                  // no lead byte
      {"\xC0\xAF", replacement + replacement},                    // an over-long '/'
      {"\xED\xA0\x80", replacement + replacement + replacement},  // a surrogate
      {"\xD0", replacement},                                      // cut short
      {"\xE2\x82"
       "x",
       replacement + replacement + "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8FromWide(WideFromUtf8(c.in)), c.out);
  EXPECT_EQ(Utf8FromWide(std::wstring(1, static_cast<wchar_t>(0xD800))), replacement);
}

}  // namespace
}  // namespace plcburn
