#pragma once
// The program's one window: model list (fixed by the build), port list, "Start Burn" and the
// status panel; a burn runs on a worker thread and reports through message boxes.

// clang-format off
#include <windows.h>
// clang-format on

namespace plcburn::win32 {

inline constexpr char szClassName[] = "WindowsApp";
inline constexpr char kWindowTitle[] = "Tavrion PLC Firmware Update Program";
inline constexpr char kStartText[] = "Start Burn";

// Command identifiers; a command's identifier is the low 8 bits of wParam.
inline constexpr int kChooseFileCommand = IDOK;  // Enter while the focus is not on a button
// The same number as IDCANCEL, which the keyboard handling sends for Escape: the window tells
// the two apart by the key (see the message loop).
inline constexpr int kStartButtonId = 2;
inline constexpr int kPortListId = 7;
inline constexpr int kModelListId = 8;

inline constexpr UINT_PTR kPanelTimer = 6;  // 100 ms, always

inline constexpr int kIconResource = 1;

// Registers the class, builds the window, runs the message loop; the quit code, or 0 when the
// class cannot be registered.
int RunMainWindow(HINSTANCE hThisInstance, int nFunsterStil);

}  // namespace plcburn::win32
