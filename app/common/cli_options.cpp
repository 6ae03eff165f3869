#include "app/common/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "core/catalogue.h"
#include "core/serial_label.h"
#include "core/utf8_text.h"
#include "record/utc_time_text.h"

namespace plcburn {

ParsedCli ParseCli(const std::vector<std::string>& args) {
  CliOptions o;
  CLI::App app;
  app.set_help_flag();  // --help is an option like the others: main prints our own text
  std::string problem;  // the first value refused, in our words
  std::string replugTimeout;
  std::string unplugDebounce;
  std::string scanTimeout;
  std::string since;
  std::vector<std::string> logs;
  struct Valued {
    const char* name;
    const char* what;
    CLI::Option* option;
  };
  std::vector<Valued> valued;
  // An option where the value should be means the value was left out: "--port --yes" must not
  // open a port named "--yes" and burn without the operator's confirmation. CLI11 would take it
  // as the value, so every value is checked here.
  auto value = [&](const char* name, auto& into, const char* what) {
    CLI::Option* option = app.add_option(name, into);
    option->check(CLI::Validator(
        [&problem, name, what](std::string& v) -> std::string {
          std::string refusal;
          if (v.empty()) refusal = std::string(name) + " needs " + what;
          if (v.starts_with("-")) refusal = std::string(name) + " needs " + what + ", not " + v;
          if (problem.empty()) problem = refusal;
          return refusal;
        },
        what));
    valued.push_back({name, what, option});
    return option;
  };
  value("--port", o.ports, "a port")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  value("--trusted-key", o.trustedKeys, "a key file")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  value("--watch", o.watch, "at least one slot")->expected(1, -1);
  // Several only with --history, checked below.
  value("--log", logs, "a file")->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  value("--history", o.historySerial, "a serial")->expected(0, 1);
  for (auto [name, into, what] : {std::tuple{"--model", &o.model, "a model name"},
                                  {"--image", &o.image, "a file"},
                                  {"--images", &o.images, "a folder"},
                                  {"--verify-image", &o.verifyImage, "a file"},
                                  {"--verify-log", &o.verifyLog, "a file"},
                                  {"--metrics", &o.metrics, "ADDRESS:PORT"},
                                  {"--replug-timeout", &replugTimeout, "a number of seconds"},
                                  {"--unplug-debounce", &unplugDebounce, "a number of seconds"},
                                  {"--scan-timeout", &scanTimeout, "a number of seconds"},
                                  {"--serial", &o.serial, "the PLC's serial"},
                                  {"--scanner", &o.scanner, "an input device"},
                                  {"--since", &since, "a date"},
                                  {"--records-db", &o.recordsDb, "a database URL"}})
    value(name, *into, what)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag("-y,--yes", o.yes);
  app.add_flag("--json", o.json);
  app.add_flag("--no-log", o.noLog);
  app.add_flag("--identify", o.identify);
  app.add_flag("--now", o.now);
  app.add_flag("--require-serial", o.requireSerial);
  app.add_flag("--require-model", o.requireModel);
  app.add_flag("--list-ports", o.listPorts);
  app.add_flag("--build-model", o.buildModel);
  app.add_flag("-h,--help", o.help);
  app.add_flag("--version", o.version);

  try {
    app.parse(std::vector<std::string>(args.rbegin(), args.rend()));  // CLI11 takes them reversed
  } catch (const CLI::ExtrasError&) {
    return {std::nullopt, "unknown argument: " + app.remaining().front()};
  } catch (const CLI::ParseError& e) {
    if (!problem.empty()) return {std::nullopt, problem};
    // A value left out at the end.
    for (const Valued& v : valued)
      if (!args.empty() && args.back() == v.name)
        return {std::nullopt, std::string(v.name) + " needs " + v.what};
    return {std::nullopt, e.what()};
  }
  o.history = app.count("--history") > 0;
  // Only --port and --trusted-key may come more than once, and --log with --history; --watch
  // takes all its slots at once.
  for (const Valued& v : valued) {
    const std::string_view name = v.name;
    const bool twice =
        name == "--watch" ? std::count(args.begin(), args.end(), name) > 1 : v.option->count() > 1;
    if (twice && name != "--port" && name != "--trusted-key" && !(name == "--log" && o.history))
      return {std::nullopt, std::string(name) + " given twice"};
  }
  o.watchMode = app.count("--watch") > 0;
  if (o.history) {
    // A question about past burns: nothing of a burn goes with it.
    for (const std::string& arg : args) {
      const std::string name = arg.substr(0, arg.find('='));
      if (!arg.starts_with("-") || name == "--history" || name == "--since" || name == "--log" ||
          name == "--json" || name == "--records-db")
        continue;
      return {
          std::nullopt,
          "--history takes only a serial, --since, --log, --records-db and --json, not " + name};
    }
    if (!o.historySerial.empty()) {
      if (const std::string unusable = SerialProblem(o.historySerial); !unusable.empty())
        return {std::nullopt, "--history " + o.historySerial + ": " + unusable};
    }
    if (!since.empty()) {
      o.sinceMs = ParseUtcTime(since);
      if (!o.sinceMs)
        return {std::nullopt,
                "--since needs a date, as 2026-03-01 or 2026-03-01T08:15 (UTC), not " + since};
    }
    if (!logs.empty() && !o.recordsDb.empty())
      return {std::nullopt,
              "--history reads the burn logs, or with --records-db the database: "
              "not both"};
    o.historyLogs = logs;
    return {o, ""};
  }
  if (!since.empty()) return {std::nullopt, "--since belongs to --history"};
  if (!logs.empty()) o.log = logs.front();
  if (!replugTimeout.empty()) {
    char* end = nullptr;
    const long n = std::strtol(replugTimeout.c_str(), &end, 10);
    if (*end != '\0' || n < 1 || n > 3600)
      return {std::nullopt,
              "--replug-timeout needs a number of seconds from 1 to 3600, not " + replugTimeout};
    o.replugTimeoutS = static_cast<int>(n);
  }
  if (!unplugDebounce.empty()) {
    char* end = nullptr;
    const double s = std::strtod(unplugDebounce.c_str(), &end);
    if (*end != '\0' || !(s >= 0 && s <= 60))
      return {std::nullopt,
              "--unplug-debounce needs a number of seconds from 0 to 60, not " + unplugDebounce};
    o.unplugDebounceMs = static_cast<int>(s * 1000 + 0.5);
  }
  if (!scanTimeout.empty()) {
    char* end = nullptr;
    const long n = std::strtol(scanTimeout.c_str(), &end, 10);
    if (*end != '\0' || n < 1 || n > 3600)
      return {std::nullopt,
              "--scan-timeout needs a number of seconds from 1 to 3600, not " + scanTimeout};
    o.scanTimeoutS = static_cast<int>(n);
  }
  if (!o.serial.empty()) {
    if (const std::string unusable = SerialProblem(o.serial); !unusable.empty())
      return {std::nullopt, "--serial " + o.serial + ": " + unusable};
  }
  if (!o.images.empty() && (!o.image.empty() || !o.model.empty()))
    return {std::nullopt, "--images excludes --image and --model"};
  if (o.identify && (!o.image.empty() || !o.images.empty() || !o.model.empty()))
    return {std::nullopt, "--identify burns nothing: it takes no --image, --images or --model"};
  // Only ports the operator names are talked to: a serial line may be a bus of running machines.
  if (o.identify && o.ports.empty())
    return {std::nullopt, "--identify needs --port PORT, or --port all for every listed port"};
  if (!o.images.empty() && o.ports.empty() && !o.watchMode)
    return {std::nullopt, "--images needs --port PORT or --watch SLOT"};
  if (!o.model.empty() && o.image.empty()) return {std::nullopt, "--model needs --image"};
  if (!o.log.empty() && o.noLog) return {std::nullopt, "--log and --no-log exclude each other"};
  // The records go to the database from the burn log, which stays the first place they are kept.
  if (!o.recordsDb.empty() && o.noLog)
    return {std::nullopt, "--records-db sends the burn log's records: it excludes --no-log"};
  if (!o.recordsDb.empty() &&
      (o.identify || !o.verifyImage.empty() || !o.verifyLog.empty() || o.listPorts || o.buildModel))
    return {std::nullopt, "--records-db belongs to burns and to --history"};
  if (o.watchMode && !o.ports.empty())
    return {std::nullopt, "--watch and --port exclude each other: the slots name the ports"};
  if (!o.watchMode && (o.now || !replugTimeout.empty() || !unplugDebounce.empty()))
    return {std::nullopt, "--now, --replug-timeout and --unplug-debounce belong to --watch"};
  if (!o.watchMode && !o.metrics.empty()) return {std::nullopt, "--metrics belongs to --watch"};
  if (!o.watchMode && (o.requireSerial || !scanTimeout.empty() || !o.scanner.empty()))
    return {std::nullopt, "--require-serial, --scan-timeout and --scanner belong to --watch"};
  // A serial names one PLC: at a station each plug gets its own from a scan.
  if (!o.serial.empty() && (o.watchMode || o.ports.size() > 1 || o.identify))
    return {std::nullopt, "--serial names one PLC: give it for a single burn only"};
  if (!o.model.empty() && !FindModel(o.model)) return {std::nullopt, "unknown model: " + o.model};
  return {o, ""};
}

ModelChoice ChooseModel(const CliOptions& options, std::size_t buildRow) {
  if (options.image.empty()) return {buildRow, ""};
  const std::optional<std::size_t> named = ModelNamedByImage(options.image);
  if (options.model.empty()) {
    if (named) return {named, ""};
    return {std::nullopt, "the name of " + options.image +
                              " does not begin with a model's name (MODEL_...): give --model"};
  }
  const std::size_t row = *FindModel(options.model);
  // The build takes its model from the image's name; an image named for another model is
  // firmware for another PLC.
  if (named && *named != row) {
    return {std::nullopt, options.image + " is named for the " + std::string(ModelAt(*named).name) +
                              ", not the " + options.model};
  }
  return {row, ""};
}

}  // namespace plcburn
