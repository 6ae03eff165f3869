#include "record/utc_time_text.h"

#include <chrono>

namespace plcburn {

namespace {

// Reads exactly `digits` decimal digits at `at`, moving past them.
std::optional<int> Number(std::string_view text, std::size_t& at, std::size_t digits) {
  if (at + digits > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  at += digits;
  return value;
}

bool Skip(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

}  // namespace

std::optional<std::uint64_t> ParseUtcTime(std::string_view text) {
  using namespace std::chrono;
  if (text.ends_with('Z')) text.remove_suffix(1);
  std::size_t at = 0;
  const auto y = Number(text, at, 4);
  if (!y || !Skip(text, at, '-')) return std::nullopt;
  const auto mo = Number(text, at, 2);
  if (!mo || !Skip(text, at, '-')) return std::nullopt;
  const auto d = Number(text, at, 2);
  if (!d) return std::nullopt;
  const year_month_day date{year(*y), month(static_cast<unsigned>(*mo)),
                            day(static_cast<unsigned>(*d))};
  if (!date.ok() || *y < 1970) return std::nullopt;
  int h = 0, mi = 0, s = 0, ms = 0;
  if (Skip(text, at, 'T')) {
    const auto hh = Number(text, at, 2);
    if (!hh || !Skip(text, at, ':')) return std::nullopt;
    const auto mm = Number(text, at, 2);
    if (!mm) return std::nullopt;
    h = *hh;
    mi = *mm;
    if (Skip(text, at, ':')) {
      const auto ss = Number(text, at, 2);
      if (!ss) return std::nullopt;
      s = *ss;
      if (Skip(text, at, '.')) {
        const auto fraction = Number(text, at, 3);
        if (!fraction) return std::nullopt;
        ms = *fraction;
      }
    }
    if (h > 23 || mi > 59 || s > 59) return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  const auto since =
      sys_days(date).time_since_epoch() + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(since).count());
}

}  // namespace plcburn
