#include "app/cli/identify_command.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/catalogue.h"
#include "link/port_list.h"
#include "record/burn_record_json.h"

namespace plcburn {

namespace {

std::string Hex(unsigned value, int digits) {
  char text[8];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return std::string("0x") + text;
}

template <typename T>
nlohmann::ordered_json NumberOrNull(const std::optional<T>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json();
}

}  // namespace

std::vector<std::string> PortsToIdentify(const std::vector<std::string>& named) {
  if (std::find(named.begin(), named.end(), "all") == named.end()) return named;
  std::vector<std::string> ports;
  for (const std::vector<std::string>& list : {PortList(true), PortList(false), named}) {
    for (const std::string& port : list)
      if (port != "all" && std::find(ports.begin(), ports.end(), port) == ports.end())
        ports.push_back(port);
  }
  return ports;
}

std::string IdentityLine(const std::string& port, const PlcIdentity& plc) {
  std::vector<std::string> parts;
  if (plc.firmware != Firmware::None)
    parts.push_back(FirmwareName(plc.firmware) + (plc.runMode ? " in RUN mode" : ""));
  if (plc.identifier) {
    parts.push_back("identifier " + Hex(*plc.identifier, 4));
    parts.push_back((plc.candidates.size() > 1 ? "models " : "model ") +
                    CandidateNames(plc.candidates));
  }
  if (plc.d1386) parts.push_back("D1386 " + Hex(*plc.d1386, 4));
  if (plc.d1148) parts.push_back("D1148 " + Hex(*plc.d1148, 4));
  if (plc.updateVersion) parts.push_back("update version " + Hex(*plc.updateVersion, 2));
  if (plc.bootVersion) {
    parts.push_back("boot loader version " +
                    HexBytes({static_cast<std::uint8_t>(*plc.bootVersion >> 8),
                              static_cast<std::uint8_t>(*plc.bootVersion)}));
  }
  if (!plc.problem.empty()) parts.push_back(plc.problem);
  if (!plc.received.empty()) parts.push_back("received " + HexBytes(plc.received));
  std::string line = port + ":";
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? " " : ", ") + parts[i];
  return line + "\n";
}

std::string IdentityJson(const std::string& port, const PlcIdentity& plc) {
  nlohmann::ordered_json models = nlohmann::ordered_json::array();
  for (std::size_t row : plc.candidates) models.push_back(ModelAt(row).name);
  const nlohmann::ordered_json object{
      {"event", "identify"},
      {"port", port},
      {"answered", plc.Answered()},
      {"firmware", plc.firmware == Firmware::None
                       ? nlohmann::ordered_json()
                       : nlohmann::ordered_json(FirmwareName(plc.firmware))},
      {"run_mode", plc.runMode},
      {"identifier", NumberOrNull(plc.identifier)},
      {"models", models},
      {"d1386", NumberOrNull(plc.d1386)},
      {"d1148", NumberOrNull(plc.d1148)},
      {"update_version", NumberOrNull(plc.updateVersion)},
      {"boot_version", NumberOrNull(plc.bootVersion)},
      {"problem",
       plc.problem.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(plc.problem)},
      {"received", plc.received.empty() ? nlohmann::ordered_json()
                                        : nlohmann::ordered_json(HexBytes(plc.received))},
  };
  return JsonLine(object);
}

int RunIdentify(const std::vector<std::string>& ports, bool json, LinkOpener& opener,
                std::FILE* out) {
  std::vector<PlcIdentity> found(ports.size());
  {
    // Each port on its own thread: a silent one costs its time-outs, not everyone's.
    std::vector<std::thread> probes;
    for (std::size_t i = 0; i < ports.size(); ++i)
      probes.emplace_back([&, i] { found[i] = IdentifyPort(opener, ports[i]); });
    for (std::thread& probe : probes) probe.join();
  }
  bool everyAnswered = true;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    everyAnswered = everyAnswered && found[i].Answered();
    const std::string text =
        json ? IdentityJson(ports[i], found[i]) : IdentityLine(ports[i], found[i]);
    std::fputs(text.c_str(), out);
  }
  std::fflush(out);
  return everyAnswered ? 0 : 1;
}

}  // namespace plcburn
