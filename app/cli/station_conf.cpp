#include "app/cli/station_conf.h"

#include <algorithm>

namespace plcburn {

namespace {

constexpr std::string_view kSpace = " \t\r";

std::string_view Trim(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(kSpace);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(kSpace) - begin + 1);
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  for (std::size_t at = text.find_first_not_of(kSpace); at != std::string_view::npos;) {
    const std::size_t end = std::min(text.find_first_of(kSpace, at), text.size());
    words.emplace_back(text.substr(at, end - at));
    at = text.find_first_not_of(kSpace, end);
  }
  return words;
}

}  // namespace

StationConfArgs StationConfToArgs(std::string_view text, const std::string& logPath) {
  // Notepad begins a UTF-8 file with its byte order mark.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string> slots, options;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    const std::string at = "station.conf line " + std::to_string(number) + ": ";
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return {{}, at + "not KEY=VALUE"};
    const std::string_view key = Trim(line.substr(0, equals));
    std::string_view value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (key == "SLOTS") {
      slots = Words(value);
    } else if (key == "OPTIONS") {
      options = Words(value);
    } else {
      return {{}, at + "unknown key " + std::string(key) + " (the keys are SLOTS and OPTIONS)"};
    }
  }
  if (slots.empty()) return {{}, "station.conf: SLOTS names no slot"};
  for (const std::string& option : options) {
    if (option == "--log" || option == "--no-log" || option == "--watch")
      return {{}, "station.conf: " + option + " is not for OPTIONS: the service gives it"};
  }
  StationConfArgs result;
  result.args.push_back("--watch");
  result.args.insert(result.args.end(), slots.begin(), slots.end());
  result.args.push_back("--log");
  result.args.push_back(logPath);
  result.args.insert(result.args.end(), options.begin(), options.end());
  return result;
}

}  // namespace plcburn
