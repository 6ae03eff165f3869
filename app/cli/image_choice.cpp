#include "app/cli/image_choice.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/cli/cli_journal.h"
#include "app/common/cli_options.h"
#include "app/common/image_file.h"
#include "burn/refused_burn.h"
#include "core/catalogue.h"
#include "core/port_name.h"
#include "core/utf8_text.h"
#include "record/sha256.h"

namespace plcburn {

namespace {

namespace fs = std::filesystem;

bool IsBinFile(const fs::directory_entry& entry) {
  std::error_code ec;
  if (!entry.is_regular_file(ec)) return false;
  std::string extension = entry.path().extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".bin";
}

using NamedImageList = std::vector<std::pair<std::string, std::size_t>>;

// Images in DIR with the model each is named for; none when DIR cannot be read.
std::optional<NamedImageList> ListNamedImages(const std::string& dir) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return std::nullopt;
  NamedImageList images;
  for (const fs::directory_entry& entry : it) {
    if (!IsBinFile(entry)) continue;
    const std::string path = entry.path().string();
    if (const std::optional<std::size_t> row = ModelNamedByImage(path))
      images.emplace_back(path, *row);
  }
  std::sort(images.begin(), images.end());
  return images;
}

std::string FileNames(const std::vector<std::string>& paths) {
  std::string names;
  for (const std::string& p : paths)
    names += (names.empty() ? "" : ", ") + fs::path(p).filename().string();
  return names;
}

}  // namespace

std::string ImagesDirProblem(const std::string& dir) {
  const auto images = ListNamedImages(dir);
  if (!images) return "cannot read the image folder " + dir;
  if (images->empty()) return "the image folder " + dir + " holds no image named MODEL_*.bin";
  return {};
}

std::vector<std::string> ImagesForModel(const std::string& dir, std::size_t row) {
  std::vector<std::string> paths;
  for (const auto& [path, named] : NamedImages(dir))
    if (named == row) paths.push_back(path);
  return paths;
}

NamedImageList NamedImages(const std::string& dir) {
  return ListNamedImages(dir).value_or(NamedImageList{});
}

std::vector<CheckedImage> CheckImagesIn(const std::string& dir, const TrustPolicy& policy) {
  std::vector<CheckedImage> checked;
  for (const auto& [path, row] : NamedImages(dir)) {
    CheckedImage& image = checked.emplace_back();
    image.path = path;
    ImageFile file = ReadImageFile(path, ModelAt(row).maxSize);
    if (!file.bytes) {
      image.unreadable = file.error;
      continue;
    }
    image.bytes = std::move(*file.bytes);
    image.admission = AdmitImage({path, image.bytes, row}, policy);
  }
  return checked;
}

ImageChoice ChooseImageForPlc(LinkOpener& opener, const std::string& port, const std::string& dir,
                              const TrustPolicy& policy) {
  ImageChoice choice;
  choice.plc = IdentifyPort(opener, port);
  const PlcIdentity& plc = choice.plc;
  if (!plc.Answered()) {
    choice.refusal = "the PLC could not be identified (" + plc.problem + "): nothing was burned";
    return choice;
  }
  if (plc.candidates.size() != 1) {
    choice.refusal = "the PLC may be a " + CandidateNames(plc.candidates) +
                     ", and only one model's image may be burned: nothing was burned";
    return choice;
  }
  const std::size_t row = plc.candidates.front();
  const std::string model(ModelAt(row).name);
  const std::vector<std::string> images = ImagesForModel(dir, row);
  if (images.empty()) {
    choice.refusal =
        "no image for the " + model + " in " + dir + " (" + model + "_*.bin): nothing was burned";
    return choice;
  }
  if (images.size() > 1) {
    choice.refusal = "more than one image for the " + model + " in " + dir + ": " +
                     FileNames(images) + "; nothing was burned";
    return choice;
  }
  ImageFile file = ReadImageFile(images.front(), ModelAt(row).maxSize);
  if (!file.bytes) {
    choice.refusal = file.error + ": nothing was burned";
    return choice;
  }
  choice.path = images.front();
  choice.bytes = std::move(*file.bytes);
  choice.admission = AdmitImage({choice.path, choice.bytes, row}, policy);
  if (!choice.admission.accepted) {
    choice.refusal = choice.admission.error + ": nothing was burned";
    return choice;
  }
  choice.row = row;
  return choice;
}

void ReportRefusal(const std::string& port, const ImageChoice& choice, const RecordFacts& facts,
                   std::uint64_t startMs, BurnJournal* log, JsonEvents* events) {
  RefusedBurn refused{facts, port, NamesUsbInterface(port), choice.plc, choice.refusal};
  if (const Admission& a = choice.admission; a.reason) {
    refused.facts.imageName = Utf8FromPath(PathFromUtf8(choice.path).filename());
    refused.facts.imageSha256 = Sha256Hex(choice.bytes);
    refused.image = {*a.reason, a.keyId};
    refused.imageSize = static_cast<std::uint32_t>(choice.bytes.size());
  }
  refused.startMs = startMs;
  refused.endMs = WallClockMs();
  refused.durationMs = refused.endMs > startMs ? refused.endMs - startMs : 0;
  CliJournal journal(port, log, events);
  journal.Keep(RefusedBurnRecord(refused));
  journal.SendResult();
  if (events == nullptr) std::printf("%s: ERROR: %s\n", port.c_str(), choice.refusal.c_str());
}

}  // namespace plcburn
