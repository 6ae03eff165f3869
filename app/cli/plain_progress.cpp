#include "app/cli/plain_progress.h"

namespace plcburn {

namespace {

std::string_view WithoutSeconds(std::string_view line) {
  const std::size_t last = line.rfind(' ');
  return last == std::string_view::npos ? std::string_view() : line.substr(0, last);
}

}  // namespace

bool PlainProgressChanged(std::string_view line, std::string_view last) {
  return last.empty() || WithoutSeconds(line) != WithoutSeconds(last);
}

}  // namespace plcburn
