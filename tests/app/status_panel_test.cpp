#include "app/panel/status_panel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace plcburn {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;

// Every drawing call as one line, in order.
struct RecordingCanvas : PanelCanvas {
  void FillRect(const Rect& r, Color c) override {
    const char* name = c == kEraseColor ? "erase" : c == kWhite ? "white" : c == kRed ? "red" : "?";
    Add("fill %d,%d,%d,%d %s", r.left, r.top, r.right, r.bottom, name);
  }
  void DrawText(int x, int y, std::string_view t) override {
    Add("text %d,%d [%.*s]", x, y, static_cast<int>(t.size()), t.data());
  }
  void DrawLogo(int x, int y) override { Add("logo %d,%d", x, y); }
  template <typename... Args>
  void Add(const char* format, Args... args) {
    char line[128];
    std::snprintf(line, sizeof line, format, args...);
    ops.emplace_back(line);
  }
  std::vector<std::string> ops;
};

struct Values {
  std::int32_t elapsed = 0, progress = 0, status = IDLE, errors = 0, total = 0;
};

template <typename Routine>
std::vector<std::string> Draw(Routine routine, const Values& v) {
  BurnState state;
  state.elapsedTime = v.elapsed;
  state.progress = v.progress;
  state.flashStatus = v.status;
  state.errCounter = v.errors;
  state.totalErrCounter = v.total;
  RecordingCanvas canvas;
  routine(canvas, state);
  return canvas.ops;
}

// The whole panel in its order, each changing text drawn after its area is erased.
TEST(StatusPanel, PaintsEveryItemInOrder) {
  for (bool withLogo : {false, true}) {
    const auto ops = Draw([&](PanelCanvas& c, const BurnState& s) { PaintPanel(c, s, withLogo); },
                          {42, 50, PROGRAM, 2, 7});
    std::vector<std::string> expected{
        "fill 160,70,335,90 erase",
        "text 160,70 [Elapsed Time:              sec]",
        "text 270,70 [ 42]",
        "fill 10,105,520,125 white",
        "fill 10,105,265,125 red",
        "fill 10,140,130,160 erase",
        "text 10,140 [Progress:            %]",
        "text 85,140 [ 50]",
        "fill 160,140,300,160 erase",
        "text 160,140 [Status: ]",
        "text 209,140 [Programming]",
        "fill 320,140,540,160 erase",
        "text 320,140 [# of Error/Total Error: 2/7]",
        "text 300,25 [Date: 2017/8/28]",
    };
    if (withLogo) expected.push_back("logo 435,15");
    EXPECT_THAT(ops, ElementsAreArray(expected)) << "withLogo " << withLogo;
  }
}

// Each routine alone: `whole` lists every call it makes, otherwise the calls listed are among
// them.
TEST(StatusPanel, EachValueDrawnInItsPlace) {
  using Routine = void (*)(PanelCanvas&, const BurnState&);
  const struct {
    Routine routine;
    Values values;
    bool whole;
    std::vector<std::string> ops;
  } cases[] = {
      {DisplayProgressBar, {.progress = 0}, false, {"fill 10,105,10,125 red", "text 85,140 [  0]"}},
      {DisplayProgressBar,
       {.progress = 33},
       false,
       {"fill 10,105,178,125 red", "text 85,140 [ 33]"}},
      {DisplayProgressBar,
       {.progress = 100},
       false,
       {"fill 10,105,520,125 red", "text 85,140 [100]"}},
      {DisplayStatus, {.status = IDLE}, false, {"text 209,140 [Idle]"}},
      {DisplayStatus, {.status = ERASE}, false, {"text 209,140 [Erasing]"}},
      {DisplayStatus,
       {.status = 3},
       true,
       {"fill 160,140,300,160 erase", "text 160,140 [Status: ]"}},
      {DisplayElapsedTime, {.elapsed = 7}, false, {"text 270,70 [  7]"}},
      {DisplayElapsedTime, {.elapsed = 1000}, false, {"text 270,70 [1000]"}},
      {DisplayErrCounter,
       {},
       true,
       {"fill 320,140,540,160 erase", "text 320,140 [# of Error/Total Error: 0/0]"}},
  };
  for (const auto& c : cases) {
    const auto ops = Draw(c.routine, c.values);
    if (c.whole) {
      EXPECT_THAT(ops, ElementsAreArray(c.ops));
    } else {
      for (const std::string& op : c.ops) EXPECT_THAT(ops, Contains(op));
    }
  }
}

}  // namespace
}  // namespace plcburn
