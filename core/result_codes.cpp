#include "core/result_codes.h"

namespace plcburn {

std::string_view AppStepMessage(AppStep step, std::uint8_t code) {
  switch (code & 0x0F) {
    case 0x1:
      if (step == AppStep::ConfirmComm) return "FLOW ERROR @ State 1";
      break;
    case 0x2:
      if (step != AppStep::SendErase_A) return "FLOW ERROR @ State 2";
      break;
    case 0x3:
      if (step != AppStep::ConfirmComm) return "FLOW ERROR @ State 3";
      break;
    case 0x4:
      if (step == AppStep::SendErase_A) return "FLOW ERROR @ State 4";
      break;
    case 0x5: return "FLOW ERROR @ unknown state";
    case 0x6:
      if (step == AppStep::ConfirmComm) return "PLC in RUN MODE";
      break;
    case 0x7:
      switch (step) {
        case AppStep::ConfirmComm: return "UNKNOWN ERROR CODE @ State 1";
        case AppStep::CheckID_A: return "UNKNOWN ERROR CODE @ State 2";
        case AppStep::SendErase_A: return "UNKNOWN ERROR CODE @ State 3";
      }
      break;
    case 0x8:
      switch (step) {
        case AppStep::ConfirmComm: return "NO RESPONSE @ State 1";
        case AppStep::CheckID_A: return "NO RESPONSE @ State 2";
        case AppStep::SendErase_A: return "NO RESPONSE @ State 3";
      }
      break;
    default: break;
  }
  switch (step) {
    case AppStep::ConfirmComm: return "UNKNOWN MESSAGE";
    case AppStep::CheckID_A: return "UNKNOWN MESSAGE @ State 2";
    case AppStep::SendErase_A: return "UNKNOWN MESSAGE @ State 3";
  }
  return "UNKNOWN MESSAGE";
}

}  // namespace plcburn
