#include "app/win32/station_window.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "app/common/exit_status.h"
#include "app/common/station_metrics_view.h"
#include "app/common/station_options.h"
#include "app/panel/station_tiles.h"
#include "app/win32/gdi_canvas.h"
#include "app/win32/main_window.h"
#include "burn/station.h"
#include "core/catalogue.h"
#include "core/stopped_burn.h"
#include "core/utf8_text.h"
#include "core/version.h"
#include "link/slot_watch.h"
#include "link/system_opener.h"
#include "metrics/metrics_address.h"
#include "metrics/metrics_server.h"
#include "record/burn_log.h"
#include "res/builtin_image.h"

namespace plcburn::win32 {

namespace {

constexpr UINT_PTR kPaintTimer = 1;  // 100 ms: the panels' figures move between changes
// Posted from the station's threads.
constexpr UINT kStationChanged = WM_APP + 1;
constexpr UINT kStationEnded = WM_APP + 2;
constexpr std::size_t kMaxScanLength = 256;

// A font of `pixels` height made for one drawing and deleted with it.
class DrawingFont {
 public:
  DrawingFont(HDC dc, int pixels, bool bold) : dc_(dc) {
    font_ = CreateFontW(-std::max(pixels, 1), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                        FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    previous_ = SelectObject(dc_, font_);
  }
  ~DrawingFont() {
    SelectObject(dc_, previous_);
    DeleteObject(font_);
  }
  DrawingFont(const DrawingFont&) = delete;
  DrawingFont& operator=(const DrawingFont&) = delete;

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ previous_;
};

RECT ToRect(const Rect& r) {
  return {r.left, r.top, r.right, r.bottom};
}

void Text(HDC dc, const std::string& text, Rect where, UINT format) {
  const std::wstring wide = WideFromUtf8(text);
  RECT r = ToRect(where);
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, format | DT_NOPREFIX);
}

// The station's changes reach the window as posted messages; the tiles are read from the
// station's devices when it paints. What has no tile (an entry that is no device, a log that
// cannot be written) is kept as the notice shown beside the totals.
class PostingView : public StationView {
 public:
  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  void Changed(const DeviceLabel&, SlotState, std::string_view) override { Post(); }
  void Phase(const DeviceLabel&, BurnPhase) override { Post(); }
  void Message(const DeviceLabel&, std::string_view, std::string_view) override {}
  void Prompt(const DeviceLabel&, const ReconnectPrompt&) override { Post(); }
  void Result(const DeviceLabel&, const BurnRecord&) override { Post(); }
  void Misfit(const std::string& slot, const std::string& path, std::string_view why) override {
    Notice(path + " (slot " + slot + "): " + std::string(why) + "; it is left alone");
  }
  void ScanSaid(std::string_view serial, std::string_view what) override {
    Notice("Scanned " + std::string(serial) + ": " + std::string(what));
  }
  void Notice(std::string text) {
    {
      std::lock_guard lock(mutex_);
      notice_ = std::move(text);
    }
    Post();
  }
  std::string LastNotice() const {
    std::lock_guard lock(mutex_);
    return notice_;
  }

 private:
  void Post() {
    if (hwnd_ != nullptr) PostMessageW(hwnd_, kStationChanged, 0, 0);
  }

  HWND hwnd_ = nullptr;
  mutable std::mutex mutex_;
  std::string notice_;
};

struct StationApp {
  StationApp(HINSTANCE module, StationConfig config, SlotWatch& watch, StationMetrics& metrics)
      : instance(module),
        slots(config.slots),
        model(ModelAt(config.modelRow).name),
        counted(&view, &metrics),
        station(std::move(config), watch, &SystemOpenerFor, counted) {
    const std::time_t now = std::time(nullptr);
    localtime_s(&since, &now);
  }

  bool Burning() const {
    const auto tiles = StationTiles(slots, model, station.Devices());
    return std::any_of(tiles.begin(), tiles.end(), [](const StationTile& t) {
      return t.state == SlotState::Burning || t.state == SlotState::Replug;
    });
  }

