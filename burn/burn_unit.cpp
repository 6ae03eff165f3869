#include "burn/burn_unit.h"

#include <utility>

namespace plcburn {

BurnUnit::BurnUnit(std::size_t modelRow, Operator& ui, BurnJournal& journal, RecordFacts facts,
                   std::chrono::milliseconds second)
    : selection_(modelRow), recording_{journal, std::move(facts)}, runner_(state_, ui, second) {}

void BurnUnit::UseImage(std::span<const std::uint8_t> bytes) {
  // Never while a burn reads the image in place.
  if (!runner_.Running()) image_.emplace(bytes);
}

void BurnUnit::UseImage(std::vector<std::uint8_t> bytes) {
  if (!runner_.Running()) image_.emplace(std::move(bytes));
}

bool BurnUnit::Start(LinkOpener& opener, BurnRunner::Ended ended) {
  if (!image_) return false;
  return Start(opener, *image_, std::move(ended));
}

bool BurnUnit::Start(LinkOpener& opener, ImageSource& image, BurnRunner::Ended ended) {
  return runner_.Start({selection_, opener, image, &recording_}, std::move(ended));
}

}  // namespace plcburn
