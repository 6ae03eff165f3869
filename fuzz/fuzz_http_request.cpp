// The metrics server's request parser on arbitrary bytes, as any client on the network may send
// them: it reads only the bytes it is given, and what it accepts is a request it can route.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "metrics/http_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly `size` bytes, so a read past them is a finding.
  const std::string got(reinterpret_cast<const char*>(data), size);
  const std::size_t head = plcburn::HttpHeadSize(got);
  if (head > got.size()) std::abort();
  const plcburn::HttpRequest r = plcburn::ParseHttpRequest(got, 8192, 1024);
  if (r.refusal != 0) return 0;
  if (r.headSize != head || head == 0 || head > 8192 || r.contentLength > 1024) std::abort();
  if (r.method.empty() || r.method.find_first_of(" \r\n") != std::string::npos) std::abort();
  if (r.path != "*" && (r.path.empty() || r.path.front() != '/')) std::abort();
  if (r.path.find_first_of("?# \r\n") != std::string::npos) std::abort();
  return 0;
}
