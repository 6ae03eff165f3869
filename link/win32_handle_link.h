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

class Win32HandleLink : public Link {
 public:
  // Takes ownership of `handle`, which must have been opened with FILE_FLAG_OVERLAPPED.
  explicit Win32HandleLink(HANDLE handle, LinkClock nowMs = {});
  ~Win32HandleLink() override;
  Win32HandleLink(const Win32HandleLink&) = delete;
  Win32HandleLink& operator=(const Win32HandleLink&) = delete;

  std::size_t Write(const std::uint8_t* data, std::size_t n) override;
  std::size_t Read(std::uint8_t* buf, std::size_t n) override;
  bool SetTimeouts(const CommTimeouts& timeouts) override;
  bool ApplyLineProfile(const LineProfile& profile) override;
  void Close() override;
  void Interrupt() override;

 private:
  enum class Op { Read, Write };
  // One overlapped transfer, waited for until `deadline` (on the link's clock) or Interrupt.
  DWORD Transfer(Op op, std::uint8_t* buf, std::size_t n, std::uint64_t deadline);
  std::size_t Gather(Op op, std::uint8_t* buf, std::size_t n, std::uint64_t deadline);

  HANDLE handle_;
  LinkClock nowMs_;
  const HANDLE ioDone_;  // manual-reset event of the transfer in progress
  const HANDLE stop_;    // manual-reset event set by Interrupt, never cleared
  std::atomic<bool> interrupted_{false};
  bool broken_ = false;  // the device is gone: nothing more can move
  CommTimeouts timeouts_ = StepTimeouts(3000);
};

}  // namespace plcburn
