#include "app/cli/verify_log_command.h"

#include <cstdio>
#include <fstream>

#include "app/cli/burn_log_file.h"
#include "record/burn_log_check.h"

namespace plcburn {

int VerifyLogCommand(const std::string& path) {
  std::ifstream in;
  const std::string why = OpenBurnLog(path, in);
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
