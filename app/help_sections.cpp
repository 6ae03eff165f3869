#include "app/help_sections.h"

namespace plcburn {

std::string EnvironmentAndFilesHelp() {
  std::string text;
#ifndef _WIN32
  // Windows lists the COM ports of the devices present, and nothing else.
  text +=
      "Environment:\n"
      "  PLCBURN_EXTRA_PORTS\n"
      "                     colon-separated device paths appended to the port list,\n"
      "                     for virtual serial ports such as plcsim's\n";
#endif
  text +=
      "\n"
      "Files:\n"
#ifdef _WIN32
      "  %LOCALAPPDATA%\\plcburn\\burns.jsonl\n"
      "                     the burn log:\n"
#else
      "  $XDG_STATE_HOME/plcburn/burns.jsonl\n"
      "                     the burn log (by default in ~/.local/state/plcburn):\n"
#endif
      "                     every burn appends its record, one line of JSON\n"
      "                     (when, where, which image, what the PLC reported,\n"
      "                     how it ended), chained to the record before it by\n"
      "                     its SHA-256 (plcburn-cli --verify-log checks it); one\n"
      "                     that cannot be written gives a warning and changes\n"
      "                     nothing else\n";
#ifdef PLCBURN_UDEV_RULE
  // The path the rule is installed to, given by the build.
  text += "  " PLCBURN_UDEV_RULE
          "\n"
          "                     lets the user at the seat open the PLC's USB interface\n"
          "                     (7e3a:0001) without root; serial ports need membership\n"
          "                     of the dialout group\n";
#endif
  return text;
}

}  // namespace plcburn
