#include "record/host_name.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
// clang-format on
#else
#include <unistd.h>
#endif

namespace plcburn {

std::string HostName() {
#ifdef _WIN32
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  if (!GetComputerNameA(name, &length)) return {};
  return std::string(name, length);
#else
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
#endif
}

}  // namespace plcburn
