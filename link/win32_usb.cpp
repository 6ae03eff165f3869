#include "link/win32_usb.h"

#include <cstring>
#include <memory>
#include <vector>

#include "link/usb_open.h"
#include "link/win32_handle_link.h"

namespace plcburn {

namespace {

class RealSetupApi : public SetupApi {
 public:
  HDEVINFO GetClassDevs(const GUID* guid, DWORD flags) override {
    return SetupDiGetClassDevsA(guid, nullptr, nullptr, flags);
  }
  bool EnumDeviceInterfaces(HDEVINFO set, const GUID* guid, DWORD index,
                            SP_DEVICE_INTERFACE_DATA& data, DWORD* error) override {
    if (SetupDiEnumDeviceInterfaces(set, nullptr, guid, index, &data)) return true;
    *error = GetLastError();
    return false;
  }
  bool GetDeviceInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data,
                                SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                DWORD* required) override {
    return SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, required, nullptr) != 0;
  }
  void DestroyDeviceInfoList(HDEVINFO set) override { SetupDiDestroyDeviceInfoList(set); }
  HANDLE Open(const char* path, DWORD flags) override {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
  }
  void Close(HANDLE handle) override { CloseHandle(handle); }
};

}  // namespace

SetupApi& SystemSetupApi() {
  static RealSetupApi api;
  return api;
}

HANDLE Win32UsbLookup::OpenOneDevice(HDEVINFO hDvcInfo, SP_DEVICE_INTERFACE_DATA& DvcInfoData,
                                     DevNameBuf& sDevNameBuf) {
  DWORD required = 0;
  api_.GetDeviceInterfaceDetail(hDvcInfo, DvcInfoData, nullptr, 0, &required);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return INVALID_HANDLE_VALUE;
  // Kept aligned for the record's DWORD header.
  std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD) + 1);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  // The fixed header size: 5 on 32-bit builds, 8 on 64-bit ones.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!api_.GetDeviceInterfaceDetail(hDvcInfo, DvcInfoData, detail, required, nullptr))
    return INVALID_HANDLE_VALUE;
  const std::size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  const std::size_t length = strnlen(detail->DevicePath, room);
  // A path that leaves no room for "\" and the terminator cannot name a pipe.
  if (length + 2 > kDeviceNameSize) return INVALID_HANDLE_VALUE;
  std::memcpy(sDevNameBuf, detail->DevicePath, length);
  sDevNameBuf[length] = '\0';
  if (std::strstr(sDevNameBuf, kUsbMarker) == nullptr) return INVALID_HANDLE_VALUE;
  return api_.Open(sDevNameBuf, 0);
}

HANDLE Win32UsbLookup::OpenUsbDevice(const GUID* pGuid, DevNameBuf& sDevNameBuf) {
  HANDLE hOut = INVALID_HANDLE_VALUE;
  const HDEVINFO hDvcInfo = api_.GetClassDevs(pGuid, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  // Without a set there is nothing to walk.
  if (hDvcInfo == INVALID_HANDLE_VALUE) return hOut;
  for (DWORD iDevIndex = 0; iDevIndex < nGuessCount; ++iDevIndex) {
    SP_DEVICE_INTERFACE_DATA DvcInfoData{};
    DvcInfoData.cbSize = sizeof DvcInfoData;
    DWORD error = 0;
    if (api_.EnumDeviceInterfaces(hDvcInfo, pGuid, iDevIndex, DvcInfoData, &error)) {
      hOut = OpenOneDevice(hDvcInfo, DvcInfoData, sDevNameBuf);
      if (hOut != INVALID_HANDLE_VALUE) break;
    } else if (error == ERROR_NO_MORE_ITEMS) {
      break;
    }
  }
  api_.DestroyDeviceInfoList(hDvcInfo);
  return hOut;
}

int Win32UsbLookup::GetUsbDeviceFileName(const GUID* pGuid, DevNameBuf& sDevNameBuf) {
  const HANDLE h = OpenUsbDevice(pGuid, sDevNameBuf);
  if (h == INVALID_HANDLE_VALUE) return 0;
  api_.Close(h);
  return 1;
}

HANDLE Win32UsbLookup::OpenMyDevPipe(const char* PipeName) {
  std::memset(DeviceName, 0, sizeof DeviceName);
  if (!GetUsbDeviceFileName(&USB_DRIVER_GUID, DeviceName)) return INVALID_HANDLE_VALUE;
  const std::size_t used = std::strlen(DeviceName);
  if (used + 1 + std::strlen(PipeName) >= kDeviceNameSize) return INVALID_HANDLE_VALUE;
  DeviceName[used] = '\\';
  std::strcpy(DeviceName + used + 1, PipeName);
  return api_.Open(DeviceName, FILE_FLAG_OVERLAPPED);
}

OpenResult OpenUsbLink(SetupApi& api) {
  Win32UsbLookup lookup(api);
  const HANDLE h = lookup.OpenMyDevPipe("");
  if (h == INVALID_HANDLE_VALUE) return OpenResult{};
  return OpenResult{std::make_unique<Win32HandleLink>(h), {}};
}

OpenResult OpenUsbLink() {
  return OpenUsbLink(SystemSetupApi());
}

// The device paths carry no socket here: the first PLC found is the one.
OpenResult OpenUsbLinkAt(std::string_view) {
  return OpenUsbLink();
}

}  // namespace plcburn
