// The station window's tiles as values: what each shows, the grid they flow into, and where
// each text of a tile goes, as every front end draws them.

#include "app/panel/station_tiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plcburn {
namespace {

using S = SlotState;

Station::DeviceStatus Device(std::string name, std::size_t slot, S state, std::string note = {}) {
  Station::DeviceStatus d;
  d.device = std::move(name), d.slot = slot, d.state = state, d.note = std::move(note);
  d.progress = 42;
  return d;
}

// Each tile as "name=WORD", with "+panel" or "(message)".
std::string Summary(const std::vector<StationTile>& tiles) {
  std::string text;
  for (const auto& t : tiles)
    text += t.name + "=" + t.word + (t.showsPanel ? "+panel" : "") +
            (t.message.empty() ? "" : "(" + t.message + ")") + " ";
  return text;
}

TEST(StationTiles, OneTilePerDeviceAndPerEmptySlotInAGridThatFits) {
  const struct {
    std::vector<Station::DeviceStatus> devices;
    std::string tiles;
  } cases[] = {
      {{}, "/a*=EMPTY /b*=EMPTY USB=EMPTY "},
      {{Device("/a2", 0, S::Replug), Device("/a1", 0, S::Burning)},
       "/a1=BURNING 42%+panel /a2=REPLUG+panel /b*=EMPTY USB=EMPTY "},
      {{Device("usb:1-1.2", 2, S::Failed, "CheckID failed"), Device("/b0", 1, S::Ok, "done")},
       "/a*=EMPTY /b0=OK(done) usb:1-1.2=FAILED(CheckID failed) "},
      {{Device("/a1", 0, S::Scan), Device("/b0", 1, S::Stopped, "stopped"),
        Device("usb:1-1.2", 2, S::Refused, "no image")},
       "/a1=SCAN(scan its label) /b0=STOPPED(stopped) usb:1-1.2=REFUSED(no image) "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Summary(StationTiles({"/a*", "/b*", "USB"}, "VL", c.devices)), c.tiles);

  const struct {
    int tiles, width, height, columns, rows;
    bool readable;
  } grids[] = {
      {16, 1280, 800 - kTotalsHeight, 4, 4, true},  // a hub's worth on a small screen
      {3, 1280, 760, 2, 2, true},
      {4, 1280, 300, 4, 1, true},
      {40, 1280, 760, 7, 6, false},
  };
  for (const auto& g : grids) {
    const TileGrid grid = GridFor(g.tiles, g.width, g.height);
    EXPECT_EQ(std::pair(grid.columns, grid.rows), std::pair(g.columns, g.rows)) << g.tiles;
    EXPECT_LE(grid.columns * grid.tileWidth, g.width);
    EXPECT_LE(grid.rows * grid.tileHeight, g.height);
    EXPECT_EQ(grid.Readable(), g.readable) << g.tiles;
  }
}

// Head, word and body follow each other down the tile, inside it, and the panel's part, scaled,
// fits across and down the body.
TEST(StationTiles, TextsStackInsideTheTileAndThePanelFitsItsBody) {
  for (const Rect area : {Rect{4, 44, 636, 416}, Rect{0, 0, 300, 180}, Rect{10, 50, 1270, 790},
                          Rect{0, 0, 160, 90}}) {
    const TileLayout t = LayOutTile(area);
    const std::string at =
        std::to_string(area.right - area.left) + "x" + std::to_string(area.bottom - area.top);
    EXPECT_GE(t.head.top, area.top) << at;
    EXPECT_LE(t.head.bottom, t.word.top) << at;
    EXPECT_LE(t.word.bottom, t.body.top) << at;
    EXPECT_LE(t.body.bottom, area.bottom) << at;
    for (const Rect& r : {t.head, t.word, t.body}) {
      EXPECT_GE(r.left, area.left) << at;
      EXPECT_LE(r.right, area.right) << at;
    }
    EXPECT_GE(t.linePixels, 12) << at;
    if (t.body.bottom - t.body.top <= 0) continue;
    const double width = (kPanelPart.right - kPanelPart.left) * t.panelScale;
    const double height = (kPanelPart.bottom - kPanelPart.top) * t.panelScale;
    EXPECT_GE(t.panelLeft, t.body.left) << at;
    EXPECT_LE(t.panelLeft + width, t.body.right + 1) << at;
    EXPECT_LE(t.body.top + height, t.body.bottom + 1) << at;
  }
}

}  // namespace
}  // namespace plcburn
