#pragma once
// The status panel: elapsed seconds, progress bar and percentage, phase word, error counters,
// date line and logo, drawn from the shared burn state. Each front end supplies a canvas (Qt's
// QPainter, Windows' GDI); the layout and texts live here once for all of them.

#include <cstdint>
#include <string_view>

#include "core/burn_state.h"

namespace plcburn {

// Client pixels; right and bottom are exclusive.
struct Rect {
  int left, top, right, bottom;
  bool operator==(const Rect&) const = default;
};

// 0x00BBGGRR, as a Windows COLORREF.
using Color = std::uint32_t;
inline constexpr Color kWhite = 0x00FFFFFF;
inline constexpr Color kRed = 0x000000FF;
// Not an RGB value: the canvas fills with its window's background colour.
inline constexpr Color kEraseColor = 0xFF000000;

inline constexpr int kLogoWidth = 87;
inline constexpr int kLogoHeight = 28;

class PanelCanvas {
 public:
  virtual ~PanelCanvas() = default;
  virtual void FillRect(const Rect& rect, Color color) = 0;
  // Transparent background, default font and text colour; x, y is the text's top-left corner.
  virtual void DrawText(int x, int y, std::string_view text) = 0;
  // The logo scaled to kLogoWidth x kLogoHeight, its top-left corner at x, y.
  virtual void DrawLogo(int x, int y) = 0;
};

// Where each text goes. A number is drawn over the blank stretch of its label.
struct TextSpot {
  int x, y;
};
inline constexpr std::string_view kElapsedLabel = "Elapsed Time:              sec";
inline constexpr TextSpot kElapsedLabelAt{160, 70}, kElapsedNumberAt{270, 70};
inline constexpr Rect kElapsedErase{160, 70, 335, 90};

inline constexpr Rect kBarFrame{10, 105, 520, 125};
inline constexpr std::string_view kProgressLabel = "Progress:            %";
inline constexpr TextSpot kProgressLabelAt{10, 140}, kProgressNumberAt{85, 140};
inline constexpr Rect kProgressErase{10, 140, 130, 160};

inline constexpr std::string_view kStatusLabel = "Status: ";
inline constexpr TextSpot kStatusLabelAt{160, 140}, kPhaseAt{209, 140};
inline constexpr Rect kStatusErase{160, 140, 300, 160};

inline constexpr TextSpot kCountersAt{320, 140};
inline constexpr Rect kCountersErase{320, 140, 540, 160};

inline constexpr std::string_view kDateLine = "Date: 2017/8/28";
inline constexpr TextSpot kDateAt{300, 25};
inline constexpr TextSpot kLogoAt{435, 15};

// The red bar's right edge for a percentage: 10 at 0, 520 at 100.
int ProgressBarRight(std::int32_t progress);

void DisplayElapsedTime(PanelCanvas& canvas, const BurnState& state);
void DisplayProgressBar(PanelCanvas& canvas, const BurnState& state);
void DisplayStatus(PanelCanvas& canvas, const BurnState& state);
void DisplayErrCounter(PanelCanvas& canvas, const BurnState& state);
void DisplayDate(PanelCanvas& canvas);
void DisplayLogo(PanelCanvas& canvas);

// The whole panel: elapsed time, progress bar, status, error counters, date, then the logo.
void PaintPanel(PanelCanvas& canvas, const BurnState& state, bool withLogo);

}  // namespace plcburn
