#include "app/qt/window_options.h"

#include <cstdio>
#include <string_view>

#include "app/help_sections.h"
#include "app/version_text.h"

namespace plcburn {

namespace {

// Laid out for help2man, which makes plcburn(1) from it.
void PrintHelp() {
  std::fputs(
      "Usage: plcburn [OPTION]...\n"
      "  or:  plcburn --station SLOT... [STATION OPTION]...\n"
      "Burn the firmware image built into this program into one PLC, from a window.\n"
      "\n"
      "The model is fixed by the build; choose the port and press \"Start Burn\".\n"
      "Every outcome, prompt and error is shown in a message box.\n"
      "\n"
      "With --station, the window of a burning station: every PLC plugged into one of\n"
      "the slots is burned once, with one tile per slot that reads from across the\n"
      "room. The slots and the station options are those of plcburn-cli --watch:\n"
      "  --station SLOT...  the slots to watch (USB, or absolute paths or globs of\n"
      "                     serial device nodes)\n"
      "  --model NAME, --image FILE, --trusted-key FILE, --replug-timeout S, --now,\n"
      "  --log FILE, --no-log   as plcburn-cli takes them\n"
      "\n"
      "  -h, --help         print this help and exit, without opening a window\n"
      "  --version          print the version and the built-in image (file name,\n"
      "                     model, size, SHA-256) and exit, without opening a window\n"
      "\n"
      "Qt's own options (such as -platform NAME) are accepted as well.\n"
      "\n"
      "Exit status:\n"
      "  0   the window was closed, or --help or --version answered\n"
      "  2   --station was given unusable slots or options\n"
      "  other  the window could not be opened (no display, for instance)\n"
      "\n",
      stdout);
  std::fputs(EnvironmentAndFilesHelp().c_str(), stdout);
}

}  // namespace

std::optional<int> AnswerWindowOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    }
    if (arg == "--version") {
      std::fputs(VersionText().c_str(), stdout);
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace plcburn
