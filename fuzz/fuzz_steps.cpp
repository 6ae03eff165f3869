// Every protocol step fed arbitrary reply bytes. Input: model row, step, then for each write a
// length byte and that many reply bytes. A step must not crash, must stay inside the image, and
// may only return the results its callers are prepared for.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "core/result_codes.h"
#include "proto/app_steps.h"
#include "proto/block_transfer.h"
#include "proto/boot_steps.h"
#include "tests/support/memory_link.h"

namespace {

using namespace plcburn;

void Require(bool ok) {
  if (!ok) std::abort();
}

bool OneOf(std::uint8_t v, std::initializer_list<std::uint8_t> allowed) {
  return std::find(allowed.begin(), allowed.end(), v) != allowed.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const ModelRules& model = ModelAt(data[0] % kModelCount);
  const int step = data[1] % 11;
  std::size_t pos = 2;

  static const std::vector<std::uint8_t> image(5000, 0x5A);
  const std::uint32_t length = 4096 + (data[0] * 7u) % 904;
  BurnState state;
  testing::MemoryLink link;
  link.responder = [&](const testing::Bytes&) {
    if (pos >= size) return testing::Bytes{};
    const std::size_t want = data[pos++];
    const std::size_t n = std::min(want, size - pos);
    testing::Bytes reply(data + pos, data + pos + n);
    pos += n;
    return reply;
  };
  StepContext ctx{state, model, &link, ImageCursor({image.data(), length}), length};

  switch (step) {
    case 0: DummyComm(ctx, link); break;
    case 1:
      Require(OneOf(ConfirmComm(ctx, link),
                    {RC_APP_MODE, RC_BOOT_MODE, RC_FLOW_STATE1, RC_FLOW_STATE2, RC_FLOW_UNKNOWN,
                     RC_RUN_MODE, RC_UNKNOWN_CODE, RC_NO_RESPONSE}));
      break;
    case 2:
      Require(OneOf(CheckID_A(ctx, link), {RC_OK, RC_FLOW_STATE2, RC_FLOW_STATE3, RC_FLOW_UNKNOWN,
                                           RC_UNKNOWN_CODE, RC_NO_RESPONSE}));
      break;
    case 3: READ_D1386(ctx, link); break;
    case 4: READ_D1148(ctx, link); break;
    case 5: read_fu_version_A(ctx); break;
    case 6:
      Require(OneOf(SendErase_A(ctx, link), {RC_OK, RC_FLOW_STATE3, RC_FLOW_STATE4, RC_FLOW_UNKNOWN,
                                             RC_UNKNOWN_CODE, RC_NO_RESPONSE}));
      break;
    case 7: Require(OneOf(CheckID_B(ctx, link), {RC_OK, RC_FAIL})); break;
    case 8: Require(OneOf(SendErase_B(ctx, link), {RC_OK, RC_FAIL})); break;
    case 9: Require(OneOf(SendUpdate(ctx, link), {RC_OK, RC_FAIL})); break;
    default:
      Require(OneOf(SendFW(ctx, link), {RC_OK, RC_FAIL}));
      Require(ctx.fin.Position() <= length);
      break;
  }
  Require(state.errCounter >= 0 && state.errCounter <= 6);
  Require(state.progress >= 0 && state.progress <= 100);
  return 0;
}
