#include "link/serial_link.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <string>

#include "core/utf8_text.h"
#include "link/win32_handle_link.h"

namespace plcburn {

bool SetLineFields(DCB& dcb, const LineProfile& profile) {
  dcb.BaudRate = profile.BaudRate;
  dcb.ByteSize = profile.ByteSize;
  dcb.Parity = static_cast<BYTE>(profile.parity);
  dcb.StopBits = profile.StopBits;
  dcb.fDtrControl = profile.dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = profile.rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;

  // Both dialects are binary: whatever a terminal program or "mode COMn" left on the port must
  // not touch the bytes. With XON/XOFF on, the driver swallows every 0x11 and 0x13 the PLC sends
  // (a boot-loader identifier of 0x0013 loses a byte) and stops sending after a 0x13.
  dcb.fBinary = TRUE;
  dcb.fParity = profile.parity != Parity::None;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  // DTR and RTS are held off, so a handshake on CTS or DSR would stall every write.
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  // An error would otherwise end every later transfer until ClearCommError, which nothing calls.
  dcb.fAbortOnError = FALSE;
  return true;
}

std::string SerialDevicePath(const std::string& portName) {
  if (portName.rfind("\\\\", 0) == 0) return portName;
  return "\\\\.\\" + portName;
}

OpenResult OpenSerialPort(const std::string& portName, LinkClock nowMs) {
  const HANDLE h =
      CreateFileW(WideFromUtf8(SerialDevicePath(portName)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return OpenResult{nullptr,
                      OpenFailureReason(static_cast<std::uint32_t>(GetLastError()), portName)};
  return OpenResult{std::make_unique<Win32HandleLink>(h, std::move(nowMs)), {}};
}

std::string OpenFailureReason(std::uint32_t systemError, const std::string& portName) {
  switch (systemError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return portName + " is in use by another program: close it there and try again";
    default: break;
  }
  // Anything else in the system's words, with the number to search.
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, systemError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                            words.back() == L' ' || words.back() == L'.'))
    words.pop_back();
  if (words.empty()) words = L"system error";
  return portName + ": " + Utf8FromWide(words) + " (error " + std::to_string(systemError) + ")";
}

}  // namespace plcburn
