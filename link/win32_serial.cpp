#include "link/win32_serial.h"

#include <algorithm>

namespace plcburn {

namespace {

// Windows-style total time-out from now, in GetTickCount64 milliseconds.
ULONGLONG DeadlineFor(std::uint32_t multiplier, std::uint32_t constant, std::size_t n) {
  const std::uint64_t ms =
      std::min<std::uint64_t>(std::uint64_t{multiplier} * n + constant, 0xFFFFFFFFu);
  return GetTickCount64() + ms;
}

bool DeviceGone(DWORD err) {
  return err == ERROR_DEVICE_NOT_CONNECTED || err == ERROR_BAD_COMMAND ||
         err == ERROR_INVALID_HANDLE || err == ERROR_FILE_NOT_FOUND ||
         err == ERROR_DEV_NOT_EXIST || err == ERROR_BROKEN_PIPE || err == ERROR_NO_DATA;
}

}  // namespace

Win32SerialLink::Win32SerialLink(HANDLE handle)
    : handle_(handle),
      ioDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

Win32SerialLink::~Win32SerialLink() {
  Close();
  CloseHandle(ioDone_);
  CloseHandle(stop_);
}

DWORD Win32SerialLink::Transfer(Op op, std::uint8_t* buf, std::size_t n, ULONGLONG deadline) {
  OVERLAPPED ov{};
  ov.hEvent = ioDone_;
  ResetEvent(ioDone_);
  const DWORD count = static_cast<DWORD>(std::min<std::size_t>(n, 0x7FFFFFFF));
  const BOOL started = op == Op::Read ? ReadFile(handle_, buf, count, nullptr, &ov)
                                      : WriteFile(handle_, buf, count, nullptr, &ov);
  if (!started) {
    const DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
      if (DeviceGone(err)) broken_ = true;
      return 0;
    }
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const HANDLE waits[2] = {ioDone_, stop_};
    if (WaitForMultipleObjects(2, waits, FALSE, left) != WAIT_OBJECT_0) CancelIoEx(handle_, &ov);
  }
  DWORD moved = 0;
  // Waits for a cancelled transfer to settle; what it moved before that still counts.
  if (!GetOverlappedResult(handle_, &ov, &moved, TRUE)) {
    const DWORD err = GetLastError();
    if (DeviceGone(err)) broken_ = true;
    moved = static_cast<DWORD>(ov.InternalHigh);
  }
  return moved;
}

std::size_t Win32SerialLink::Gather(Op op, std::uint8_t* buf, std::size_t n, ULONGLONG deadline) {
  std::size_t done = 0;
  while (done < n && !broken_ && !interrupted_.load()) {
    const ULONGLONG before = GetTickCount64();
    done += Transfer(op, buf + done, n - done, deadline);
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    // A driver that answers at once with nothing would otherwise make this a busy loop.
    if (done < n && now == before) WaitForSingleObject(stop_, 1);
  }
  return done;
}

std::size_t Win32SerialLink::Read(std::uint8_t* buf, std::size_t n) {
  if (handle_ == INVALID_HANDLE_VALUE) return 0;
  const ULONGLONG deadline =
      DeadlineFor(timeouts_.ReadTotalTimeoutMultiplier, timeouts_.ReadTotalTimeoutConstant, n);
  return Gather(Op::Read, buf, n, deadline);
}

std::size_t Win32SerialLink::Write(const std::uint8_t* data, std::size_t n) {
  if (handle_ == INVALID_HANDLE_VALUE) return 0;
  const ULONGLONG deadline =
      DeadlineFor(timeouts_.WriteTotalTimeoutMultiplier, timeouts_.WriteTotalTimeoutConstant, n);
  // WriteFile does not write into its buffer; the cast only shares Transfer with reads.
  return Gather(Op::Write, const_cast<std::uint8_t*>(data), n, deadline);
}

bool Win32SerialLink::SetTimeouts(const CommTimeouts& timeouts) {
  timeouts_ = timeouts;
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
  t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
  t.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
  t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
  t.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
  return SetCommTimeouts(handle_, &t) != 0;
}

bool Win32SerialLink::ApplyLineProfile(const LineProfile& profile) {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  DCB dcbSerialParams{};
  dcbSerialParams.DCBlength = sizeof dcbSerialParams;
  const bool read = GetCommState(handle_, &dcbSerialParams) != 0;
  SetLineFields(dcbSerialParams, profile);
  return SetCommState(handle_, &dcbSerialParams) != 0 && read;
}

void SetLineFields(DCB& dcb, const LineProfile& profile) {
  dcb.BaudRate = profile.BaudRate;
  dcb.ByteSize = profile.ByteSize;
  dcb.Parity = static_cast<BYTE>(profile.parity);
  dcb.StopBits = profile.StopBits;
  dcb.fDtrControl = profile.dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = profile.rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
}

void Win32SerialLink::Close() {
  const HANDLE h = handle_;
  if (h == INVALID_HANDLE_VALUE) return;
  handle_ = INVALID_HANDLE_VALUE;
  CloseHandle(h);
}

void Win32SerialLink::Interrupt() {
  interrupted_.store(true);
  SetEvent(stop_);
}

std::string ComDevicePath(const std::string& portName) {
  if (portName.rfind("\\\\", 0) == 0) return portName;
  return "\\\\.\\" + portName;
}

OpenResult OpenComPort(const std::string& portName) {
  const HANDLE h = CreateFileA(ComDevicePath(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return OpenResult{nullptr, OpenFailureReason(GetLastError(), portName)};
  return OpenResult{std::make_unique<Win32SerialLink>(h), {}};
}

std::string OpenFailureReason(DWORD err, const std::string& portName) {
  switch (err) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return portName + " is in use by another program: close it there and try again";
    default:
      return {};
  }
}

}  // namespace plcburn
