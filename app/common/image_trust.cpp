#include "app/common/image_trust.h"

#include <cstdio>

#include "app/common/image_file.h"
#include "burn/refused_burn.h"
#include "core/catalogue.h"
#include "core/port_name.h"
#include "core/utf8_text.h"
#include "record/burn_log.h"
#include "record/sha256.h"

namespace plcburn {

LoadedPolicy RunTrustPolicy(const CliOptions& options) {
  const std::filesystem::path folder = DefaultTrustedKeysFolder();
  LoadedPolicy loaded = LoadTrustPolicy(folder, options.trustedKeys);
  if (!loaded.policy) return loaded;
  if (options.requireModel && !loaded.policy->Enforced()) {
    return {std::nullopt, "--require-model needs a trusted key to sign the model: install one in " +
                              Utf8FromPath(folder) + " or name it with --trusted-key"};
  }
  loaded.policy->requireModel = options.requireModel;
  return loaded;
}

BurnRecord ImageRefusalRecord(const RecordFacts& run, const std::string& port,
                              const std::string& path, std::span<const std::uint8_t> bytes,
                              const Admission& refusal) {
  RefusedBurn refused{run, port, NamesUsbInterface(port)};
  refused.facts.imageName = Utf8FromPath(PathFromUtf8(path).filename());
  refused.facts.imageSha256 = Sha256Hex(bytes);
  // A signature by a trusted key is on record even when the image is refused for its model.
  if (refusal.signedByTrustedKey) {
    refused.facts.signingKeyId = refusal.keyId;
    refused.facts.trustedComment = refusal.trustedComment;
  }
  refused.why = refusal.error;
  refused.image = {refusal.reason.value_or(ImageRefusal::Kind), refusal.keyId};
  refused.imageModelRow = refusal.modelRow;
  refused.imageSize = static_cast<std::uint32_t>(bytes.size());
  refused.startMs = refused.endMs = WallClockMs();
  return RefusedBurnRecord(refused);
}

std::optional<std::filesystem::path> RunBurnLogPath(const CliOptions& options) {
  if (options.noLog) return std::nullopt;
  return options.log.empty() ? DefaultBurnLogPath() : PathFromUtf8(options.log);
}

void KeepInRunLog(const CliOptions& options, const std::vector<BurnRecord>& records,
                  const char* program) {
  const std::optional<std::filesystem::path> path = RunBurnLogPath(options);
  if (!path || records.empty()) return;
  BurnLog log(*path, [program](const std::string& warning) {
    std::fprintf(stderr, "%s: %s\n", program, warning.c_str());
  });
  for (const BurnRecord& record : records) log.Keep(record);
}

int VerifyImageCommand(const CliOptions& options) {
  const std::string& path = options.verifyImage;
  const auto refuse = [](const std::string& error) {
    std::fprintf(stderr, "plcburn-cli: %s\n", error.c_str());
    return 1;
  };
  const LoadedPolicy loaded = RunTrustPolicy(options);
  if (!loaded.policy) return refuse(loaded.error);
  const ImageFile file = ReadImageFile(path, LargestImageSize());
  if (!file.bytes) return refuse(file.error);
  const Admission admitted = AdmitImage({path, *file.bytes, std::nullopt}, *loaded.policy);
  if (!admitted.accepted) return refuse(admitted.error);
  std::printf("%s: accepted\n", path.c_str());
  if (admitted.keyId.empty()) {
    std::printf("  signature        not needed: no trusted key is installed\n");
  } else {
    std::printf("  key id           %s\n", admitted.keyId.c_str());
    std::printf("  trusted comment  %s\n", admitted.trustedComment.c_str());
  }
  if (admitted.modelRow) {
    std::printf("  model            %s (%s)\n",
                std::string(ModelAt(*admitted.modelRow).name).c_str(),
                admitted.modelWord ? "bound by its signature" : "named by its file name");
  } else {
    std::printf("  model            any: neither its name nor its signature names one\n");
  }
  std::printf("  size             %zu bytes\n", file.bytes->size());
  std::printf("  SHA-256          %s\n", Sha256Hex(*file.bytes).c_str());
  return 0;
}

}  // namespace plcburn
