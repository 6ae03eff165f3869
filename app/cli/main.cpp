// plcburn-cli: burns the built-in image (or a given one) into one PLC from a terminal.

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/cli/cli_help.h"
#include "app/cli/cli_journal.h"
#include "app/cli/console_operator.h"
#include "app/cli/history_command.h"
#include "app/cli/identify_command.h"
#include "app/cli/image_choice.h"
#include "app/cli/station_command.h"
#include "app/cli/utf8_console.h"
#include "app/cli/verify_log_command.h"
#ifdef _WIN32
#include "app/cli/windows_service.h"
#endif
#include "app/common/cli_options.h"
#include "app/common/exit_status.h"
#include "app/common/image_file.h"
#include "app/common/image_trust.h"
#include "app/common/stop_signals.h"
#include "app/common/utf8_command_line.h"
#include "app/version_text.h"
#include "burn/burn_unit.h"
#include "burn/refused_burn.h"
#include "core/utf8_text.h"
#include "link/port_list.h"
#include "link/serial_link.h"
#include "link/system_opener.h"
#include "record/burn_log.h"
#include "record/host_name.h"
#include "record/log_then_send.h"
#ifdef PLCBURN_RECORDS_DB
#include "record/records_db_url.h"
#include "record/records_sender.h"
#endif
#include "record/sha256.h"
#include "res/builtin_image.h"

namespace {

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "plcburn-cli: %s\n", problem.c_str());
  return plcburn::kExitUsage;
}

bool StdinIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  using namespace plcburn;
  IgnoreBrokenPipes();
  UseUtf8Console();
  const std::vector<std::string> args = Utf8CommandLine(argc, argv);
#ifdef _WIN32
  // The station as a Windows service: each alone on the command line.
  if (args.size() == 1 && args[0] == kServiceArgument) return RunService();
  if (args.size() == 1 && args[0] == kInstallServiceArgument) return InstallService();
  if (args.size() == 1 && args[0] == kRemoveServiceArgument) return RemoveService();
