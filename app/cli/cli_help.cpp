#include "app/cli/cli_help.h"

#include "app/help_sections.h"
#include "core/version.h"

namespace plcburn {

namespace {

// Where the trusted keys are installed, as the help names it.
#ifdef _WIN32
constexpr const char* kTrustedKeysPlace = "%ProgramData%\\plcburn\\trusted-keys\\";
// The station as a Windows service.
constexpr const char* kServiceOptions =
    "  --install-service  register the station as the Windows service plcburn-station\n"
    "                     (\"plcburn station\", started by hand); it burns with the\n"
    "                     settings of %ProgramData%\\plcburn\\station.conf and says\n"
    "                     what it did in service.log beside it\n"
    "  --remove-service   stop the service (its burns end as stopped) and remove it\n";
#else
constexpr const char* kServiceOptions = "";
constexpr const char* kTrustedKeysPlace = "/etc/plcburn/trusted-keys/";
#endif

}  // namespace

// Laid out for help2man, which makes plcburn-cli(1) from it: option lines indented with their
// text in one column, "Exit status:" as a sub-section.
std::string CliHelpText() {
  const std::string text =
      "Usage: plcburn-cli [--port PORT]... [--model NAME] [--image FILE] [--yes]\n"
      "                   [--serial TEXT] [--json] [--log FILE | --no-log]\n"
      "                   [--trusted-key FILE]...\n"
      "  or:  plcburn-cli --port PORT... --images DIR [--yes] [--json]\n"
      "  or:  plcburn-cli --watch SLOT... [--image FILE | --images DIR]\n"
      "                   [--replug-timeout S] [--unplug-debounce S] [--now]\n"
      "                   [--metrics ADDRESS:PORT] [--json] [--require-serial]\n"
      "                   [--scan-timeout S] [--scanner DEVICE]\n"
      "  or:  plcburn-cli --identify --port PORT|all... [--json]\n"
      "  or:  plcburn-cli --verify-image FILE [--trusted-key FILE]...\n"
      "  or:  plcburn-cli --verify-log FILE\n"
      "  or:  plcburn-cli --list-ports | --build-model | --help | --version\n"
      "Burn the firmware image built into this program into a PLC, from a terminal.\n"
      "\n"
      "Each message of the burn is printed on standard output as one line\n"
      "\"CAPTION: text\"; progress goes to standard error. A reconnect prompt waits\n"
      "for Enter. Ctrl+C, SIGINT, SIGTERM and SIGHUP stop every burn: each ends\n"
      "with the line \"ERROR: Firmware update is STOPPED: the PLC must be burned\n"
      "again\". Burn it again then: its boot loader takes a new image.\n"
      "\n"
      "  --port PORT        the PLC's port: a listed name (ttyUSB0), a device path,\n"
      "                     or USB; default: the first entry of the port list.\n"
      "                     Given several times, the same image is burnt into each\n"
      "                     PLC at once, with one reconnect prompt for all and a\n"
      "                     summary at the end\n"
      "  --image FILE       burn FILE instead of the built-in image; the part of its\n"
      "                     name before the first \"_\" names its model\n"
      "  --model NAME       the model FILE is for; needed only when FILE's name\n"
      "                     names no model, refused when it names another\n"
      "  --trusted-key FILE trust the minisign public key in FILE besides those\n"
      "                     installed in " +
      std::string(kTrustedKeysPlace) +
      "; with any trusted\n"
      "                     key, an --image FILE is burned only with a valid\n"
      "                     signature FILE.minisig by one of them\n"
      "  --verify-image FILE  check FILE as --image would (its kind, its signature)\n"
      "                     and print the signing key and trusted comment; opens no\n"
      "                     port; exit status 0 when it would be burned, else 1\n"
      "  --verify-log FILE  check the chain of the burn log FILE: print the first\n"
      "                     record that was edited, removed, inserted or moved, by\n"
      "                     its line, or how many records were checked; records of\n"
      "                     older versions, records written outside the chain and\n"
      "                     lines a power loss cut off are told, not taken for\n"
      "                     tampering; exit status 0 when the chain holds, 1 when\n"
      "                     it does not or FILE is no burn log\n"
      "  --images DIR       identify each PLC first, then burn the one image in DIR\n"
      "                     named for its model (MODEL_*.bin); a PLC whose model has\n"
      "                     no image there, or several, is refused before anything\n"
      "                     is erased; excludes --image and --model\n"
      "  --identify         burn nothing: tell, read-only, which firmware answers on\n"
      "                     each --port, its identifier, its model, its versions and\n"
      "                     registers, one line (with --json one object) per port;\n"
      "                     only the ports named are probed, --port all probes every\n"
      "                     listed port and USB\n"
      "  --watch SLOT...    a burning station: burn every PLC that is plugged into a\n"
      "                     SLOT, once, all slots at once, until a signal ends it. A\n"
      "                     SLOT is an absolute path or glob of device nodes\n"
      "                     (/dev/serial/by-path/*-usb-0:1.2:1.0*, /dev/ttyUSB*), on\n"
      "                     Windows a COM port or pattern (COM5, COM*), or USB\n"
      "                     (each PLC named by its port: usb:1-1.2, on Windows\n"
      "                     usb:Port_#0002.Hub_#0003). A re-plug\n"
      "                     prompt goes on when the PLC has gone and come back; a\n"
      "                     power cycle is confirmed at once, with the model's pause.\n"
      "                     A PLC stays burned until it is unplugged\n"
      "  --replug-timeout S how long a station waits for a re-plug (default 60)\n"
      "  --unplug-debounce S  a device gone for less than S seconds (default 2)\n"
      "                     that comes back at the same place is the same device:\n"
      "                     it is not burned again (a USB PLC that restarts)\n"
      "  --now              a station also burns the PLCs plugged in at its start\n"
      "  --serial TEXT      the PLC's serial (its label), kept in the burn's record\n"
      "  --scan-timeout S   a station gives a scanned label (typed into its terminal,\n"
      "                     or read from --scanner) to the next PLC plugged in within\n"
      "                     S seconds (default 30)\n"
      "  --require-serial   a station burns a PLC only with a scanned label\n"
      "  --scanner DEVICE   a station reads labels from this barcode scanner's input\n"
      "                     device (/dev/input/by-id/...-event-kbd), taken for itself\n"
      "  --metrics ADDRESS:PORT  a station serves its figures for Prometheus at\n"
      "                     http://ADDRESS:PORT/metrics\n"
      "  -y, --yes          answer reconnect prompts at once instead of waiting, for\n"
      "                     unattended use; without it, a model that prompts is\n"
      "                     refused when standard input is not a terminal\n"
      "  --json             standard output becomes JSON Lines events (phase,\n"
      "                     progress, prompt, message, and last the result with an\n"
      "                     error's hint and the burn's record), each with its event\n"
      "                     and port\n"
      "  --log FILE         append the burn records to FILE instead of the burn log\n"
      "  --no-log           keep no burn record\n"
      "  --list-ports       print the port list, one port a line, and exit\n" +
      std::string(kServiceOptions) +
      "  --build-model      print the model this build serves and exit\n"
      "  -h, --help         print this help and exit\n"
      "  --version          print the version and the built-in image (file name,\n"
      "                     model, size, SHA-256) and exit\n"
      "\n"
      "Exit status:\n"
      "  0   the burn succeeded (with several --port: every burn), every port\n"
      "      answered --identify, the chain of a --verify-log FILE holds, or an\n"
      "      informational option\n"
      "  1   a burn failed, an image gives the PLC nothing to write, --images had\n"
      "      no image for a PLC, or a port gave --identify no valid answer; the error\n"
      "      message was the last line printed. --verify-log: the log was tampered\n"
      "      with, or FILE is no burn log\n"
      "  2   usage error: an unknown option, a missing value, an image that is not\n"
      "      a regular file or is named for another model, an image that is\n"
      "      plainly another kind of file (Intel HEX, S-record, ELF, PE, zip,\n"
      "      gzip, text) or lacks a trusted signature, a prompt nobody can\n"
      "      answer, a --verify-log FILE that cannot be read; nothing was opened\n"
      "  128+N  stopped by signal N (130: SIGINT, 143: SIGTERM, 129: SIGHUP); a\n"
      "      station (--watch) ends only so\n"
      "\n"
      "Troubleshooting:\n"
      "  Under each error message, a hint line on standard error says what to try\n"
      "  (with --json, the result's hint).\n"
      "  Every message, what plcburn was doing, its likely causes and what to try,\n"
      "  in order: " +
      std::string(kGuidePlace) +
      ".\n"
      "\n"
      "Examples:\n"
      "One PLC on the first USB serial adapter (on Windows: --port COM3).\n"
      "  $ plcburn-cli --port ttyUSB0\n"
      "One VL, VL-K or ZN500 on its own USB interface.\n"
      "  $ plcburn-cli --port USB\n"
      "A gang of four on four serial ports: the same image into each PLC at once,\n"
      "one reconnect prompt for all, a summary at the end.\n"
      "  $ plcburn-cli --port ttyS0 --port ttyS1 --port ttyS2 --port ttyS3\n"
      "A station on the four sockets of a USB hub's serial adapters and on the\n"
      "PLCs' own USB, with figures for Prometheus.\n"
      "  $ plcburn-cli --watch '/dev/serial/by-path/*-usb-0:1.*' USB \\\n"
      "      --metrics 127.0.0.1:9464\n"
      "What is on these two ports, without changing anything.\n"
      "  $ plcburn-cli --identify --port ttyS0 --port USB\n"
      "A mixed bench: each PLC gets the image in ./fw named for its model.\n"
      "  $ plcburn-cli --port ttyS0 --port ttyS1 --images fw\n"
      "\n";
  return text + EnvironmentAndFilesHelp();
}

}  // namespace plcburn
