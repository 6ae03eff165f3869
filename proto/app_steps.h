#pragma once
// Steps spoken to the PLC's application firmware (Modbus ASCII).

#include <cstdint>
#include <string>

#include "proto/step_context.h"

namespace plcburn {

// Request texts for the selected model (CR LF included).
std::string DummyRequest();
std::string ProbeRequest(const ModelRules& model);
std::string IdentityRequest(const ModelRules& model);
std::string ReadD1386Request();
std::string ReadD1148Request();
std::string VersionRequestA();
std::string EraseRequestA(const ModelRules& model);
std::string EraseAckRequestA(const ModelRules& model);

void DummyComm(StepContext& ctx, Link& hSerial);
std::uint8_t ConfirmComm(StepContext& ctx, Link& hSerial);
std::uint8_t CheckID_A(StepContext& ctx, Link& hSerial);
std::uint16_t READ_D1386(StepContext& ctx, Link& hSerial);
std::uint16_t READ_D1148(StepContext& ctx, Link& hSerial);
std::uint8_t read_fu_version_A(StepContext& ctx);
std::uint8_t SendErase_A(StepContext& ctx, Link& hSerial);

}  // namespace plcburn
