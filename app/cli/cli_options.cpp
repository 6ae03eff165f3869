#include "app/cli/cli_options.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "core/catalogue.h"
#include "core/utf8_text.h"

namespace plcburn {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

ParsedCli ParseCli(const std::vector<std::string>& args) {
  CliOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // An option where the value should be means the value was left out: "--port --yes" must
    // not open a port named "--yes" and burn without the operator's confirmation.
    auto value = [&](std::string& into, const char* what) -> std::string {
      if (i + 1 >= args.size() || args[i + 1].empty()) return a + " needs " + what;
      if (args[i + 1].starts_with("-")) return a + " needs " + what + ", not " + args[i + 1];
      into = args[++i];
      return {};
    };
    std::string problem;
    if (a == "--port") {
      std::string port;
      problem = value(port, "a port");
      o.ports.push_back(port);
    } else if (a == "--model" || a == "--image" || a == "--log") {
      std::string& into = a == "--model" ? o.model : a == "--image" ? o.image : o.log;
      if (!into.empty()) return {std::nullopt, a + " given twice"};
      problem = value(into, a == "--model" ? "a model name" : "a file");
    } else if (a == "--yes" || a == "-y") {
      o.yes = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--no-log") {
      o.noLog = true;
    } else if (a == "--list-ports") {
      o.listPorts = true;
    } else if (a == "--build-model") {
      o.buildModel = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else {
      problem = "unknown argument: " + a;
    }
    if (!problem.empty()) return {std::nullopt, problem};
  }
  if (!o.model.empty() && o.image.empty()) return {std::nullopt, "--model needs --image"};
  if (!o.log.empty() && o.noLog) return {std::nullopt, "--log and --no-log exclude each other"};
  if (!o.model.empty() && !FindModel(o.model)) return {std::nullopt, "unknown model: " + o.model};
  return {o, ""};
}

std::optional<std::size_t> ModelNamedByImage(std::string_view path) {
  const std::string name = Utf8FromPath(PathFromUtf8(path).filename());
  const std::string_view prefix = std::string_view(name).substr(0, name.find('_'));
  for (std::size_t row = 0; row < kModelCount; ++row)
    if (EqualsIgnoringCase(ModelAt(row).name, prefix)) return row;
  return std::nullopt;
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
