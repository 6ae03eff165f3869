#pragma once
// The name of the machine a burn runs on, for its record.

#include <string>

namespace plcburn {

// Empty when the system does not tell.
std::string HostName();

}  // namespace plcburn
