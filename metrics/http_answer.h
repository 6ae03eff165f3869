#pragma once
// An HTTP/1.1 answer as bytes to send: the status line, the header fields the metrics server
// gives, and the body unless the request was HEAD. Every answer closes its connection.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plcburn {

struct HttpAnswerParts {
  int status = 200;
  std::string_view contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> fields;  // more header fields, e.g. Allow
};

// `withBody` false: what HEAD gets, the same fields (Content-Length too) without the body.
std::string HttpAnswer(const HttpAnswerParts& parts, bool withBody);

// "OK", "Not Found" and the others the server sends.
std::string_view HttpReason(int status);

}  // namespace plcburn
