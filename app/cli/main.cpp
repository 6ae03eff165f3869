// plcburn-cli: burns the built-in image (or a given one) into one PLC from a terminal.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/console_operator.h"
#include "burn/memory_image.h"
#include "burn/start_burn.h"
#include "link/port_list.h"
#include "link/system_opener.h"
#include "res/builtin_image.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitBurnFailed = 1;
constexpr int kExitUsage = 2;

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& into) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  into.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace plcburn;
  const ParsedCli parsed = ParseCli(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(stderr, "plcburn-cli: %s\n%s", parsed.error.c_str(), kCliUsage);
    return kExitUsage;
  }
  const CliOptions& options = *parsed.options;
  if (options.help) {
    std::fputs(kCliUsage, stdout);
    return kExitSuccess;
  }

  const std::size_t row =
      options.model.empty() ? ModelFromImageName(BuiltinImageName()) : *FindModel(options.model);
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
  if (options.ports.size() > 1) {
    std::fprintf(stderr, "plcburn-cli: one --port at a time\n");
    return kExitUsage;
  }

  std::vector<std::uint8_t> fileImage;
  if (!options.image.empty() && !ReadFile(options.image, fileImage)) {
    std::fprintf(stderr, "plcburn-cli: cannot read image %s\n", options.image.c_str());
    return kExitUsage;
  }
  MemoryImage image = options.image.empty() ? MemoryImage(BuiltinImage()) : MemoryImage(std::move(fileImage));

  Selection selection(row);
  selection.SetComPort(!options.ports.empty() ? options.ports.front()
                       : portList.empty()     ? std::string()
                                              : portList.front());
  std::fprintf(stderr, "plcburn-cli: %s on %s, image of %u bytes\n", std::string(model.name).c_str(),
               selection.ComPort().empty() ? "(no port)" : selection.ComPort().c_str(),
               image.Length());

  BurnState state;
  ConsoleOperator console(state, std::string(model.reconnectPrompt), options.yes);
  SystemLinkOpener opener;
  BurnSession session{state, selection, console, opener, image};
  console.Start();
  StartBurn(session);
  console.Finish();
  return console.EndedInError() ? kExitBurnFailed : kExitSuccess;
}
