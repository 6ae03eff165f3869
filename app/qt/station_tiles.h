#pragma once
// What the station window shows, worked out apart from its painting: one tile per slot and
// device, the grid they flow into, and the totals line. No toolkit here, so it can be tested
// as plain values.

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "app/panel/status_panel.h"
#include "burn/station.h"

namespace plcburn {

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

// "Burned 3, failed 1 since 2026-12-07 16:40".
std::string TotalsText(const Station::Totals& totals, const std::tm& since);

}  // namespace plcburn
