#pragma once
// Finding and opening the PLC's USB interface through the Setup API.
//
// The PLC is the first present interface of the USB device class whose path holds the marker
// "vid_7e3a&pid_0001" (case-sensitively) and that opens. It is opened once to prove it can be,
// closed, and opened again as its path followed by "\" and a pipe name.

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link.h"

namespace plcburn {

// The USB device interface class {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
inline constexpr GUID USB_DRIVER_GUID = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
// Upper bound of the interface index walked by the lookup (compared unsigned).
inline constexpr DWORD nGuessCount = 0x7FFFFFFF;
inline constexpr char kUsbMarker[] = "vid_7e3a&pid_0001";
inline constexpr std::size_t kDeviceNameSize = 300;
using DevNameBuf = char[kDeviceNameSize];

// The Setup API and file calls the lookup makes; tests put a table of devices behind it.
class SetupApi {
 public:
  virtual ~SetupApi() = default;
  virtual HDEVINFO GetClassDevs(const GUID* guid, DWORD flags) = 0;
  // False with the reason in *error past the last interface or when one cannot be had.
  virtual bool EnumDeviceInterfaces(HDEVINFO set, const GUID* guid, DWORD index,
                                    SP_DEVICE_INTERFACE_DATA& data, DWORD* error) = 0;
  virtual bool GetDeviceInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data,
                                        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                        DWORD* required) = 0;
  virtual void DestroyDeviceInfoList(HDEVINFO set) = 0;
  // CreateFile with read and write access, shared for both, existing only.
  virtual HANDLE Open(const char* path, DWORD flags) = 0;
  virtual void Close(HANDLE handle) = 0;
};

// The real Setup API of this machine.
SetupApi& SystemSetupApi();

class Win32UsbLookup {
 public:
  explicit Win32UsbLookup(SetupApi& api) : api_(api) {}

  HANDLE OpenOneDevice(HDEVINFO hDvcInfo, SP_DEVICE_INTERFACE_DATA& DvcInfoData,
                       DevNameBuf& sDevNameBuf);
  HANDLE OpenUsbDevice(const GUID* pGuid, DevNameBuf& sDevNameBuf);
  int GetUsbDeviceFileName(const GUID* pGuid, DevNameBuf& sDevNameBuf);
  // Opened for overlapped transfers, which Win32HandleLink needs to bound every wait.
  HANDLE OpenMyDevPipe(const char* PipeName);

  char DeviceName[kDeviceNameSize] = {};

 private:
  SetupApi& api_;
};

// OpenUsbLink through the given Setup API (the pipe name is empty).
OpenResult OpenUsbLink(SetupApi& api);

}  // namespace plcburn
