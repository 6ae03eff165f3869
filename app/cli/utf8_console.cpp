#include "app/cli/utf8_console.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
// clang-format on

#include <cstdlib>
#endif

namespace plcburn {

#ifdef _WIN32
namespace {
UINT consoleCodePage = 0;
}  // namespace
#endif

void UseUtf8Console() {
#ifdef _WIN32
  // The console is the operator's: it gets its code page back when the program ends.
  consoleCodePage = GetConsoleOutputCP();
  if (consoleCodePage != 0 && consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
    std::atexit([] { SetConsoleOutputCP(consoleCodePage); });
#endif
}

}  // namespace plcburn
