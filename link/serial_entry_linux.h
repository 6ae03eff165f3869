#pragma once
// What a slot's entry is on Linux: a serial device (with what tells one plug of it from the
// next), something that can never be one, or a node that is not ready yet.

#include <cstddef>

#include "link/slot_watch.h"

struct udev;

namespace plcburn {

// Adds the entry at `path` (matched by slot `slot`) to `look`: as a device, as a misfit, or not
// at all while it is not ready (a dangling link; a node udev has not set up, where `udevRuns`).
void LookAtSerialEntry(std::size_t slot, const char* path, udev* udevContext, bool udevRuns,
                       SlotLook& look);

}  // namespace plcburn
