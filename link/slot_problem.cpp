#include "core/port_name.h"
#include "link/slot_watch.h"

namespace plcburn {

std::string SlotProblemFor(const std::string& slot, const ModelRules* model) {
  std::string problem = SlotProblem(slot);
  if (problem.empty() && slot == kUsbPort && model != nullptr && !model->IsUsb())
    problem = "slot USB: the " + std::string(model->name) + " is not reached over USB";
  return problem;
}

}  // namespace plcburn
