#include "trust/trust_policy.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "trust/small_file.h"

namespace plcburn {

namespace {

std::string AddKey(const std::filesystem::path& path, TrustPolicy& policy) {
  const SmallFile file = ReadSmallFile(path, kMinisignFileLimit, "trusted key");
  if (!file.text) return file.error;
  const ParsedKey parsed = ParsePublicKey(*file.text);
  if (!parsed.key)
    return "trusted key " + path.string() + " is not a minisign public key: " + parsed.error;
  policy.keys.push_back(*parsed.key);
  return {};
}

}  // namespace

LoadedPolicy LoadTrustPolicy(const std::filesystem::path& folder,
                             const std::vector<std::string>& keyFiles) {
  TrustPolicy policy;
  std::error_code ec;
  std::vector<std::filesystem::path> installed;
  if (std::filesystem::exists(folder, ec)) {
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->path().extension() == ".pub") installed.push_back(it->path());
    }
  }
  if (ec)
    return {std::nullopt,
            "cannot read the trusted keys in " + folder.string() + ": " + ec.message()};
  std::sort(installed.begin(), installed.end());
  installed.insert(installed.end(), keyFiles.begin(), keyFiles.end());
  for (const auto& path : installed) {
    if (std::string error = AddKey(path, policy); !error.empty()) return {std::nullopt, error};
  }
  return {std::move(policy), ""};
}

std::filesystem::path DefaultTrustedKeysFolder() {
#ifdef _WIN32
  const char* programData = std::getenv("ProgramData");
  return std::filesystem::path(programData != nullptr ? programData : "C:\\ProgramData") /
         "plcburn" / "trusted-keys";
#else
  return "/etc/plcburn/trusted-keys";
#endif
}

}  // namespace plcburn
