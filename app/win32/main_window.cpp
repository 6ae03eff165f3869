#include "app/win32/main_window.h"

#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "app/win32/gdi_canvas.h"
#include "burn/burn_unit.h"
#include "core/burn_state.h"
#include "core/catalogue.h"
#include "core/port_name.h"
#include "core/stopped_burn.h"
#include "core/utf8_text.h"
#include "link/port_list.h"
#include "link/system_opener.h"
#include "record/burn_log.h"
#include "record/host_name.h"
#include "res/builtin_image.h"
#include "res/resource_image.h"

namespace plcburn::win32 {

namespace {

struct ParamStruct {
  HWND hwnd = nullptr;
  HWND lParam = nullptr;  // the window that sent "Start Burn": the button
};

// Everything the window and the burn worker share. Heap-held and left alone if the program
// quits while a worker is still inside a step, so the worker never touches freed memory.
struct App {
  HINSTANCE instance = nullptr;
  HWND hwnd = nullptr;
  HWND hComPortList = nullptr;
  int totalComPort = 0;
  int ComSelidx = 0;

  SystemLinkOpener opener;
  ParamStruct paramStruct;
  // Every burn's record goes to the burn log; a log that cannot be written only warns.
  BurnLog log{DefaultBurnLogPath()};

  // Found, loaded and locked afresh for each burn; StartBurn releases it on every way out.
  std::optional<ResourceImage> image;
  std::unique_ptr<Operator> ui;
  std::unique_ptr<BurnUnit> burn;     // made once the operator is
  std::atomic<bool> quitting{false};  // no more message boxes from the worker
  // Escape is being handled: the IDCANCEL it turns into is not the Start command.
  bool escapeKey = false;

  // The file chooser's state. The chosen file is measured but never burned: every burn writes
  // the built-in image.
  int isFileChosed = 0;
  // Wide, so that a file in a folder of any name is chosen as it is.
  wchar_t szFile[MAX_PATH] = {};
  wchar_t previousFileName[MAX_PATH] = {};
  DWORD fileLength = 0;
};

App* app = nullptr;

class WindowOperator : public Operator {
 public:
  explicit WindowOperator(App& a) : a_(a) {}

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override {
    if (a_.quitting.load()) return;
    const UINT style = MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    // Wide: a message may hold a path or a reason in any language.
    MessageBoxW(a_.paramStruct.hwnd, WideFromUtf8(text).c_str(), WideFromUtf8(caption).c_str(),
                style);
  }
  // The port list goes with the button: a port chosen mid-burn would show one the burn is not
  // using.
  void SetStartEnabled(bool enabled) override {
    EnableWindow(a_.paramStruct.lParam, enabled);
    EnableWindow(a_.hComPortList, enabled);
  }
  // The runner keeps the seconds and stops them.

 private:
  App& a_;
};

std::string ListText(HWND list, LRESULT index) {
  const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::strlen(text.c_str()));
  return text;
}

void ClearListedPorts(App& a) {
  for (; a.totalComPort > 0; --a.totalComPort) SendMessageA(a.hComPortList, CB_DELETESTRING, 0, 0);
}

void EnumComPort(App& a) {
  const auto ports = plcburn::EnumComPort();
  if (!ports) return;  // no device set: the list stays as it was
  ClearListedPorts(a);
  for (const std::string& port : *ports) {
    SendMessageA(a.hComPortList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port.c_str()));
    ++a.totalComPort;
  }
}

void EnumUSBPort(App& a) {
  ClearListedPorts(a);
  SendMessageA(a.hComPortList, CB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(std::string(kUsbPort).c_str()));
  SendMessageA(a.hComPortList, CB_SETCURSEL, 0, 0);
  a.totalComPort = 1;
}

// The model of this build, shown as the list's selected entry.
void SelectDefaultModel(App& a, HWND hPLCList) {
  a.burn->Chosen().SelectModel(ModelFromImageName(BuiltinImageName()));
  const std::string selectedPLC(a.burn->Chosen().Model().name);
  const LRESULT k = SendMessageA(hPLCList, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(selectedPLC.c_str()));
  SendMessageA(hPLCList, CB_SETCURSEL, k == CB_ERR ? 0 : k, 0);
}

void ChoosePort(App& a, HWND list) {
  a.ComSelidx = static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0));
  a.burn->Chosen().SetComPort(ListText(list, a.ComSelidx));
}

