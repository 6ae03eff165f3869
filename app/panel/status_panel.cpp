#include "app/panel/status_panel.h"

#include <cstdio>

namespace plcburn {

namespace {

// "%3d": at least three characters, right-aligned, so 7 and 100 end at the same x.
struct Number {
  explicit Number(std::int32_t value) { std::snprintf(text, sizeof text, "%3d", value); }
  char text[16];
};

void Draw(PanelCanvas& canvas, TextSpot at, std::string_view text) {
  canvas.DrawText(at.x, at.y, text);
}

}  // namespace

int ProgressBarRight(std::int32_t progress) {
  return kBarFrame.left + progress * 510 / 100;
}

void DisplayElapsedTime(PanelCanvas& canvas, const BurnState& state) {
  const Number seconds(state.elapsedTime.load());
  canvas.FillRect(kElapsedErase, kEraseColor);
  Draw(canvas, kElapsedLabelAt, kElapsedLabel);
  Draw(canvas, kElapsedNumberAt, seconds.text);
}

void DisplayProgressBar(PanelCanvas& canvas, const BurnState& state) {
  const std::int32_t progress = state.progress.load();
  canvas.FillRect(kBarFrame, kWhite);
  canvas.FillRect({kBarFrame.left, kBarFrame.top, ProgressBarRight(progress), kBarFrame.bottom},
                  kRed);
  canvas.FillRect(kProgressErase, kEraseColor);
  Draw(canvas, kProgressLabelAt, kProgressLabel);
  Draw(canvas, kProgressNumberAt, Number(progress).text);
}

void DisplayStatus(PanelCanvas& canvas, const BurnState& state) {
  canvas.FillRect(kStatusErase, kEraseColor);
  Draw(canvas, kStatusLabelAt, kStatusLabel);
  const std::string_view word = PhaseWord(state.flashStatus.load());
  if (!word.empty()) Draw(canvas, kPhaseAt, word);
}

void DisplayErrCounter(PanelCanvas& canvas, const BurnState& state) {
  char line[64];
  std::snprintf(line, sizeof line, "# of Error/Total Error: %d/%d", state.errCounter.load(),
                state.totalErrCounter.load());
  canvas.FillRect(kCountersErase, kEraseColor);
  Draw(canvas, kCountersAt, line);
}

void DisplayDate(PanelCanvas& canvas) {
  Draw(canvas, kDateAt, kDateLine);
}

void DisplayLogo(PanelCanvas& canvas) {
  canvas.DrawLogo(kLogoAt.x, kLogoAt.y);
}

void PaintPanel(PanelCanvas& canvas, const BurnState& state, bool withLogo) {
  DisplayElapsedTime(canvas, state);
  DisplayProgressBar(canvas, state);
  DisplayStatus(canvas, state);
  DisplayErrCounter(canvas, state);
  DisplayDate(canvas);
  if (withLogo) DisplayLogo(canvas);
}

}  // namespace plcburn
