#include "app/cli/cli_options.h"

#include "core/catalogue.h"

namespace plcburn {

ParsedCli ParseCli(const std::vector<std::string>& args) {
  CliOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return false;
      into = args[++i];
      return true;
    };
    if (a == "--port") {
      std::string port;
      if (!value(port)) return {std::nullopt, "--port needs a port"};
      o.ports.push_back(port);
    } else if (a == "--model") {
      if (!value(o.model)) return {std::nullopt, "--model needs a model name"};
    } else if (a == "--image") {
      if (!value(o.image)) return {std::nullopt, "--image needs a file"};
    } else if (a == "--yes" || a == "-y") {
      o.yes = true;
    } else if (a == "--list-ports") {
      o.listPorts = true;
    } else if (a == "--build-model") {
      o.buildModel = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else {
      return {std::nullopt, "unknown argument: " + a};
    }
  }
  if (o.model.empty() != o.image.empty()) return {std::nullopt, "--model and --image go together"};
  if (!o.model.empty() && !FindModel(o.model)) return {std::nullopt, "unknown model: " + o.model};
  return {o, ""};
}

}  // namespace plcburn
