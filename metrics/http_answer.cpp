#include "metrics/http_answer.h"

namespace plcburn {

std::string_view HttpReason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
  }
}

std::string HttpAnswer(const HttpAnswerParts& parts, bool withBody) {
  std::string out = "HTTP/1.1 " + std::to_string(parts.status) + " ";
  out += HttpReason(parts.status);
  out += "\r\nContent-Type: ";
  out += parts.contentType;
  out += "\r\nContent-Length: " + std::to_string(parts.body.size());
  for (const auto& [name, value] : parts.fields) out += "\r\n" + name + ": " + value;
  out += "\r\nConnection: close\r\n\r\n";
  if (withBody) out += parts.body;
  return out;
}

}  // namespace plcburn
