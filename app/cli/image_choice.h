#pragma once
// plcburn-cli --images DIR: every image in DIR is checked before any port is opened; then the
// PLC on a port is identified, and the one image in DIR named for its model (MODEL_*.bin) is what
// it gets. Anything less certain is refused before the burn starts, so nothing has been erased.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/json_events.h"
#include "core/burn_record.h"
#include "link/link.h"
#include "proto/identify_plc.h"
#include "trust/image_gate.h"
#include "trust/trust_policy.h"

namespace plcburn {

// Why DIR cannot serve as an image folder (unreadable, or no image named for any model); empty
// when it can.
std::string ImagesDirProblem(const std::string& dir);

// The images in DIR named for the model in `row`, sorted by name.
std::vector<std::string> ImagesForModel(const std::string& dir, std::size_t row);

// Every image in DIR named for a model, with that model's row, sorted by name; none when DIR
// cannot be read.
std::vector<std::pair<std::string, std::size_t>> NamedImages(const std::string& dir);

// An image of DIR as read and checked for the model its name names.
struct CheckedImage {
  std::string path;
  std::vector<std::uint8_t> bytes;
  Admission admission;
  std::string unreadable;  // why it could not be read; then it was not checked
};

// Every image in DIR named for a model, each checked before any PLC is asked which it needs.
std::vector<CheckedImage> CheckImagesIn(const std::string& dir, const TrustPolicy& policy);

struct ImageChoice {
  PlcIdentity plc;
  std::optional<std::size_t> row;  // set together with the image
  std::string path;
  std::vector<std::uint8_t> bytes;  // as read and checked; also those of a refused image
  Admission admission;              // of the image found for the PLC, if one was
  std::string refusal;              // why this PLC gets no image
};

// The image read afresh and checked once the PLC is identified: the bytes burned are those
// checked, even if the file changed since the run began.
ImageChoice ChooseImageForPlc(LinkOpener& opener, const std::string& port, const std::string& dir,
                              const TrustPolicy& policy);

// Tells of a PLC refused before its burn as the end of a burn is told: its record to the log (if
// any), and the result event with --json (`events`), else one error line on standard output.
// `facts` are the run's; `startMs` is when its identification began.
void ReportRefusal(const std::string& port, const ImageChoice& choice, const RecordFacts& facts,
                   std::uint64_t startMs, BurnJournal* log, JsonEvents* events);

}  // namespace plcburn
