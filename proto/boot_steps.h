#pragma once
// Steps spoken to the PLC's boot loader: raw ASCII commands answered by ACK.

#include <cstdint>

#include "proto/control_bytes.h"
#include "proto/step_context.h"

namespace plcburn {

std::uint8_t CheckID_B(StepContext& ctx, Link& hSerial);
std::uint8_t read_fu_version_B(StepContext& ctx);
std::uint8_t SendErase_B(StepContext& ctx, Link& hSerial);
std::uint8_t SendUpdate(StepContext& ctx, Link& hSerial);

// Exchanges `command` for a one-byte answer that must be ACK.
bool ExchangeForAck(StepContext& ctx, Link& link, const std::uint8_t* command, std::size_t length);

}  // namespace plcburn
