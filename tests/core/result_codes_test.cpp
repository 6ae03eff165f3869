#include "core/result_codes.h"

#include <gtest/gtest.h>

namespace plcburn {
namespace {

TEST(ResultMessages, EveryCellOfTheSelectionTable) {
  struct Case {
    std::uint8_t code;
    const char* confirm;
    const char* checkId;
    const char* erase;
  } cases[] = {
      {0x11, "FLOW ERROR @ State 1", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
      {0x12, "FLOW ERROR @ State 2", "FLOW ERROR @ State 2", "UNKNOWN MESSAGE @ State 3"},
      {0x13, "UNKNOWN MESSAGE", "FLOW ERROR @ State 3", "FLOW ERROR @ State 3"},
      {0x14, "UNKNOWN MESSAGE", "UNKNOWN MESSAGE @ State 2", "FLOW ERROR @ State 4"},
      {0x15, "FLOW ERROR @ unknown state", "FLOW ERROR @ unknown state",
       "FLOW ERROR @ unknown state"},
      {0x16, "PLC in RUN MODE", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
      {0x17, "UNKNOWN ERROR CODE @ State 1", "UNKNOWN ERROR CODE @ State 2",
       "UNKNOWN ERROR CODE @ State 3"},
      {0x18, "NO RESPONSE @ State 1", "NO RESPONSE @ State 2", "NO RESPONSE @ State 3"},
      {0x10, "UNKNOWN MESSAGE", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
      {0x1F, "UNKNOWN MESSAGE", "UNKNOWN MESSAGE @ State 2", "UNKNOWN MESSAGE @ State 3"},
      // Only the low four bits select the text.
      {0x28, "NO RESPONSE @ State 1", "NO RESPONSE @ State 2", "NO RESPONSE @ State 3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AppStepMessage(AppStep::ConfirmComm, c.code), c.confirm) << int(c.code);
    EXPECT_EQ(AppStepMessage(AppStep::CheckID_A, c.code), c.checkId) << int(c.code);
    EXPECT_EQ(AppStepMessage(AppStep::SendErase_A, c.code), c.erase) << int(c.code);
  }
}

}  // namespace
}  // namespace plcburn
