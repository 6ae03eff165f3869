#include "core/utf8_text.h"

#include <cstdint>

namespace plcburn {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point at `at`, moving past it; a byte that starts no valid sequence is one
// U+FFFD.
char32_t NextCodePoint(std::string_view s, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  const std::uint8_t lead = byte(at++);
  if (lead < 0x80) return lead;
  const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + std::size_t(length - 1) > s.size()) return kReplacement;
  char32_t c = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(at + std::size_t(i - 1)) & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (byte(at + std::size_t(i - 1)) & 0x3F);
  }
  // Over-long forms, surrogates and values past U+10FFFF are not text.
  const char32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
  if (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return kReplacement;
  at += std::size_t(length - 1);
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::wstring WideFromUtf8(std::string_view utf8) {
  std::wstring wide;
  for (std::size_t at = 0; at < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, at);
    // wchar_t is UTF-16 on Windows: a pair of surrogates past U+FFFF.
    if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
      wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(c);
    }
  }
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  std::string utf8;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = static_cast<char32_t>(wide[i]);
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (sizeof(wchar_t) == 2 && high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(wide[++i]) - 0xDC00);
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      c = kReplacement;  // a lone surrogate
    }
    AppendUtf8(utf8, c);
  }
  return utf8;
}

}  // namespace plcburn
