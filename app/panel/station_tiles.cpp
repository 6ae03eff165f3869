#include "app/panel/station_tiles.h"

#include <algorithm>
#include <cstdio>

namespace plcburn {

namespace {

// 0x00BBGGRR, as the panel's colours.
constexpr Color kEmptyGrey = 0x00B4B4B4;
constexpr Color kBurningWhite = 0x00F4F4F4;
constexpr Color kReplugAmber = 0x0000BFFF;
constexpr Color kOkGreen = 0x0050B040;
constexpr Color kFailedRed = 0x003C3CD8;

StationTile TileFor(const Station::DeviceStatus& d, std::string_view model) {
  StationTile tile;
  tile.name = d.serial.empty() ? d.device : d.device + "  " + d.serial;
  tile.model = model;
  tile.state = d.state;
  tile.values = d;
  switch (d.state) {
    case SlotState::Empty:
      tile.word = "EMPTY";
      tile.background = kEmptyGrey;
      break;
    case SlotState::Scan:
      tile.word = "SCAN";
      tile.background = kReplugAmber;
      tile.message = "scan its label";
      break;
    case SlotState::Burning:
      tile.word = "BURNING " + std::to_string(std::clamp(d.progress, 0, 100)) + "%";
      tile.background = kBurningWhite;
      tile.showsPanel = true;
      break;
    case SlotState::Replug:
      tile.word = "REPLUG";
      tile.background = kReplugAmber;
      tile.showsPanel = true;
      break;
    case SlotState::Ok:
      tile.word = "OK";
      tile.background = kOkGreen;
      tile.message = d.note;
      break;
    case SlotState::Failed:
      tile.word = "FAILED";
      tile.background = kFailedRed;
      tile.message = d.note;
      break;
    // A stopped PLC is left half done and must be burned again; a refused one is untouched.
    case SlotState::Stopped:
      tile.word = "STOPPED";
      tile.background = kFailedRed;
      tile.message = d.note;
      break;
    case SlotState::Refused:
      tile.word = "REFUSED";
      tile.background = kReplugAmber;
      tile.message = d.note;
      break;
  }
  return tile;
}

}  // namespace

std::vector<StationTile> StationTiles(const std::vector<std::string>& slots, std::string_view model,
                                      std::vector<Station::DeviceStatus> devices) {
  std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
    return a.slot != b.slot ? a.slot < b.slot : a.device < b.device;
  });
  std::vector<StationTile> tiles;
  auto next = devices.begin();
  for (std::size_t slot = 0; slot < slots.size(); ++slot) {
    if (next == devices.end() || next->slot != slot) {
      Station::DeviceStatus empty;
      empty.device = slots[slot];
      empty.slot = slot;
      tiles.push_back(TileFor(empty, model));
      continue;
    }
    for (; next != devices.end() && next->slot == slot; ++next)
      tiles.push_back(TileFor(*next, model));
  }
  return tiles;
}

void FillPanelState(BurnState& state, const Station::DeviceStatus& values) {
  state.flashStatus = values.flashStatus;
  state.progress = values.progress;
  state.errCounter = values.errCounter;
  state.totalErrCounter = values.totalErrCounter;
  state.elapsedTime = values.elapsedTime;
}

bool TileGrid::Readable() const {
  return tileWidth >= kMinTileWidth && tileHeight >= kMinTileHeight;
}

// The column count whose tiles keep the most of their natural shape: the smaller of the two
// scales to the minimum tile is what limits how well a tile reads.
TileGrid GridFor(int tiles, int width, int height) {
  TileGrid best;
  best.tileWidth = width;
  best.tileHeight = height;
  double bestScale = -1;
  const int count = std::max(tiles, 1);
  for (int columns = 1; columns <= count; ++columns) {
    const int rows = (count + columns - 1) / columns;
    const int w = width / columns;
    const int h = height / rows;
    const double scale =
        std::min(static_cast<double>(w) / kMinTileWidth, static_cast<double>(h) / kMinTileHeight);
    if (scale > bestScale) {
      bestScale = scale;
      best = {columns, rows, w, h};
    }
  }
  return best;
}

Rect TileArea(const TileGrid& grid, std::size_t index, int top) {
  const int column = static_cast<int>(index) % grid.columns;
  const int row = static_cast<int>(index) / grid.columns;
  const int left = column * grid.tileWidth;
  const int cellTop = top + row * grid.tileHeight;
  return {left + kTileGap, cellTop + kTileGap, left + grid.tileWidth - kTileGap,
          cellTop + grid.tileHeight - kTileGap};
}

TileLayout LayOutTile(const Rect& area) {
  TileLayout t;
  const int height = area.bottom - area.top;
  t.linePixels = std::clamp(height / 9, 12, 24);
  t.head = {area.left + 8, area.top + 4, area.right - 8, area.top + 4 + t.linePixels + 6};
  t.wordPixels = std::clamp(height / 4, 20, 120);
  t.word = {area.left + 8, t.head.bottom + 2, area.right - 8, t.head.bottom + 2 + t.wordPixels + 8};
  t.body = {area.left + 4, t.word.bottom + 2, area.right - 4, area.bottom - 4};
  const int bodyWidth = t.body.right - t.body.left;
  const int bodyHeight = t.body.bottom - t.body.top;
  if (bodyWidth > 0 && bodyHeight > 0) {
    constexpr int partWidth = kPanelPart.right - kPanelPart.left;
    constexpr int partHeight = kPanelPart.bottom - kPanelPart.top;
    t.panelScale = std::min(static_cast<double>(bodyWidth) / partWidth,
                            static_cast<double>(bodyHeight) / partHeight);
    t.panelLeft = t.body.left + static_cast<int>((bodyWidth - partWidth * t.panelScale) / 2);
  }
  return t;
}

std::string TotalsText(const Station::Totals& totals, const std::tm& since) {
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &since);
  std::string text =
      "Burned " + std::to_string(totals.burned) + ", failed " + std::to_string(totals.failed);
  if (totals.stopped > 0) text += ", stopped " + std::to_string(totals.stopped);
  if (totals.refused > 0) text += ", refused " + std::to_string(totals.refused);
  return text + " since " + when;
}

}  // namespace plcburn
