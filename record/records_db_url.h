#pragma once
// The records database's address as plcburn-cli takes it: a libpq connection string
// ("host=db.plant dbname=burns user=station") or URL ("postgresql://station@db.plant/burns").

#include <string>

namespace plcburn {

// Why libpq cannot take `url`, or empty when it can. Nothing is connected to.
std::string RecordsDbUrlProblem(const std::string& url);

}  // namespace plcburn
