#pragma once
// The lines of a minisign file, shared by the key and the signature parsers.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace plcburn {

inline constexpr std::string_view kUntrustedCommentPrefix = "untrusted comment:";

struct MinisignLines {
  std::array<std::string_view, 4> at;
  std::string error;
};

// The first `count` (at most 4) lines, each without its "\n" or "\r\n". Text after them may only
// be blank lines; a file written on Windows keeps its carriage returns.
MinisignLines SplitMinisignLines(std::string_view text, std::size_t count);

}  // namespace plcburn
