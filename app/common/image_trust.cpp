#include "app/common/image_trust.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/common/image_file.h"
#include "core/catalogue.h"
#include "record/sha256.h"
#include "trust/trust_policy.h"

namespace plcburn {

namespace {

ImageTrust CheckAgainstPolicy(const CliOptions& options, const std::string& path,
                              std::span<const std::uint8_t> bytes) {
  const LoadedPolicy loaded = LoadTrustPolicy(DefaultTrustedKeysFolder(), options.trustedKeys);
  if (!loaded.policy) return {false, loaded.error, "", ""};
  return CheckImageTrust(path, bytes, *loaded.policy);
}

}  // namespace

ImageTrust CheckImageForBurn(const CliOptions& options, std::span<const std::uint8_t> bytes,
                             std::uint32_t limit) {
  if (bytes.size() > limit) return {true, "", "", ""};
  return CheckAgainstPolicy(options, options.image, bytes);
}

int VerifyImageCommand(const CliOptions& options) {
  std::uint32_t largest = 0;
  for (std::size_t row = 0; row < kModelCount; ++row)
    largest = std::max(largest, ModelAt(row).maxSize);
  const std::string& path = options.verifyImage;
  const ImageFile file = ReadImageFile(path, largest);
  ImageTrust trust{false, file.error, "", ""};
  if (file.bytes && file.bytes->size() > largest)
    trust.error = path + " is larger than any model's image";
  else if (file.bytes)
    trust = CheckAgainstPolicy(options, path, *file.bytes);
  if (!trust.accepted) {
    std::fprintf(stderr, "plcburn-cli: %s\n", trust.error.c_str());
    return 1;
  }
  std::printf("%s: accepted\n", path.c_str());
  if (trust.keyId.empty()) {
    std::printf("  signature        not needed: no trusted key is installed\n");
  } else {
    std::printf("  key id           %s\n", trust.keyId.c_str());
    std::printf("  trusted comment  %s\n", trust.trustedComment.c_str());
  }
  std::printf("  size             %zu bytes\n", file.bytes->size());
  std::printf("  SHA-256          %s\n", Sha256Hex(*file.bytes).c_str());
  return 0;
}

}  // namespace plcburn