#endif
  const ParsedCli parsed = ParseCli(args);
  if (!parsed.options) {
    std::fprintf(stderr, "plcburn-cli: %s\n%s", parsed.error.c_str(), kCliUsage);
    return kExitUsage;
  }
  const CliOptions& options = *parsed.options;
  if (options.help || options.version) {
    std::fputs((options.help ? CliHelpText() : VersionText()).c_str(), stdout);
    return kExitSuccess;
  }
  // A database address that libpq cannot read is refused before anything is done.
  if (!options.recordsDb.empty()) {
#ifdef PLCBURN_RECORDS_DB
    if (const std::string problem = RecordsDbUrlProblem(options.recordsDb); !problem.empty())
      return UsageError("--records-db: " + problem);
#else
    return UsageError("--records-db is not available on Windows: its build has no libpq");
#endif
  }
  if (options.history) return HistoryCommand(options);
  if (!options.verifyImage.empty()) return VerifyImageCommand(options);
  if (!options.verifyLog.empty()) return VerifyLogCommand(options.verifyLog);
  if (options.identify) {
    SystemLinkOpener opener;
    return RunIdentify(PortsToIdentify(options.ports), options.json, opener, stdout);
  }

  const ModelChoice choice = ChooseModel(options, ModelFromImageName(BuiltinImageName()));
  if (!choice.row) return UsageError(choice.error);
  const std::size_t row = *choice.row;
  const ModelRules& model = ModelAt(row);
  if (options.buildModel) {
    std::printf("%s\n", std::string(model.name).c_str());
    return kExitSuccess;
  }
  const std::vector<std::string> portList = PortList(model.IsUsb());
  if (options.listPorts) {
    for (const std::string& port : portList) std::printf("%s\n", port.c_str());
    return kExitSuccess;
  }

  // Everything below is refused before any port is opened.
  const LoadedPolicy policy = RunTrustPolicy(options);
  if (!policy.policy) return UsageError(policy.error);
  RecordFacts runFacts{HostName(), "", ""};
  runFacts.serial = options.serial;
  // Each image refused by its check leaves a record, then one line each.
  const auto refuseImages = [&options](const std::vector<BurnRecord>& records) {
    KeepInRunLog(options, records, "plcburn-cli");
    for (const BurnRecord& record : records)
      std::fprintf(stderr, "plcburn-cli: %s\n", record.result.text.c_str());
    return kExitUsage;
  };
  const bool imagesByModel = !options.images.empty();
  if (imagesByModel) {
    if (const std::string problem = ImagesDirProblem(options.images); !problem.empty())
      return UsageError(problem);
    // Every image of the folder is checked before any PLC is asked which one it needs.
    std::vector<BurnRecord> refused;
    for (const CheckedImage& image : CheckImagesIn(options.images, *policy.policy)) {
      if (!image.unreadable.empty()) return UsageError(image.unreadable);
      if (!image.admission.accepted)
        refused.push_back(
            ImageRefusalRecord(runFacts, "", image.path, image.bytes, image.admission));
    }
    if (!refused.empty()) return refuseImages(refused);
  }
  // A port is opened as what its name says, whatever the model: USB, or a serial port.
  std::vector<std::string> ports = options.ports;
  if (ports.empty() && !options.watchMode)
    ports.push_back(portList.empty() ? std::string() : portList.front());

  const bool builtIn = options.image.empty();
  std::vector<std::uint8_t> fileImage;
  if (!builtIn) {
    ImageFile file = ReadImageFile(options.image, model.maxSize);
    if (!file.bytes) return UsageError(file.error);
    fileImage = std::move(*file.bytes);
  }
  const std::span<const std::uint8_t> imageBytes =
      builtIn ? BuiltinImage() : std::span<const std::uint8_t>(fileImage);
  const std::string imagePath = builtIn ? std::string(BuiltinImageName()) : options.image;
  Admission admitted;
  if (!imagesByModel) {
    admitted = AdmitImage({imagePath, imageBytes, row, builtIn}, *policy.policy);
    // A burn refuses an image of the wrong size itself, by the same rule and before any port is
    // opened, with the model's own message and record; a station has no burn yet to tell it.
    if (!admitted.accepted && (admitted.reason != ImageRefusal::Size || options.watchMode)) {
      std::vector<BurnRecord> refused;
      for (const std::string& port : options.watchMode ? std::vector<std::string>{""} : ports)
        refused.push_back(ImageRefusalRecord(runFacts, port, imagePath, imageBytes, admitted));
      return refuseImages(refused);
    }
  }
  const auto promptRefusal = [&options](const ModelRules& m) -> std::optional<std::string> {
    if (m.reconnectPrompt.empty() || options.yes || options.watchMode || StdinIsTerminal())
      return std::nullopt;
    return "the " + std::string(m.name) + " asks the operator to act during the burn, and " +
           "standard input is not a terminal: give --yes to go on without asking";
  };
  if (!imagesByModel) {
    if (const auto refusal = promptRefusal(model)) return UsageError(*refusal);
  }

  // Every burn's record goes to one log; a log that cannot be written only warns.
  const std::optional<std::filesystem::path> logPath = RunBurnLogPath(options);
  RecordFacts facts{runFacts.host,
                    builtIn ? std::string(BuiltinImageName())
                            : Utf8FromPath(PathFromUtf8(options.image).filename()),
                    builtIn ? std::string(BuiltinImageSha256()) : Sha256Hex(imageBytes),
                    admitted.keyId, admitted.trustedComment};
  facts.serial = options.serial;
  if (options.watchMode)
    return RunStation(options, row, imageBytes, facts, logPath, *policy.policy);
  std::optional<BurnLog> log;
  if (logPath) {
    log.emplace(*logPath, [](const std::string& warning) {
      std::fprintf(stderr, "plcburn-cli: %s\n", warning.c_str());
    });
  }
#ifdef PLCBURN_RECORDS_DB
  std::unique_ptr<RecordsSender> sender;  // started with the burns, once the signals are taken
