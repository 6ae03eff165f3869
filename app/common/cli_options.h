#pragma once
// The command line of plcburn-cli.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plcburn {

struct CliOptions {
  std::vector<std::string> ports;        // empty: the first entry of the port list
  std::string model;                     // replaces the build's model for this run
  std::string image;                     // replaces the built-in image for this run
  std::string images;                    // a folder: each PLC gets the image named for its model
  bool identify = false;                 // only tell what is on each port, read-only
  std::vector<std::string> trustedKeys;  // minisign public keys trusted beside the installed ones
  bool requireModel = false;             // every image's signature must name its model
  std::string verifyImage;               // check this file against the trust policy, burn nothing
  std::string verifyLog;                 // check this burn log's chain, burn nothing
  bool yes = false;                      // answer reconnect prompts without waiting for Enter
  bool json = false;                     // standard output is a stream of JSON events
  std::string log;                       // the burn log instead of the default one
  std::vector<std::string> historyLogs;  // --history: the burn logs to read, several allowed
  bool noLog = false;                    // no burn log at all
  bool listPorts = false;
  std::vector<std::string> watch;  // station mode: the slots to watch
  bool watchMode = false;
  int replugTimeoutS = 60;  // station mode: how long a re-plug may take
  // station mode: a device gone for less than this that comes back to its place is the same one
  int unplugDebounceMs = 2000;
  bool now = false;            // station mode: burn what is plugged in at the start too
  std::string metrics;         // station mode: serve the station's figures at ADDRESS:PORT
  std::string serial;          // one burn: the PLC's serial, as its label says
  bool requireSerial = false;  // station mode: burn only plugs with a scanned serial
  int scanTimeoutS = 30;       // station mode: how long a scan waits for its plug
  std::string scanner;         // station mode: the barcode scanner's input device
  std::string recordsDb;       // the plant's PostgreSQL, as a connection string or URL
  bool history = false;        // print the burns of one PLC, or of all, newest first
  std::string historySerial;   // --history: the PLC's serial; empty: every PLC
  std::optional<std::uint64_t> sinceMs;  // --history: burns that started then or later
  bool buildModel = false;               // print the model this build serves
  bool help = false;
  bool version = false;
};

// The options, or the reason they are not usable.
struct ParsedCli {
  std::optional<CliOptions> options;
  std::string error;
};

ParsedCli ParseCli(const std::vector<std::string>& args);

// The model a run burns: --model, else the model the image's name names, else the build's.
struct ModelChoice {
  std::optional<std::size_t> row;
  std::string error;
};

ModelChoice ChooseModel(const CliOptions& options, std::size_t buildRow);

inline constexpr const char* kCliUsage =
    "usage: plcburn-cli [--port PORT]... [--model NAME] [--image FILE] [--serial TEXT] [--yes]\n"
    "                   [--json]\n"
    "                   [--log FILE | --no-log] [--trusted-key FILE]... [--require-model]\n"
    "                   [--list-ports]\n"
    "       plcburn-cli --port PORT... --images DIR [--yes] [--json]\n"
    "       plcburn-cli --watch SLOT... [--model NAME] [--image FILE | --images DIR]\n"
    "                   [--replug-timeout S] [--unplug-debounce S] [--now]\n"
    "                   [--metrics ADDRESS:PORT] [--json] [--log FILE | --no-log]\n"
    "                   [--require-serial] [--scan-timeout S] [--scanner DEVICE]\n"
    "                   [--records-db URL]\n"
    "       plcburn-cli --identify --port PORT|all... [--json]\n"
    "       plcburn-cli --verify-image FILE [--trusted-key FILE]... [--require-model]\n"
    "       plcburn-cli --verify-log FILE\n"
    "       plcburn-cli --history [SERIAL] [--since DATE] [--log FILE... | --records-db URL]\n"
    "                   [--json]\n"
    "       plcburn-cli --help for more\n";

}  // namespace plcburn
