#include "link/win32_handle_link.h"

#include <algorithm>

#include "link/serial_link.h"

namespace plcburn {

namespace {

// Windows-style total time-out, in milliseconds.
std::uint64_t TotalMs(std::uint32_t multiplier, std::uint32_t constant, std::size_t n) {
  return std::min<std::uint64_t>(std::uint64_t{multiplier} * n + constant, 0xFFFFFFFFu);
}

bool DeviceGone(DWORD err) {
  return err == ERROR_DEVICE_NOT_CONNECTED || err == ERROR_BAD_COMMAND ||
         err == ERROR_INVALID_HANDLE || err == ERROR_FILE_NOT_FOUND || err == ERROR_DEV_NOT_EXIST ||
         err == ERROR_BROKEN_PIPE || err == ERROR_NO_DATA;
}

}  // namespace

Win32HandleLink::Win32HandleLink(HANDLE handle, LinkClock nowMs)
    : handle_(handle),
      nowMs_(nowMs ? std::move(nowMs) : SteadyClockMs),
      ioDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

Win32HandleLink::~Win32HandleLink() {
  Close();
  CloseHandle(ioDone_);
  CloseHandle(stop_);
}

DWORD Win32HandleLink::Transfer(Op op, std::uint8_t* buf, std::size_t n, std::uint64_t deadline) {
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
    const std::uint64_t now = nowMs_();
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

std::size_t Win32HandleLink::Gather(Op op, std::uint8_t* buf, std::size_t n,
                                    std::uint64_t deadline) {
  std::size_t done = 0;
  while (done < n && !broken_ && !interrupted_.load()) {
    const std::uint64_t before = nowMs_();
    done += Transfer(op, buf + done, n - done, deadline);
    const std::uint64_t now = nowMs_();
    if (now >= deadline) break;
    // A driver that answers at once with nothing would otherwise make this a busy loop.
    if (done < n && now == before) WaitForSingleObject(stop_, 1);
  }
  return done;
}

std::size_t Win32HandleLink::Read(std::uint8_t* buf, std::size_t n) {
  if (handle_ == INVALID_HANDLE_VALUE) return 0;
  const std::uint64_t deadline = nowMs_() + TotalMs(timeouts_.ReadTotalTimeoutMultiplier,
                                                    timeouts_.ReadTotalTimeoutConstant, n);
  return Gather(Op::Read, buf, n, deadline);
}

std::size_t Win32HandleLink::Write(const std::uint8_t* data, std::size_t n) {
  if (handle_ == INVALID_HANDLE_VALUE) return 0;
  const std::uint64_t deadline = nowMs_() + TotalMs(timeouts_.WriteTotalTimeoutMultiplier,
                                                    timeouts_.WriteTotalTimeoutConstant, n);
  // WriteFile does not write into its buffer; the cast only shares Transfer with reads.
  return Gather(Op::Write, const_cast<std::uint8_t*>(data), n, deadline);
}

bool Win32HandleLink::SetTimeouts(const CommTimeouts& timeouts) {
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

bool Win32HandleLink::ApplyLineProfile(const LineProfile& profile) {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  DCB dcbSerialParams{};
  dcbSerialParams.DCBlength = sizeof dcbSerialParams;
  const bool read = GetCommState(handle_, &dcbSerialParams) != 0;
  SetLineFields(dcbSerialParams, profile);
  return SetCommState(handle_, &dcbSerialParams) != 0 && read;
}

void Win32HandleLink::Close() {
  const HANDLE h = handle_;
  if (h == INVALID_HANDLE_VALUE) return;
  handle_ = INVALID_HANDLE_VALUE;
  CloseHandle(h);
}

void Win32HandleLink::Interrupt() {
  interrupted_.store(true);
  SetEvent(stop_);
}

}  // namespace plcburn
