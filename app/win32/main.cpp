// plcburn for Windows: the window program.

#include "app/win32/main_window.h"

int WINAPI WinMain(HINSTANCE hThisInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*lpszArgument*/,
                   int nFunsterStil) {
  return plcburn::win32::RunMainWindow(hThisInstance, nFunsterStil);
}
