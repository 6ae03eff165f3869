#include "app/cli/burn_log_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "core/utf8_text.h"

namespace plcburn {

std::string OpenBurnLog(const std::string& path, std::ifstream& in) {
  std::error_code ec;
  // The path as typed for the messages, the system's own form to open it.
  const std::filesystem::path file = PathFromUtf8(path);
  const auto status = std::filesystem::status(file, ec);
  if (ec) return ec.message();
  if (!std::filesystem::exists(status)) return "there is no such file";
  if (!std::filesystem::is_regular_file(status)) return "it is not a regular file";
  in.open(file, std::ios::binary);
  if (!in.is_open()) return std::generic_category().message(errno);
  return {};
}

}  // namespace plcburn
