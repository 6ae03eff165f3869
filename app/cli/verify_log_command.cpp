#include "app/cli/verify_log_command.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/utf8_text.h"
#include "record/burn_log_check.h"

namespace plcburn {

int VerifyLogCommand(const std::string& path) {
  std::error_code ec;
  // The path as typed for the messages, the system's own form to open it.
  const std::filesystem::path file = PathFromUtf8(path);
  const auto status = std::filesystem::status(file, ec);
  std::string why;
  std::ifstream in;
  if (ec) {
    why = ec.message();
  } else if (!std::filesystem::exists(status)) {
    why = "there is no such file";
  } else if (!std::filesystem::is_regular_file(status)) {
    why = "it is not a regular file";
  } else {
    in.open(file, std::ios::binary);
    if (!in.is_open()) why = std::generic_category().message(errno);
  }
  if (!why.empty()) {
    std::fprintf(stderr, "plcburn-cli: cannot read the burn log %s: %s\n", path.c_str(),
                 why.c_str());
    return 2;
  }
  const LogCheck check = CheckBurnLog(in);
  for (std::size_t i = 0; i < check.notes.size(); ++i) {
    const bool tampering = !check.intact && i + 1 == check.notes.size();
    if (tampering) std::fflush(stdout);  // after the notes before it, wherever both go
    std::fprintf(tampering ? stderr : stdout, "%s%s: %s\n", tampering ? "plcburn-cli: " : "",
                 path.c_str(), check.notes[i].text.c_str());
  }
  if (!check.intact) return 1;
  if (check.checked == 0) {
    std::printf("%s: no chained record to check\n", path.c_str());
    return 0;
  }
  std::printf(
      "%s: %llu record%s checked, the chain is intact; the last, line %llu, has SHA-256 %s\n",
      path.c_str(), static_cast<unsigned long long>(check.checked), check.checked == 1 ? "" : "s",
      static_cast<unsigned long long>(check.lastLine), check.lastSha256.c_str());
  return 0;
}

}  // namespace plcburn
