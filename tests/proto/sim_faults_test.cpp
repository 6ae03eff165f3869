// Each simulator fault, met by the step it is aimed at, gives that step's result code.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/result_codes.h"
#include "proto/app_steps.h"
#include "proto/block_transfer.h"
#include "proto/boot_steps.h"
#include "sim/plc_sim.h"
#include "sim/sim_link.h"

namespace plcburn {
namespace {

using Step = std::function<std::uint8_t(StepContext&, Link&)>;

std::uint8_t EraseAfterUpdate(StepContext& ctx, Link& link) {
  if (SendErase_B(ctx, link) != RC_OK || SendUpdate(ctx, link) != RC_OK) return 0xEE;
  return SendFW(ctx, link);
}

struct FaultCase {
  const char* fault;
  const char* model;
  bool boot;
  Step step;
  std::uint8_t expected;
};

const Step kProbe = ConfirmComm;
const Step kIdentity = CheckID_A;
const Step kErase = SendErase_A;
const Step kBootId = CheckID_B;
const Step kTransfer = EraseAfterUpdate;

TEST(SimFaults, StepThatMeetsTheFaultReturnsItsCode) {
  const FaultCase cases[] = {
      {"silence", "QN4", false, kProbe, RC_NO_RESPONSE},
      {"silence", "QN4", true, kBootId, RC_FAIL},
      {"nak:1:3", "QN4", false, kProbe, RC_RUN_MODE},
      {"nak:1:3", "QN4", false, kIdentity, RC_UNKNOWN_CODE},
      {"nak:2:1", "QN4", false, kProbe, RC_FLOW_STATE1},
      {"nak:2:3", "QN4", false, kIdentity, RC_FLOW_STATE3},
      {"nak:2:4", "QN4", false, kErase, RC_FLOW_STATE4},
      {"nak:5:1", "QN4", false, kErase, RC_UNKNOWN_CODE},
      {"wrong-id-app", "TR7-B", false, kIdentity, RC_NO_RESPONSE},
      {"wrong-id-boot", "VL-K", true, kBootId, RC_FAIL},
      {"lowercase", "QW4", false, kProbe, RC_NO_RESPONSE},
      {"bad-lrc", "QW4", false, kIdentity, RC_NO_RESPONSE},
      {"short-reply", "QW4", false, kProbe, RC_NO_RESPONSE},
      {"silent-erase", "TR7-B", false, kErase, RC_OK},
      {"silent-erase", "MX7-GLT", false, kErase, RC_OK},
      {"silent-erase", "TR7-MX7", false, kErase, RC_NO_RESPONSE},
      {"nak-block:3:5", "QN4", true, kTransfer, RC_OK},
      {"nak-block:3:6", "QN4", true, kTransfer, RC_FAIL},
      {"lose-ack:2", "VL", true, kTransfer, RC_OK},
      {"hangup:4", "VL", true, kTransfer, RC_FAIL},
  };
  const std::vector<std::uint8_t> image(2000, 0x33);
  for (const FaultCase& c : cases) {
    SimOptions options;
    options.startInBootLoader = c.boot;
    options.faults.push_back(*ParseFault(c.fault));
    PlcSim sim(*FindModel(c.model), options);
    VirtualClock clock;
    SimLink link(sim, clock);
    BurnState state;
    StepContext ctx{state, sim.Model(), &link, ImageCursor(image),
                    static_cast<std::uint32_t>(image.size())};
    EXPECT_EQ(c.step(ctx, link), c.expected) << c.fault << " on " << c.model;
  }
}

TEST(SimFaults, GarbageBeforeTheFirstReplyIsDrainedByTheDummyFrames) {
  SimOptions garbage;
  garbage.faults.push_back(*ParseFault("garbage"));
  PlcSim sim(*FindModel("QN4"), garbage);
  VirtualClock clock;
  SimLink link(sim, clock);
  BurnState state;
  StepContext ctx{state, sim.Model(), &link, {}, 0};
  DummyComm(ctx, link);
  EXPECT_EQ(ConfirmComm(ctx, link), RC_APP_MODE);
  EXPECT_EQ(state.totalErrCounter, 0);
}

}  // namespace
}  // namespace plcburn
