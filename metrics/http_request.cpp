#include "metrics/http_request.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace plcburn {

namespace {

constexpr int kBadRequest = 400;
constexpr int kBodyTooLarge = 413;
constexpr int kHeadTooLarge = 431;
constexpr int kVersionNotSupported = 505;

bool IsTokenChar(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s)
    if (!IsTokenChar(static_cast<unsigned char>(c))) return false;
  return true;
}

// Visible characters, spaces and tabs, and the bytes above ASCII that old clients send.
bool IsFieldValue(std::string_view s) {
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u != '\t' && (u < 0x20 || u == 0x7f)) return false;
  }
  return true;
}

bool IsTarget(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || u == '#') return false;
  }
  return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The line of `text` that starts at `at`, without its LF or CRLF; `at` moves past it. The whole
// rest when no LF ends it.
std::string_view NextLine(std::string_view text, std::size_t& at) {
  const std::size_t end = text.find('\n', at);
  std::string_view line = text.substr(at, end == text.npos ? text.npos : end - at);
  at = end == text.npos ? text.size() : end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The path of an origin-form ("/metrics?x") or absolute-form ("http://host/metrics") target,
// "*" for the asterisk form; empty for anything else.
std::string_view PathOf(std::string_view target) {
  if (target == "*") return target;
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (target.size() > scheme.size() &&
        EqualsIgnoringCase(target.substr(0, scheme.size()), scheme)) {
      target.remove_prefix(scheme.size());
      const std::size_t path = target.find_first_of("/?");
      if (path == 0) return {};  // no host
      target = path == target.npos ? std::string_view("/") : target.substr(path);
      if (target.front() == '?') return "/";
      break;
    }
  }
  if (target.front() != '/') return {};
  return target.substr(0, target.find('?'));
}

HttpRequest Refused(int status) {
  HttpRequest r;
  r.refusal = status;
  return r;
}

}  // namespace

std::size_t HttpHeadSize(std::string_view got) {
  bool started = false;
  for (std::size_t at = 0; at < got.size();) {
    const std::size_t end = got.find('\n', at);
    if (end == got.npos) return 0;
    const bool empty = end == at || (end == at + 1 && got[at] == '\r');
    if (empty && started) return end + 1;
    started = started || !empty;
    at = end + 1;
  }
  return 0;
}

HttpRequest ParseHttpRequest(std::string_view got, std::size_t headBytes, std::size_t bodyBytes) {
  const std::size_t headSize = HttpHeadSize(got);
  if (headSize == 0) return Refused(got.size() >= headBytes ? kHeadTooLarge : kBadRequest);
  if (headSize > headBytes) return Refused(kHeadTooLarge);
  const std::string_view head = got.substr(0, headSize);
  // A CR is only ever the end of a line.
  for (std::size_t cr = head.find('\r'); cr != head.npos; cr = head.find('\r', cr + 1))
    if (cr + 1 >= head.size() || head[cr + 1] != '\n') return Refused(kBadRequest);

  std::size_t at = 0;
  std::string_view line;
  do {
    line = NextLine(head, at);
  } while (line.empty());

  // method SP target SP HTTP/x.y, one space apart.
  const std::size_t space1 = line.find(' ');
  const std::size_t space2 = space1 == line.npos ? line.npos : line.find(' ', space1 + 1);
  if (space2 == line.npos) return Refused(kBadRequest);
  const std::string_view method = line.substr(0, space1);
  const std::string_view target = line.substr(space1 + 1, space2 - space1 - 1);
  const std::string_view version = line.substr(space2 + 1);
  const bool versionShape = version.size() == 8 && version.starts_with("HTTP/") &&
                            version[5] >= '0' && version[5] <= '9' && version[6] == '.' &&
                            version[7] >= '0' && version[7] <= '9';
  if (!IsToken(method) || !IsTarget(target) || !versionShape) return Refused(kBadRequest);
  if (version[5] != '1') return Refused(kVersionNotSupported);
  const std::string_view path = PathOf(target);
  if (path.empty()) return Refused(kBadRequest);

  int hosts = 0;
  bool chunks = false;
  bool lengthGiven = false;
  std::uint64_t length = 0;
  for (line = NextLine(head, at); !line.empty(); line = NextLine(head, at)) {
    // A field folded onto the next line is refused rather than guessed at.
    if (line.front() == ' ' || line.front() == '\t') return Refused(kBadRequest);
    const std::size_t colon = line.find(':');
    if (colon == line.npos) return Refused(kBadRequest);
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimSpaces(line.substr(colon + 1));
    if (!IsToken(name) || !IsFieldValue(value)) return Refused(kBadRequest);
    if (EqualsIgnoringCase(name, "host")) {
      ++hosts;
    } else if (EqualsIgnoringCase(name, "transfer-encoding")) {
      chunks = true;
    } else if (EqualsIgnoringCase(name, "content-length")) {
      std::uint64_t n = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (value.empty() || end != value.data() + value.size() ||
          (error != std::errc{} && error != std::errc::result_out_of_range))
        return Refused(kBadRequest);
      if (error == std::errc::result_out_of_range) n = UINT64_MAX;
      // Two lengths that disagree leave the request's end unknown.
      if (lengthGiven && n != length) return Refused(kBadRequest);
      lengthGiven = true;
      length = n;
    }
  }
  if (hosts > 1 || (hosts == 0 && version[7] != '0') || (chunks && lengthGiven))
    return Refused(kBadRequest);
  if (length > bodyBytes) return Refused(kBodyTooLarge);

  HttpRequest request;
  request.method = method;
  request.path = path;
  request.headSize = headSize;
  request.contentLength = static_cast<std::size_t>(length);
  return request;
}

}  // namespace plcburn
