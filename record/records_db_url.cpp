#include "record/records_db_url.h"

#include <libpq-fe.h>

#include "record/records_db_text.h"

namespace plcburn {

std::string RecordsDbUrlProblem(const std::string& url) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
  if (options != nullptr) {
    PQconninfoFree(options);
    return {};
  }
  std::string why = error != nullptr ? OneLine(error) : "libpq has no memory left to read it";
  if (error != nullptr) PQfreemem(error);
  return why;
}

}  // namespace plcburn
