#pragma once
// State shared between the window (or any front end) and the burn worker. Every value the two
// threads touch is an atomic, so the panel reads whole values while the worker writes them.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/catalogue.h"

namespace plcburn {

enum Status : std::int32_t { IDLE = 0, ERASE = 1, PROGRAM = 2 };

// The word the panel and the CLI show for `flashStatus`; empty for any other value.
constexpr std::string_view PhaseWord(std::int32_t flashStatus) {
  switch (flashStatus) {
    case IDLE: return "Idle";
    case ERASE: return "Erasing";
    case PROGRAM: return "Programming";
    default: return {};
  }
}

struct BurnState {
  std::atomic<std::int32_t> flashStatus{IDLE};
  std::atomic<std::int32_t> progress{0};
  std::atomic<std::int32_t> errCounter{0};
  std::atomic<std::int32_t> totalErrCounter{0};
  std::atomic<std::int32_t> elapsedTime{0};
};

// The model and port a burn works with. The model is fixed at start-up; the port may be
// rewritten by the window while a burn runs, which reads it again when it reopens a COM link.
class Selection {
 public:
  explicit Selection(std::size_t modelRow = 0) { SelectModel(modelRow); }

  void SelectModel(std::size_t row) {
    selectedPLCIdx.store(static_cast<std::uint32_t>(row));
    selectedPLCID.store(plcID[row]);
  }
  const ModelRules& Model() const { return ModelAt(selectedPLCIdx.load()); }

  // Listed names are short, but a device path (a simulator, a CDC-ACM device) may be longer and
  // must reach the opener whole.
  void SetComPort(std::string_view name) {
    std::lock_guard lock(portMutex_);
    selectedComPort_.assign(name);
  }
  std::string ComPort() const {
    std::lock_guard lock(portMutex_);
    return selectedComPort_;
  }

  std::atomic<std::uint32_t> selectedPLCIdx{0};
  std::atomic<std::uint16_t> selectedPLCID{0};

 private:
  mutable std::mutex portMutex_;
  std::string selectedComPort_;
};

}  // namespace plcburn
