#include "trust/minisign_lines.h"

namespace plcburn {

MinisignLines SplitMinisignLines(std::string_view text, std::size_t count) {
  MinisignLines lines;
  std::size_t found = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (found < count) {
      if (line.empty()) {
        lines.error = "line " + std::to_string(found + 1) + " is empty";
        return lines;
      }
      lines.at[found++] = line;
    } else if (!line.empty()) {
      lines.error = "there is text after line " + std::to_string(count);
      return lines;
    }
  }
  if (found < count)
    lines.error = "it has " + std::to_string(found) + " lines, not " + std::to_string(count);
  return lines;
}

}  // namespace plcburn
