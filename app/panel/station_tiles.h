#pragma once
// What the station window shows, worked out apart from its painting: one tile per slot and
// device, the grid they flow into, where each text of a tile goes, and the totals line. No
// toolkit here, so that every front end's station window (Qt, GDI) draws the same tiles, and it
// can be tested as plain values.

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "app/panel/status_panel.h"
#include "burn/station.h"

namespace plcburn {

inline constexpr const char* kStationTitle = "Tavrion PLC Firmware Update Station";
inline constexpr int kTotalsHeight = 40;
inline constexpr int kTotalsFontPixels = 22;
inline constexpr int kTileGap = 4;

struct StationTile {
  std::string name;   // the device, or the slot while nothing is plugged into it
  std::string model;  // the model the station burns
  SlotState state = SlotState::Empty;
  std::string word;  // the big word read from across the room
  Color background = 0;
  std::string message;  // what ended the burn, for a tile that shows no panel
  bool showsPanel = false;
  Station::DeviceStatus values;  // the panel's values while it shows one
};

// The station's slots (as given) and its devices, a tile for each device and one for each slot
// with nothing in it, in the order of the slots.
std::vector<StationTile> StationTiles(const std::vector<std::string>& slots, std::string_view model,
                                      std::vector<Station::DeviceStatus> devices);

// The panel's values as the status panel's drawing reads them.
void FillPanelState(BurnState& state, const Station::DeviceStatus& values);

// Columns and rows of tiles in an area; each tile is as large as the area allows.
struct TileGrid {
  int columns = 1, rows = 1;
  int tileWidth = 0, tileHeight = 0;
  // Whether every tile is large enough to read its panel.
  bool Readable() const;
};
inline constexpr int kMinTileWidth = 300;
inline constexpr int kMinTileHeight = 180;

TileGrid GridFor(int tiles, int width, int height);

// The area of the `index`-th tile in a grid that begins `top` pixels down, the gap left around it.
Rect TileArea(const TileGrid& grid, std::size_t index, int top);

// The part of the status panel a tile shows: elapsed time, bar, percentage, phase and counters;
// the date line and the logo belong to the main window.
inline constexpr Rect kPanelPart{5, 65, 545, 165};
inline constexpr int kPanelFontPixels = 12;

// Where a tile's texts go: the name (left) and model (right) on the head line, the big word
// under them, then the panel while the burn runs, or the message that ended it. Font sizes are
// in pixels; the word's shrinks only when the word would not fit across its box.
struct TileLayout {
  Rect head;
  int linePixels = 0;
  Rect word;
  int wordPixels = 0;
  Rect body;  // empty (bottom <= top) when the tile has no room for it
  // The panel part scaled into the body, centred across it, at its top.
  double panelScale = 0;
  int panelLeft = 0;
};
TileLayout LayOutTile(const Rect& area);

// "Burned 3, failed 1 since 2026-12-07 16:40".
std::string TotalsText(const Station::Totals& totals, const std::tm& since);

}  // namespace plcburn