void ChooseFile(App& a, HWND hwnd) {
  if (a.isFileChosed) std::memcpy(a.previousFileName, a.szFile, sizeof a.szFile);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd;
  a.szFile[0] = L'\0';
  ofn.lpstrFile = a.szFile;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrFilter = L"Binary File (*.bin)\0*.bin\0All (*.*)\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (GetOpenFileNameW(&ofn)) {
    const HANDLE file = CreateFileW(a.szFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    a.fileLength = file == INVALID_HANDLE_VALUE ? INVALID_FILE_SIZE : GetFileSize(file, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    a.isFileChosed = 1;
  } else if (a.isFileChosed) {
    std::memcpy(a.szFile, a.previousFileName, sizeof a.szFile);
  }
}

void StartBurnCommand(App& a, HWND hwnd, HWND sender) {
  // The keyboard handling can deliver the command while the button is disabled: ignored, as the
  // disabled button shows the operator already.
  if (a.burn->Running()) return;
  a.burn->Wait();  // the last burn has ended: returns at once
  a.isFileChosed = 1;
  // A command sent without its sender still has the burn disable the button.
  a.paramStruct = ParamStruct{hwnd, sender != nullptr ? sender : GetDlgItem(hwnd, kStartButtonId)};
  EnableWindow(a.hComPortList, FALSE);  // at once, as the worker's disabling comes later
  a.image.reset();
  a.image.emplace();
  a.burn->Start(a.opener, *a.image);
}

void Paint(App& a, HDC hDC, bool withLogo) {
  GdiCanvas canvas(hDC, a.instance);
  PaintPanel(canvas, a.burn->State(), withLogo);
}

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  App& a = *app;
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC hDC = BeginPaint(hwnd, &ps);
      Paint(a, hDC, false);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kPanelTimer) {
        a.burn->ShowElapsed();
        const HDC hDC = GetDC(hwnd);
        Paint(a, hDC, true);
        ReleaseDC(hwnd, hDC);
      }
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wParam) & 0xFF;
      const int code = HIWORD(wParam);
      const auto sender = reinterpret_cast<HWND>(lParam);
      if (code == CBN_SELCHANGE && id == kPortListId) {
        ChoosePort(a, sender);
      } else if (code == 0 && id == kChooseFileCommand) {
        ChooseFile(a, hwnd);
      } else if (code == 0 && id == kStartButtonId && !a.escapeKey) {
        StartBurnCommand(a, hwnd, sender);
      }
      return 0;
    }
    case WM_CLOSE:
      if (a.burn->Running()) {
        if (MessageBoxA(hwnd, std::string(kStopBurnQuestion).c_str(),
                        std::string(kStopBurnCaption).c_str(),
                        MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
          return 0;
        }
        a.quitting.store(true);
        a.burn->Stop();
      }
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

HWND CreateChild(App& a, const char* cls, const char* text, DWORD style, int x, int y, int w, int h,
                 int id) {
  return CreateWindowExA(0, cls, text, style, x, y, w, h, a.hwnd,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), a.instance, nullptr);
}

// A cancelled burn fails each step at once; past a second the process ends without it.
bool WaitForWorker(App& a, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (a.burn->Running() && GetTickCount64() < end) Sleep(10);
  return !a.burn->Running();
}

}  // namespace

int RunMainWindow(HINSTANCE hThisInstance, int nFunsterStil) {
  app = new App;
  App& a = *app;
  a.instance = hThisInstance;
  a.ui = std::make_unique<WindowOperator>(a);
  a.burn = std::make_unique<BurnUnit>(
      ModelFromImageName(BuiltinImageName()), *a.ui, a.log,
      RecordFacts{HostName(), std::string(BuiltinImageName()), std::string(BuiltinImageSha256())});

  WNDCLASSEXA wincl{};
  wincl.cbSize = sizeof wincl;
  wincl.style = CS_DBLCLKS;
  wincl.lpfnWndProc = WindowProcedure;
  wincl.hInstance = hThisInstance;
  wincl.lpszClassName = szClassName;
  wincl.hIcon = LoadIconA(hThisInstance, MAKEINTRESOURCEA(kIconResource));
  wincl.hIconSm = LoadIconA(hThisInstance, MAKEINTRESOURCEA(kIconResource));
  wincl.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wincl.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1));
  if (!RegisterClassExA(&wincl)) return 0;

  a.hwnd = CreateWindowExA(0, szClassName, kWindowTitle, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                           CW_USEDEFAULT, CW_USEDEFAULT, 544, 205, HWND_DESKTOP, nullptr,
                           hThisInstance, nullptr);
  CreateChild(a, "BUTTON", kStartText, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 10,
              60, 100, 30, kStartButtonId);
  const HWND hPLCList =
      CreateChild(a, "COMBOBOX", "",
                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST |
                      CBS_AUTOHSCROLL | CBS_SORT | CBS_HASSTRINGS,
                  10, 20, 100, 200, kModelListId);
  for (const auto& name : plcList)
    SendMessageA(hPLCList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  SelectDefaultModel(a, hPLCList);
  EnableWindow(hPLCList, FALSE);

  a.hComPortList = CreateChild(a, "COMBOBOX", "",
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST |
                                   CBS_SORT | CBS_HASSTRINGS,
                               160, 20, 100, 200, kPortListId);
  if (a.burn->Chosen().Model().IsUsb()) {
    EnumUSBPort(a);
  } else {
    EnumComPort(a);
  }
  SendMessageA(a.hComPortList, CB_SETCURSEL, 0, 0);
  const LRESULT first = SendMessageA(a.hComPortList, CB_GETCURSEL, 0, 0);
  if (first != CB_ERR) a.burn->Chosen().SetComPort(ListText(a.hComPortList, first));

  SetTimer(a.hwnd, kPanelTimer, 100, nullptr);
  ShowWindow(a.hwnd, nFunsterStil);

  MSG messages;
  while (GetMessageA(&messages, nullptr, 0, 0) > 0) {
    // The keyboard handling turns Escape into IDCANCEL, which is 2, the Start command: Escape
    // must never start a firmware update.
    a.escapeKey = messages.message == WM_KEYDOWN && messages.wParam == VK_ESCAPE;
    const bool handled = IsDialogMessageA(a.hwnd, &messages);
    a.escapeKey = false;
    if (!handled) {
      TranslateMessage(&messages);
      DispatchMessageA(&messages);
    }
  }
  // A worker still inside a step keeps the App: the process ends without it.
  if (!WaitForWorker(a, 1000)) return static_cast<int>(messages.wParam);
  delete app;
  app = nullptr;
  return static_cast<int>(messages.wParam);
}

}  // namespace plcburn::win32
