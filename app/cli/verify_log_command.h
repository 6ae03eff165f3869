#pragma once
// --verify-log: a burn log checked against its chain, for an auditor.

#include <string>

namespace plcburn {

// What the chain does not cover on standard output, then either how many records were checked
// (0) or the first sign of tampering, or that the file is no burn log, on standard error (1). A
// file that cannot be read is a usage error (2): nothing was checked.
int VerifyLogCommand(const std::string& path);

}  // namespace plcburn
