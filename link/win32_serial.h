#pragma once
// A link over a Windows file handle: a COM port, or the PLC's USB interface, which its driver
// serves with the same ReadFile/WriteFile calls.
//
// Reads and writes are overlapped and waited for here, so each one ends at its deadline and at
// once on Interrupt, whatever the driver does with the time-outs: many drivers complete a read
// as soon as any byte is there, and a USB driver may ignore COMMTIMEOUTS altogether.

// clang-format off
#include <windows.h>
// clang-format on

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link.h"

namespace plcburn {

class Win32SerialLink : public Link {
 public:
  // Takes ownership of `handle`, which must have been opened with FILE_FLAG_OVERLAPPED.
  explicit Win32SerialLink(HANDLE handle);
  ~Win32SerialLink() override;
  Win32SerialLink(const Win32SerialLink&) = delete;
  Win32SerialLink& operator=(const Win32SerialLink&) = delete;

  std::size_t Write(const std::uint8_t* data, std::size_t n) override;
  std::size_t Read(std::uint8_t* buf, std::size_t n) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  bool ApplyLineProfile(const LineProfile& profile) override;
  void Close() override;
  void Interrupt() override;

 private:
  enum class Op { Read, Write };
  // One overlapped transfer, waited for until `deadline` (GetTickCount64) or Interrupt.
  DWORD Transfer(Op op, std::uint8_t* buf, std::size_t n, ULONGLONG deadline);
  std::size_t Gather(Op op, std::uint8_t* buf, std::size_t n, ULONGLONG deadline);

  HANDLE handle_;
  const HANDLE ioDone_;  // manual-reset event of the transfer in progress
  const HANDLE stop_;    // manual-reset event set by Interrupt, never cleared
  std::atomic<bool> interrupted_{false};
  bool broken_ = false;  // the device is gone: nothing more can move
  CommTimeouts timeouts_ = StepTimeouts(3000);
};

// "COM12" opens as "\\.\COM12": the plain name only reaches COM1 to COM9. A name that already
// starts with "\\" is taken as given.
std::string ComDevicePath(const std::string& portName);

// Opens a COM port exclusively. No line profile or time-out is applied yet.
OpenResult OpenComPort(const std::string& portName);

// Writes the profile's speed, data bits, parity, stop bits and the DTR/RTS control into `dcb`,
// leaving every other field as the port had it.
void SetLineFields(DCB& dcb, const LineProfile& profile);

// The hint shown under the open failure for the Win32 error `err`, or "" when there is nothing
// to add.
std::string OpenFailureReason(DWORD err, const std::string& portName);

}  // namespace plcburn
