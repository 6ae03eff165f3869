#include "sim/plcsim_help.h"

#include "core/catalogue.h"
#include "core/version.h"

namespace plcburn {

// Laid out for help2man: option lines indented with their text in one column.
std::string PlcsimHelpText() {
  std::string models;
  for (std::size_t row = 0; row < kModelCount; ++row) {
    models += row % 6 == 0 ? "\n                     " : " ";
    models += plcList[row];
  }
  return "Usage: plcsim --model NAME [OPTION]...\n"
         "A simulated PLC of any model behind a pseudo-terminal, for burning into with\n"
         "plcburn or plcburn-cli.\n"
         "\n"
         "It prints the pseudo-terminal's path as its first line, then serves until it\n"
         "is killed, until the transfer's EOT has been acknowledged, or until a hangup\n"
         "fault fires.\n"
         "\n"
         "  --model NAME       the model to simulate (required), one of:" +
         models +
         "\n"
         "  --boot             start in the boot loader instead of the application\n"
         "  --fault FAULT      inject FAULT (below); may be given several times\n"
         "  --line-rate        answer no faster than the real line rates\n"
         "  --save FILE        write the received image to FILE when the transfer ends\n"
         "  --d1386 V          the value of register D1386 (0 to 0xFFFF)\n"
         "  --d1148 V          the value of register D1148 (0 to 0xFFFF)\n"
         "  --boot-id V        the identifier the boot loader answers to \"ID\" (0 to\n"
         "                     0xFFFF), instead of the model's\n"
         "  -h, --help         print this help and exit\n"
         "  --version          print the version and exit\n"
         "\n"
         "Faults:\n"
         "  silence            no answer at all, from either firmware\n"
         "  nak:CLASS:STATE    the application NAKs every command with CLASS, STATE\n"
         "  wrong-id-app       the application reports another model identifier\n"
         "  wrong-id-boot      the boot loader reports another model identifier\n"
         "  lowercase          lower-case hex letters in the application's replies\n"
         "  bad-lrc            a wrong LRC in the application's replies\n"
         "  short-reply        the application's replies lack their LF\n"
         "  silent-erase       no reply to the erase request, but a handover\n"
         "  no-handover        the application never hands over to the boot loader\n"
         "  nak-block:K:N      block K is refused N times before it is accepted\n"
         "  lose-ack:K         block K is accepted but its ACK is lost, once\n"
         "                     (nak-block and lose-ack may be given for several blocks)\n"
         "  garbage            a few garbage bytes before the first answer\n"
         "  hangup:K           the PLC vanishes after accepting block K\n"
         "  xon-xoff           the port is left with XON/XOFF flow control on, as a\n"
         "                     careless terminal program leaves it\n"
         "\n"
         "Exit status:\n"
         "  0   the transfer ended and FILE (if any) was written, or plcsim was\n"
         "      stopped by SIGTERM or SIGINT\n"
         "  1   no pseudo-terminal could be had, or FILE could not be written\n"
         "  2   usage error\n"
         "  3   a hangup fault fired\n"
         "\n"
         "Troubleshooting:\n"
         "  The faults above bring about most messages of a burn. What each means and\n"
         "  what to try: " +
         std::string(kGuidePlace) +
         ".\n"
         "\n"
         "Examples:\n"
         "One PLC on a serial port: a TR7-B; burn into the path plcsim prints.\n"
         "  $ plcsim --model TR7-B\n"
         "  $ plcburn-cli --port /dev/pts/3 --image TR7-B_v12.bin --yes\n"
         "One PLC on USB: the USB models take a simulator's path in place of USB.\n"
         "  $ plcsim --model VL\n"
         "  $ plcburn-cli --port /dev/pts/3 --yes\n"
         "A gang of four: four simulators, then one burn into the paths they print\n"
         "(A to D here).\n"
         "  $ for i in 1 2 3 4; do plcsim --model VL --save vl$i.bin & done\n"
         "  $ plcburn-cli --port A --port B --port C --port D --yes\n";
}

std::string PlcsimVersionText() {
  return std::string(kVersionLine) + "\n\n" + std::string(kCopyright);
}

}  // namespace plcburn
