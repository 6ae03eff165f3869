#pragma once
// plcburn-cli --identify: what is on each named port, asked read-only, one line (or one JSON
// object) per port.

#include <cstdio>
#include <string>
#include <vector>

#include "link/link.h"
#include "proto/identify_plc.h"

namespace plcburn {

// The ports to probe: the ones named, and with "all" every listed port too (the USB interface,
// the serial ports). Nothing is probed that the operator did not name: a serial line may be a bus
// of running machines.
std::vector<std::string> PortsToIdentify(const std::vector<std::string>& named);

std::string IdentityLine(const std::string& port, const PlcIdentity& plc);
std::string IdentityJson(const std::string& port, const PlcIdentity& plc);

// Identifies the PLC on every port at once and prints the results in the order of the ports.
// Returns the exit status: 0 when every port answered, 1 otherwise.
int RunIdentify(const std::vector<std::string>& ports, bool json, LinkOpener& opener,
                std::FILE* out);

}  // namespace plcburn