#endif
  std::optional<LogThenSend> logThenSend;
  if (log) {
    logThenSend.emplace(*log, [&] {
#ifdef PLCBURN_RECORDS_DB
      if (sender) sender->RecordWritten();
#endif
    });
  }
  JsonEvents events(stdout);

  // One burn per port, each with its own state and record, all on the same image.
  struct PortBurn {
    std::string port;
    CliJournal journal;
    std::unique_ptr<ConsoleOperator> console;
    std::unique_ptr<BurnUnit> burn;  // made once its console is
    PortBurn(std::string p, BurnJournal* log, JsonEvents* events)
        : port(std::move(p)), journal(Label(port), log, events) {}
    static std::string Label(const std::string& port) { return port.empty() ? "(no port)" : port; }
  };
  std::vector<std::unique_ptr<PortBurn>> burns;
  ConsoleBoard board(options.yes);
  if (options.json) board.SendEventsTo(events);
  SystemLinkOpener opener;
  std::vector<std::unique_ptr<ImageChoice>> chosen;  // the images the burns read
  bool anyRefused = false;
  for (std::string port : ports) {
    std::size_t portRow = row;
    std::span<const std::uint8_t> portImage = imageBytes;
    RecordFacts portFacts = facts;
    if (imagesByModel) {
      // Identified first, on the port the burn then opens; a refusal leaves the PLC untouched.
      const std::uint64_t identifiedFrom = WallClockMs();
      chosen.push_back(std::make_unique<ImageChoice>(
          ChooseImageForPlc(opener, port, options.images, *policy.policy)));
      ImageChoice& c = *chosen.back();
      if (c.row) c.refusal = promptRefusal(ModelAt(*c.row)).value_or("");
      if (!c.refusal.empty()) {
        anyRefused = true;
        RecordFacts refusedFacts{facts.host, "", ""};
        refusedFacts.serial = facts.serial;
        ReportRefusal(port, c, refusedFacts, identifiedFrom, log ? &*logThenSend : nullptr,
                      options.json ? &events : nullptr);
        continue;
      }
      portRow = *c.row;
      portImage = c.bytes;
      portFacts = {facts.host, std::filesystem::path(c.path).filename().string(),
                   Sha256Hex(c.bytes), c.admission.keyId, c.admission.trustedComment};
      portFacts.serial = facts.serial;
    }
    const ModelRules& portModel = ModelAt(portRow);
    burns.push_back(std::make_unique<PortBurn>(port, log ? &*logThenSend : nullptr,
                                               options.json ? &events : nullptr));
    PortBurn& b = *burns.back();
    b.console = std::make_unique<ConsoleOperator>(board);
    b.burn = std::make_unique<BurnUnit>(portRow, *b.console, b.journal, portFacts);
    b.burn->Chosen().SetComPort(port);
    b.burn->UseImage(portImage);
    b.console->ShowsRow(board.Add(
        PortBurn::Label(port), b.burn->State(), [&b] { b.burn->Stop(); },
        [&b] { b.burn->ShowElapsed(); }));
    std::fprintf(stderr, "plcburn-cli: %s on %s, image of %u bytes\n",
                 std::string(portModel.name).c_str(), port.empty() ? "(no port)" : port.c_str(),
                 b.burn->ImageLength());
  }

  {
    // Before any thread starts: every thread then leaves the signals to the watcher.
    StopSignals stopSignals([&board](int signal) { board.Stop(signal); });
    if (!stopSignals.Error().empty()) {
      std::fprintf(stderr, "plcburn-cli: cannot watch for Ctrl+C: %s\n",
                   stopSignals.Error().c_str());
      return kExitFailed;
    }
#ifdef PLCBURN_RECORDS_DB
    if (log && !options.recordsDb.empty()) {
      sender = std::make_unique<RecordsSender>(
          log->Path(), options.recordsDb,
          [](const std::string& line) { std::fprintf(stderr, "plcburn-cli: %s\n", line.c_str()); });
    }
#endif
    board.Start();
    for (std::size_t i = 0; i < burns.size(); ++i) {
      PortBurn& b = *burns[i];
      b.burn->Start(opener, [&board, &b, i](const BurnOutcome&) {
        board.BurnEnded(i);
        b.journal.SendResult();
      });
    }
    for (const auto& b : burns) b->burn->Wait();
    board.Finish();
  }
#ifdef PLCBURN_RECORDS_DB
  // The burns are over: their records get a bounded while to reach the database, and wait in
  // the log for the next run with --records-db if they cannot.
  if (sender && !sender->WaitAllSent(std::chrono::seconds(10))) {
    const std::uint64_t waiting = sender->Unsent();
    std::fprintf(stderr,
                 "plcburn-cli: %llu burn record%s wait%s for the records database: sent by the "
                 "next run with --records-db\n",
                 static_cast<unsigned long long>(waiting), waiting == 1 ? "" : "s",
                 waiting == 1 ? "s" : "");
  }
  sender.reset();
#endif

  bool allSucceeded = !anyRefused;
  for (const auto& b : burns) allSucceeded = allSucceeded && !b->console->EndedInError();
  // With --json every burn's result event has told it all.
  if (burns.size() > 1 && !options.json) {
    std::printf("Summary: %s\n", allSucceeded ? "every PLC updated" : "NOT every PLC updated");
    for (const auto& b : burns)
      std::printf("  %s: %s (%s)\n", b->port.c_str(), b->console->EndedInError() ? "FAILED" : "OK",
                  b->console->LastMessage().c_str());
  }
  if (allSucceeded) return kExitSuccess;
  return board.StopSignal() != 0 ? ExitForSignal(board.StopSignal()) : kExitFailed;
}
