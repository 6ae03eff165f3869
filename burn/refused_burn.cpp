#include "burn/refused_burn.h"

#include <chrono>

#include "core/catalogue.h"
#include "core/version.h"

namespace plcburn {

BurnRecord RefusedBurnRecord(const RefusedBurn& refused) {
  BurnRecord record;
  record.facts = refused.facts;
  record.version = kVersion;
  record.startMs = refused.startMs;
  record.endMs = refused.endMs;
  record.durationMs = refused.durationMs;
  record.port = refused.port;
  record.usb = refused.usb;
  const PlcIdentity& plc = refused.plc;
  if (!plc.candidates.empty()) record.model = CandidateNames(plc.candidates);
  if (refused.imageModelRow) record.model = ModelAt(*refused.imageModelRow).name;
  record.imageSize = refused.imageSize;
  const std::string_view step = !refused.image                                ? kStepImageChoice
                                : refused.image->reason == ImageRefusal::Size ? kStepSizeCheck
                                                                              : kStepImageCheck;
  record.result = {false,       std::nullopt,    std::string(step), "ERROR",
                   refused.why, refused.stopped, refused.image};
  const bool boot = plc.firmware == Firmware::BootLoader;
  (boot ? record.plc.bootIdentifier : record.plc.identifier) = plc.identifier;
  record.plc.appVersion = plc.updateVersion;
  record.plc.bootVersion = plc.bootVersion;
  record.plc.d1386 = plc.d1386;
  record.plc.d1148 = plc.d1148;
  return record;
}

std::uint64_t WallClockMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

}  // namespace plcburn
