// Drives the running window program from outside, as an operator would, for the window test.
//
//   ui_driver wait-window MS    the window appeared; prints its state (see PrintState)
//   ui_driver state             prints the state
//   ui_driver click-start       clicks "Start Burn"
//   ui_driver command ID        sends the window the command ID (as the keyboard handling can)
//   ui_driver key enter|escape  presses the key where the program has its keyboard focus
//   ui_driver answer MS ID      waits for a message box of the program, prints
//                               "CAPTION: TEXT" and closes it with the button ID (1 OK, 6 Yes)
//   ui_driver wait-box MS       waits for a message box, prints "CAPTION: TEXT" and then
//                               "box LEFT TOP RIGHT BOTTOM" (screen), and leaves it open
//   ui_driver no-box MS         fails if a message box shows within MS
//   ui_driver close             asks the window to close
//   ui_driver wait-gone MS      the window is gone; prints how long that took
//
// With --station first, the verbs drive the station window (plcburn --station) instead.
//
// Exit status 0 on success, 1 on a time-out or a check that failed, 2 for a usage error.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* windowClass = "WindowsApp";

HWND MainWindow() {
  return FindWindowA(windowClass, nullptr);
}

// WM_GETTEXT itself: GetWindowText does not ask a window of another process.
std::string TextOf(HWND hwnd) {
  char text[512] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 5000, &ignored);
  return text;
}

HWND Control(HWND main, int id) {
  return GetDlgItem(main, id);
}

// The model list, the port list and the button, and where the client area and the whole window
// (its frame included) are on the screen.
void PrintState(HWND main) {
  POINT origin{0, 0};
  ClientToScreen(main, &origin);
  RECT frame{};
  GetWindowRect(main, &frame);
  const HWND model = Control(main, 8), port = Control(main, 7), start = Control(main, 2);
  std::printf("client %ld %ld\n", origin.x, origin.y);
  std::printf("window %ld %ld %ld %ld\n", frame.left, frame.top, frame.right, frame.bottom);
  std::printf("model %s %s\n", TextOf(model).c_str(),
              IsWindowEnabled(model) ? "enabled" : "disabled");
  std::printf("port %s\n", TextOf(port).c_str());
  std::printf("ports %s\n", IsWindowEnabled(port) ? "enabled" : "disabled");
  std::printf("start %s %s\n", TextOf(start).c_str(),
              IsWindowEnabled(start) ? "enabled" : "disabled");
  std::fflush(stdout);
}

struct BoxSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (std::string(cls) == "#32770" && IsWindowVisible(hwnd) &&
      GetWindow(hwnd, GW_OWNER) == search->owner) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND MessageBoxOf(HWND main) {
  BoxSearch search{main, nullptr};
  EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK LongestStatic(HWND hwnd, LPARAM param) {
  auto* text = reinterpret_cast<std::string*>(param);
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  const std::string t = TextOf(hwnd);
  if (_stricmp(cls, "Static") == 0 && t.size() > text->size()) *text = t;
  return TRUE;
}

// A key press as the program's message loop receives it: posted to the window with its keyboard
// focus (the main window when none has it).
void PressKey(HWND main, WPARAM key) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  HWND target = main;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) && info.hwndFocus)
    target = info.hwndFocus;
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(key), 0)) << 16;
  PostMessageA(target, WM_KEYDOWN, key, scan | 1);
  PostMessageA(target, WM_KEYUP, key, scan | 1 | (LPARAM{3} << 30));
}

template <typename Check>
bool WaitFor(DWORD ms, Check check) {
  const ULONGLONG end = GetTickCount64() + ms;
  do {
    if (check()) return true;
    Sleep(20);
  } while (GetTickCount64() < end);
  return check();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--station") {
    windowClass = "PlcburnStation";
    --argc;
    ++argv;
  }
  if (argc < 2) return 2;
  const std::string verb = argv[1];
  const DWORD ms = argc > 2 ? static_cast<DWORD>(std::atoi(argv[2])) : 0;
  HWND main = nullptr;
  if (verb == "wait-window") {
    if (!WaitFor(ms, [&] { return (main = MainWindow()) != nullptr && IsWindowVisible(main); }))
      return 1;
    PrintState(main);
    return 0;
  }
  if (verb == "wait-gone") {
    const ULONGLONG start = GetTickCount64();
    if (!WaitFor(ms, [] { return MainWindow() == nullptr; })) return 1;
    std::printf("gone after %llu ms\n", GetTickCount64() - start);
    return 0;
  }
  main = MainWindow();
  if (main == nullptr) {
    std::printf("no window\n");
    return 1;
  }
  if (verb == "state") {
    PrintState(main);
  } else if (verb == "click-start") {
    SendMessageA(Control(main, 2), BM_CLICK, 0, 0);
  } else if (verb == "command" && argc > 2) {
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(std::atoi(argv[2]), 0), 0);
  } else if (verb == "key" && argc > 2) {
    const std::string key = argv[2];
    if (key != "enter" && key != "escape") return 2;
    PressKey(main, key == "enter" ? VK_RETURN : VK_ESCAPE);
  } else if ((verb == "answer" && argc > 3) || verb == "wait-box") {
    HWND box = nullptr;
    // A box of a thread that has not pumped its messages for a while (a burn's worker) does not
    // answer WM_GETTEXT until its modal loop runs: it is there once its caption can be read.
    if (!WaitFor(ms,
                 [&] { return (box = MessageBoxOf(main)) != nullptr && !TextOf(box).empty(); })) {
      std::printf("no message box\n");
      return 1;
    }
    std::string text;
    EnumChildWindows(box, LongestStatic, reinterpret_cast<LPARAM>(&text));
    std::printf("%s: %s\n", TextOf(box).c_str(), text.c_str());
    if (verb == "wait-box") {
      RECT r{};
      GetWindowRect(box, &r);
      std::printf("box %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
      std::fflush(stdout);
      return 0;
    }
    std::fflush(stdout);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), BN_CLICKED), 0);
  } else if (verb == "no-box") {
    if (WaitFor(ms, [&] { return MessageBoxOf(main) != nullptr; })) {
      std::printf("unexpected message box\n");
      return 1;
    }
  } else if (verb == "close") {
    PostMessageA(main, WM_CLOSE, 0, 0);
  } else {
    return 2;
  }
  return 0;
}
