#include "link/win32_usb.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "core/utf8_text.h"
#include "link/serial_link.h"
#include "link/usb_open.h"
#include "link/usb_place.h"
#include "link/win32_handle_link.h"

namespace plcburn {

namespace {

// DEVPKEY_Device_LastArrivalDate (Windows 8 on): when the device was last plugged in.
constexpr DEVPROPKEY kLastArrivalDate = {
    {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}}, 102};

// A device's string or multi-string property; empty when it has none.
std::vector<std::string> StringsOf(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  std::vector<wchar_t> buffer(1024, L'\0');
  // Two terminators kept inside the buffer, so that even a cut list ends.
  if (!SetupDiGetDeviceRegistryPropertyW(
          set, &device, property, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
          static_cast<DWORD>((buffer.size() - 2) * sizeof(wchar_t)), nullptr))
    return {};
  std::vector<std::string> strings;
  for (const wchar_t* at = buffer.data(); *at != L'\0'; at += std::wcslen(at) + 1)
    strings.push_back(Utf8FromWide(at));
  return strings;
}

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
  UsbDeviceFacts DeviceFacts(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) override {
    UsbDeviceFacts facts;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    std::vector<DWORD> storage(required / sizeof(DWORD) + 2);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (required == 0 ||
        !SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, &device))
      return facts;
    if (auto info = StringsOf(set, device, SPDRP_LOCATION_INFORMATION); !info.empty())
      facts.locationInformation = info.front();
    facts.locationPaths = StringsOf(set, device, SPDRP_LOCATION_PATHS);
    FILETIME arrived{};
    DEVPROPTYPE type = 0;
    if (SetupDiGetDevicePropertyW(set, &device, &kLastArrivalDate, &type,
                                  reinterpret_cast<BYTE*>(&arrived), sizeof arrived, nullptr, 0) &&
        type == DEVPROP_TYPE_FILETIME)
      facts.lastArrival = std::to_string(
          (static_cast<std::uint64_t>(arrived.dwHighDateTime) << 32) | arrived.dwLowDateTime);
    return facts;
  }
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

bool Win32UsbLookup::ReadPath(HDEVINFO hDvcInfo, SP_DEVICE_INTERFACE_DATA& DvcInfoData,
                              DevNameBuf& sDevNameBuf) {
  DWORD required = 0;
  api_.GetDeviceInterfaceDetail(hDvcInfo, DvcInfoData, nullptr, 0, &required);
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return false;
  // Kept aligned for the record's DWORD header.
  std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD) + 1);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  // The fixed header size: 5 on 32-bit builds, 8 on 64-bit ones.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!api_.GetDeviceInterfaceDetail(hDvcInfo, DvcInfoData, detail, required, nullptr))
    return false;
  const std::size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  const std::size_t length = strnlen(detail->DevicePath, room);
  // A path that leaves no room for "\" and the terminator cannot name a pipe.
  if (length + 2 > kDeviceNameSize) return false;
  std::memcpy(sDevNameBuf, detail->DevicePath, length);
  sDevNameBuf[length] = '\0';
  return true;
}

HANDLE Win32UsbLookup::OpenOneDevice(HDEVINFO hDvcInfo, SP_DEVICE_INTERFACE_DATA& DvcInfoData,
                                     DevNameBuf& sDevNameBuf) {
  if (!ReadPath(hDvcInfo, DvcInfoData, sDevNameBuf)) return INVALID_HANDLE_VALUE;
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

std::vector<UsbPlc> Win32UsbLookup::ListPlcs() {
  std::vector<UsbPlc> plcs;
  const HDEVINFO set = api_.GetClassDevs(&USB_DRIVER_GUID, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return plcs;
  for (DWORD index = 0; index < nGuessCount; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    DWORD error = 0;
    if (!api_.EnumDeviceInterfaces(set, &USB_DRIVER_GUID, index, data, &error)) {
      if (error == ERROR_NO_MORE_ITEMS) break;
      continue;
    }
    DevNameBuf path = {};
    if (!ReadPath(set, data, path) || std::strstr(path, kUsbMarker) == nullptr) continue;
    const UsbDeviceFacts facts = api_.DeviceFacts(set, data);
    // Without its arrival time, the path stands for the plug: a re-plug shows only as a gap.
    std::string instance = path;
    if (!facts.lastArrival.empty()) instance += "@" + facts.lastArrival;
    plcs.push_back({UsbPlaceName(facts.locationInformation, facts.locationPaths).value_or(""), path,
                    std::move(instance)});
  }
  api_.DestroyDeviceInfoList(set);
  return plcs;
}

HANDLE Win32UsbLookup::OpenAt(std::string_view place, DWORD* error) {
  for (const UsbPlc& plc : ListPlcs()) {
    if (plc.place != place) continue;
    std::memset(DeviceName, 0, sizeof DeviceName);
    std::memcpy(DeviceName, plc.path.data(), plc.path.size());
    DeviceName[plc.path.size()] = '\\';
    const HANDLE h = api_.Open(DeviceName, FILE_FLAG_OVERLAPPED);
    if (h == INVALID_HANDLE_VALUE && error != nullptr) *error = GetLastError();
    return h;
  }
  if (error != nullptr) *error = ERROR_FILE_NOT_FOUND;
  return INVALID_HANDLE_VALUE;
}

OpenResult OpenUsbLink(SetupApi& api, std::string_view place) {
  Win32UsbLookup lookup(api);
  DWORD error = 0;
  const HANDLE h = place.empty() ? lookup.OpenMyDevPipe("") : lookup.OpenAt(place, &error);
  if (h == INVALID_HANDLE_VALUE && place.empty()) return OpenResult{};
  // A station's PLC is opened where it was seen: say why it could not be.
  if (h == INVALID_HANDLE_VALUE) {
    const std::string at(place);
    return OpenResult{nullptr, error == ERROR_FILE_NOT_FOUND ? "no PLC at " + at + " any more"
                                                             : OpenFailureReason(error, at)};
  }
  return OpenResult{std::make_unique<Win32HandleLink>(h), {}};
}

OpenResult OpenUsbLink() {
  return OpenUsbLink(SystemSetupApi());
}

OpenResult OpenUsbLinkAt(std::string_view place) {
  return OpenUsbLink(SystemSetupApi(), place);
}

}  // namespace plcburn
