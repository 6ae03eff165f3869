#include "record/host_name.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
// clang-format on
#include "core/utf8_text.h"
#else
#include <unistd.h>
#endif

namespace plcburn {

std::string HostName() {
#ifdef _WIN32
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &length)) return {};
  return Utf8FromWide(std::wstring_view(name, length));
#else
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
#endif
}

}  // namespace plcburn
