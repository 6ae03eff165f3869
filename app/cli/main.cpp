// plcburn-cli: burns the built-in image (or a given one) into one PLC from a terminal.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/cli_help.h"
#include "app/cli/cli_options.h"
#include "app/cli/console_operator.h"
#include "app/version_text.h"
#include "burn/start_burn.h"
#include "core/memory_image.h"
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
  if (options.help || options.version) {
    std::fputs((options.help ? CliHelpText() : VersionText()).c_str(), stdout);
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
  std::vector<std::uint8_t> fileImage;
  if (!options.image.empty() && !ReadFile(options.image, fileImage)) {
    std::fprintf(stderr, "plcburn-cli: cannot read image %s\n", options.image.c_str());
    return kExitUsage;
  }
  const std::span<const std::uint8_t> imageBytes =
      options.image.empty() ? BuiltinImage() : std::span<const std::uint8_t>(fileImage);

  std::vector<std::string> ports = options.ports;
  if (ports.empty()) ports.push_back(portList.empty() ? std::string() : portList.front());

  // One burn per port, each with its own state, all on the same image.
  struct PortBurn {
    std::string port;
    BurnState state;
    Selection selection;
    MemoryImage image;
    std::unique_ptr<ConsoleOperator> console;
    PortBurn(std::string p, std::size_t row, std::span<const std::uint8_t> bytes)
        : port(std::move(p)), selection(row), image(bytes) {
      selection.SetComPort(port);
    }
  };
  std::vector<std::unique_ptr<PortBurn>> burns;
  ConsoleBoard board(options.yes);
  for (const std::string& port : ports) {
    burns.push_back(std::make_unique<PortBurn>(port, row, imageBytes));
    PortBurn& b = *burns.back();
    const std::size_t index = board.Add(port.empty() ? "(no port)" : port, b.state);
    b.console = std::make_unique<ConsoleOperator>(board, index, std::string(model.reconnectPrompt));
    std::fprintf(stderr, "plcburn-cli: %s on %s, image of %u bytes\n",
                 std::string(model.name).c_str(), port.empty() ? "(no port)" : port.c_str(),
                 b.image.Length());
  }

  SystemLinkOpener opener;
  board.Start();
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < burns.size(); ++i) {
    workers.emplace_back([&, i] {
      PortBurn& b = *burns[i];
      BurnSession session{b.state, b.selection, *b.console, opener, b.image};
      StartBurn(session);
      board.BurnEnded(i);
    });
  }
  for (std::thread& w : workers) w.join();
  board.Finish();

  bool allSucceeded = true;
  for (const auto& b : burns) allSucceeded = allSucceeded && !b->console->EndedInError();
  if (burns.size() > 1) {
    std::printf("Summary: %s\n", allSucceeded ? "every PLC updated" : "NOT every PLC updated");
    for (const auto& b : burns)
      std::printf("  %s: %s (%s)\n", b->port.c_str(), b->console->EndedInError() ? "FAILED" : "OK",
                  b->console->LastMessage().c_str());
  }
  return allSucceeded ? kExitSuccess : kExitBurnFailed;
}
