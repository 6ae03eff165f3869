#pragma once
// One HTTP/1.x request as the metrics server reads it: the request line and the header fields,
// checked strictly enough that nothing malformed is answered as a scrape. The body is never
// read; only its declared length matters, to know where the request ends.

#include <cstddef>
#include <string>
#include <string_view>

namespace plcburn {

struct HttpRequest {
  int refusal = 0;  // 0, or the status that refuses the request (400, 413, 431, 505)
  std::string method;
  std::string path;               // the target's path, without its query
  std::size_t headSize = 0;       // the request line and the fields, with the empty line after
  std::size_t contentLength = 0;  // the body's declared length
};

// The size of the head in `got` (up to and with the empty line that ends it), or 0 while that
// line has not come. Lines may end with CRLF or a lone LF; empty lines before the request line
// belong to the head.
std::size_t HttpHeadSize(std::string_view got);

// The request whose head starts `got`: refused with 431 when the head is longer than
// `headBytes` or has not ended within it, 413 when its body would be longer than `bodyBytes`.
HttpRequest ParseHttpRequest(std::string_view got, std::size_t headBytes, std::size_t bodyBytes);

}  // namespace plcburn