  HINSTANCE instance;
  HWND hwnd = nullptr;
  const std::vector<std::string> slots;
  const std::string model;
  std::tm since{};
  std::wstring typed;  // a scan being typed
  bool closing = false;
  PostingView view;
  StationMetricsView counted;  // the figures, then the window
  Station station;
  std::thread runner;
};

void PaintPanelPart(StationApp& a, HDC dc, const StationTile& tile, const TileLayout& layout) {
  BurnState state;
  FillPanelState(state, tile.values);
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, layout.body.left, layout.body.top, layout.body.right, layout.body.bottom);
  SetGraphicsMode(dc, GM_ADVANCED);
  const auto scale = static_cast<FLOAT>(layout.panelScale);
  const XFORM place{scale,
                    0,
                    0,
                    scale,
                    static_cast<FLOAT>(layout.panelLeft - kPanelPart.left * layout.panelScale),
                    static_cast<FLOAT>(layout.body.top - kPanelPart.top * layout.panelScale)};
  SetWorldTransform(dc, &place);
  {
    DrawingFont font(dc, kPanelFontPixels, false);
    GdiCanvas canvas(dc, a.instance, tile.background);
    PaintPanel(canvas, state, false);
  }
  RestoreDC(dc, saved);
}

void PaintTile(StationApp& a, HDC dc, const StationTile& tile, const Rect& area) {
  const RECT whole = ToRect(area);
  const HBRUSH brush = CreateSolidBrush(tile.background);
  FillRect(dc, &whole, brush);
  DeleteObject(brush);

  const TileLayout layout = LayOutTile(area);
  {
    DrawingFont bold(dc, layout.linePixels, true);
    Rect name = layout.head;
    name.right = name.left + (layout.head.right - layout.head.left) * 3 / 4;
    Text(dc, tile.name, name, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_PATH_ELLIPSIS);
  }
  {
    DrawingFont plain(dc, layout.linePixels, false);
    Text(dc, tile.model, layout.head, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
  }
  {
    // As large as the tile allows, shrunk only when the word would not fit across it.
    const std::wstring word = WideFromUtf8(tile.word);
    const int room = layout.word.right - layout.word.left;
    int pixels = layout.wordPixels;
    {
      DrawingFont measured(dc, pixels, true);
      SIZE size{};
      GetTextExtentPoint32W(dc, word.c_str(), static_cast<int>(word.size()), &size);
      if (size.cx > room) pixels = std::max(1, pixels * room / static_cast<int>(size.cx));
    }
    DrawingFont big(dc, pixels, true);
    Text(dc, tile.word, layout.word, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  if (layout.body.bottom <= layout.body.top || layout.body.right <= layout.body.left) return;
  if (tile.showsPanel) return PaintPanelPart(a, dc, tile, layout);
  DrawingFont plain(dc, layout.linePixels, false);
  Rect body = layout.body;
  body.left += 4;
  body.right -= 4;
  Text(dc, tile.message, body, DT_CENTER | DT_TOP | DT_WORDBREAK);
}

// Drawn off screen and copied at once, so the tiles do not flicker at every repaint.
void Paint(StationApp& a, HDC target) {
  RECT client{};
  GetClientRect(a.hwnd, &client);
  const int width = client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0) return;
  const HDC dc = CreateCompatibleDC(target);
  const HBITMAP surface = CreateCompatibleBitmap(target, width, height);
  const HGDIOBJ previous = SelectObject(dc, surface);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  {
    DrawingFont totals(dc, kTotalsFontPixels, true);
    Text(dc, TotalsText(a.station.CurrentTotals(), a.since), {10, 0, width - 10, kTotalsHeight},
         DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  }
  if (const std::string notice = a.view.LastNotice(); !notice.empty()) {
    DrawingFont plain(dc, kTotalsFontPixels * 2 / 3, false);
    Text(dc, notice, {width / 2, 0, width - 10, kTotalsHeight},
         DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  }
  const std::vector<StationTile> tiles = StationTiles(a.slots, a.model, a.station.Devices());
  const TileGrid grid = GridFor(static_cast<int>(tiles.size()), width, height - kTotalsHeight);
  for (std::size_t i = 0; i < tiles.size(); ++i)
    PaintTile(a, dc, tiles[i], TileArea(grid, i, kTotalsHeight));
  BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
  SelectObject(dc, previous);
  DeleteObject(surface);
  DeleteDC(dc);
}

// Quitting mid-burn can leave half-written PLCs, so it is asked first, as the main window does.
// The window goes once the station has ended every burn, with its record.
void Close(StationApp& a) {
  if (a.closing) return;
  if (a.Burning() && MessageBoxW(a.hwnd, WideFromUtf8(kStopBurnQuestion).c_str(),
                                 WideFromUtf8(kStopBurnCaption).c_str(),
                                 MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
    return;
  a.closing = true;
  a.station.Stop();
}

void Scanned(StationApp& a, wchar_t key) {
  if (key == L'\r' || key == L'\n') {
    if (!a.typed.empty()) a.station.Scanned(Utf8FromWide(a.typed));
    a.typed.clear();
  } else if (key >= L' ' && a.typed.size() < kMaxScanLength) {
    a.typed += key;
  }
}

LRESULT CALLBACK StationProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* a = reinterpret_cast<StationApp*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (a == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
    case kStationChanged:
    case WM_SIZE: InvalidateRect(hwnd, nullptr, FALSE); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC dc = BeginPaint(hwnd, &ps);
      Paint(*a, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_GETMINMAXINFO: {
      RECT frame{0, 0, kMinTileWidth, kTotalsHeight + kMinTileHeight};
      AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = {frame.right - frame.left, frame.bottom - frame.top};
      return 0;
    }
    case WM_CHAR: Scanned(*a, static_cast<wchar_t>(wParam)); return 0;
    case WM_CLOSE: Close(*a); return 0;
    case kStationEnded:
      if (a->runner.joinable()) a->runner.join();
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd, kPaintTimer);
      PostQuitMessage(0);
      return 0;
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

// A usage error goes to standard error where the program has one (started from a console), else
// to a message box.
void Tell(const std::string& text) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) {
    const std::string line = "plcburn: " + text;
    DWORD written = 0;
    if (WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) return;
  }
  MessageBoxW(nullptr, WideFromUtf8(text).c_str(), L"ERROR", MB_OK | MB_ICONERROR);
}

}  // namespace

int RunStationWindow(HINSTANCE instance, const std::vector<std::string>& args, int show) {
  const ParsedStation parsed = ParseStationArgs(args, ModelFromImageName(BuiltinImageName()));
  if (!parsed.setup) {
    Tell(parsed.error + "\n" + kStationUsage);
    return kExitUsage;
  }
  const StationSetup& setup = *parsed.setup;
  // The figures are served from before the first burn, so a scrape sees the station at once.
  StationMetrics metrics(
      {std::string(kVersion), {{setup.facts.imageName, setup.facts.imageSha256}}});
  for (const std::string& slot : setup.options.watch) metrics.AddSlot(slot);
  MetricsServer server(metrics);
  if (!setup.metrics.empty() && !server.Start(*ParseMetricsAddress(setup.metrics).address)) {
    Tell("--metrics " + setup.metrics + ": " + server.Error() + "\n");
    return kExitFailed;
  }
  std::string error;
  const std::unique_ptr<SlotWatch> watch = MakeSystemSlotWatch(setup.options.watch, &error);
  if (!watch) {
    Tell(error + "\n");
    return kExitFailed;
  }
  // The log's warnings are shown once the window is there to show them.
  StationApp* shown = nullptr;
  std::optional<BurnLog> log;
  if (!setup.options.noLog) {
    log.emplace(setup.options.log.empty() ? DefaultBurnLogPath() : PathFromUtf8(setup.options.log),
                [&shown](const std::string& warning) {
                  if (shown != nullptr) shown->view.Notice(warning);
                });
  }
  if (log) metrics.CountRecordsLostFrom([&log] { return log->Lost(); });
  StationApp a(instance,
               StationConfigFrom(setup.options, setup.modelRow, setup.Image(), setup.facts,
                                 log ? &*log : nullptr),
               *watch, metrics);
  shown = &a;

  WNDCLASSEXW wincl{};
  wincl.cbSize = sizeof wincl;
  wincl.lpfnWndProc = StationProcedure;
  wincl.hInstance = instance;
  wincl.lpszClassName = kStationClassName;
  wincl.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  wincl.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  wincl.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  if (!RegisterClassExW(&wincl)) return kExitFailed;
  // 1280 x 800 where the screen has room for it, else the whole of the screen's work area.
  RECT work{0, 0, 1280, 800};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  a.hwnd = CreateWindowExW(
      0, kStationClassName, WideFromUtf8(kStationTitle).c_str(), WS_OVERLAPPEDWINDOW, work.left,
      work.top, std::min<LONG>(1280, work.right - work.left),
      std::min<LONG>(800, work.bottom - work.top), HWND_DESKTOP, nullptr, instance, &a);
  if (a.hwnd == nullptr) return kExitFailed;
  a.view.Attach(a.hwnd);
  SetTimer(a.hwnd, kPaintTimer, 100, nullptr);
  a.runner = std::thread([&a] {
    a.station.Run();
    PostMessageW(a.hwnd, kStationEnded, 0, 0);
  });
  ShowWindow(a.hwnd, show);

  MSG messages;
  while (GetMessageW(&messages, nullptr, 0, 0) > 0) {
    TranslateMessage(&messages);
    DispatchMessageW(&messages);
  }
  // Ended some other way than by closing (the session ends): the burns end as stopped.
  a.station.Stop();
  if (a.runner.joinable()) a.runner.join();
  shown = nullptr;
  return kExitSuccess;
}

}  // namespace plcburn::win32
