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
#include <string_view>
#include <vector>

#include "link/link.h"
#include "link/usb_ids.h"

namespace plcburn {

// The USB device interface class {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
inline constexpr GUID USB_DRIVER_GUID = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
// Upper bound of the interface index walked by the lookup (compared unsigned).
inline constexpr DWORD nGuessCount = 0x7FFFFFFF;
inline constexpr std::size_t kDeviceNameSize = 300;
using DevNameBuf = char[kDeviceNameSize];

// What Windows says of the device behind an interface: where it is plugged, and when it last
// arrived (empty where the system does not keep it). Text as UTF-8.
struct UsbDeviceFacts {
  std::string locationInformation;         // "Port_#0002.Hub_#0003"
  std::vector<std::string> locationPaths;  // "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)", ...
  std::string lastArrival;
};

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
  virtual UsbDeviceFacts DeviceFacts(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) = 0;
  // CreateFile with read and write access, shared for both, existing only.
  virtual HANDLE Open(const char* path, DWORD flags) = 0;
  virtual void Close(HANDLE handle) = 0;
};

// The real Setup API of this machine.
SetupApi& SystemSetupApi();

// A PLC present on the USB interface class: its place ("usb:Port_#0002.Hub_#0003", empty when
// Windows tells none), its interface path, and which plug of it this is.
struct UsbPlc {
  std::string place;
  std::string path;
  std::string instance;
};

class Win32UsbLookup {
 public:
  explicit Win32UsbLookup(SetupApi& api) : api_(api) {}

  HANDLE OpenOneDevice(HDEVINFO hDvcInfo, SP_DEVICE_INTERFACE_DATA& DvcInfoData,
                       DevNameBuf& sDevNameBuf);
  HANDLE OpenUsbDevice(const GUID* pGuid, DevNameBuf& sDevNameBuf);
  int GetUsbDeviceFileName(const GUID* pGuid, DevNameBuf& sDevNameBuf);
  // Opened for overlapped transfers, which Win32HandleLink needs to bound every wait.
  HANDLE OpenMyDevPipe(const char* PipeName);

  // Every present interface whose path holds the marker, in enumeration order.
  std::vector<UsbPlc> ListPlcs();
  // The PLC at `place` alone, opened as its path and "\" for overlapped transfers; another PLC
  // is never taken in its stead. Failing, `error` says why: ERROR_FILE_NOT_FOUND when no PLC is
  // there, else the open's error.
  HANDLE OpenAt(std::string_view place, DWORD* error = nullptr);

  char DeviceName[kDeviceNameSize] = {};

 private:
  // The interface's device path into `path`; false when it cannot be read or is too long.
  bool ReadPath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data, DevNameBuf& path);

  SetupApi& api_;
};

// OpenUsbLink through the given Setup API (the pipe name is empty); with a `place`, only the
// PLC plugged there.
OpenResult OpenUsbLink(SetupApi& api, std::string_view place = {});

}  // namespace plcburn
