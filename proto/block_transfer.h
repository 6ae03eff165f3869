#pragma once
// The image sent to the boot loader in numbered, CRC-checked blocks.

#include <cstdint>

#include "proto/step_context.h"

namespace plcburn {

// CRC-16/XMODEM (polynomial 0x1021, initial 0, MSB first), in the low 16 bits.
std::uint32_t CRC(const std::uint8_t* data, std::uint32_t len);

// Copies `counter` image bytes from the cursor and advances it; nothing for counter <= 0. False
// (nothing copied) when the image holds fewer.
bool FileRead(StepContext& ctx, std::uint8_t* rxbuf, std::int32_t counter);

std::uint8_t SendFW(StepContext& ctx, Link& hSerial);

}  // namespace plcburn
