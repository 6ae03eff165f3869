#pragma once
// What one burn works with, held in one place for every front end: the panel's values, the
// model and port chosen, the image, how the burn is recorded, and the runner that burns it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "burn/burn_recording.h"
#include "burn/burn_runner.h"
#include "core/burn_state.h"
#include "core/memory_image.h"

namespace plcburn {

class BurnUnit {
 public:
  // `ui` shows the burn, `journal` keeps its record; both outlive the unit.
  BurnUnit(std::size_t modelRow, Operator& ui, BurnJournal& journal, RecordFacts facts,
           std::chrono::milliseconds second = std::chrono::seconds(1));
  BurnUnit(const BurnUnit&) = delete;
  BurnUnit& operator=(const BurnUnit&) = delete;

  // The image the next burn sends: borrowed (the caller keeps the bytes alive) or owned.
  void UseImage(std::span<const std::uint8_t> bytes);
  void UseImage(std::vector<std::uint8_t> bytes);

  // Starts a burn of the image through `opener`; false while one runs or with no image.
  bool Start(LinkOpener& opener, BurnRunner::Ended ended = {});
  // Starts a burn of an image the caller holds (one loaded afresh for each burn).
  bool Start(LinkOpener& opener, ImageSource& image, BurnRunner::Ended ended = {});
  void Stop() { runner_.Stop(); }
  std::optional<BurnOutcome> Wait() { return runner_.Wait(); }
  bool Running() const { return runner_.Running(); }
  std::int32_t ElapsedSeconds() const { return runner_.ElapsedSeconds(); }
  void ShowElapsed() { runner_.ShowElapsed(); }

  BurnState& State() { return state_; }
  const BurnState& State() const { return state_; }
  Selection& Chosen() { return selection_; }
  const Selection& Chosen() const { return selection_; }
  RecordFacts& Facts() { return recording_.facts; }
  std::uint32_t ImageLength() const { return image_ ? image_->Length() : 0; }

 private:
  BurnState state_;
  Selection selection_;
  std::optional<MemoryImage> image_;
  BurnRecording recording_;
  BurnRunner runner_;  // declared last: its worker ends before the rest goes
};

}  // namespace plcburn
