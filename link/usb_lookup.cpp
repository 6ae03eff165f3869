#include "link/usb_lookup.h"

#include <cstring>
#include <string_view>

namespace plcburn {

UsbHandle UsbLookup::OpenDevice(UsbDeviceId id) {
  UsbHandle handle = kNoUsbHandle;
  const int rc = usb_.Open(id, &handle);
  if (rc == kUsbErrorAccess) accessDenied_ = true;
  return rc == kUsbOk ? handle : kNoUsbHandle;
}

UsbHandle UsbLookup::OpenOneDevice(const UsbDeviceEntry& DvcInfoData, DevNameBuf& sDevNameBuf) {
  // A path that would not fit could never be opened again by its name.
  if (DvcInfoData.path.empty() || DvcInfoData.path.size() >= kDeviceNameSize) return kNoUsbHandle;
  std::memset(sDevNameBuf, 0, kDeviceNameSize);
  std::memcpy(sDevNameBuf, DvcInfoData.path.data(), DvcInfoData.path.size());
  if (DvcInfoData.path.find(kUsbMarker) == std::string::npos) return kNoUsbHandle;
  return OpenDevice(DvcInfoData.id);
}

UsbHandle UsbLookup::OpenUsbDevice(DevNameBuf& sDevNameBuf) {
  UsbHandle result = kNoUsbHandle;
  // No device set ends the lookup with nothing found rather than walking the index.
  const auto devices = usb_.ListDevices();
  if (!devices) return result;
  for (std::uint32_t iDevIndex = 0; iDevIndex < nGuessCount; ++iDevIndex) {
    if (iDevIndex >= devices->size()) break;  // no more items
    result = OpenOneDevice((*devices)[iDevIndex], sDevNameBuf);
    if (result != kNoUsbHandle) break;
  }
  usb_.ReleaseDevices();
  return result;
}

int UsbLookup::GetUsbDeviceFileName(DevNameBuf& sDevNameBuf) {
  const UsbHandle proof = OpenUsbDevice(sDevNameBuf);
  if (proof == kNoUsbHandle) return 0;
  usb_.Close(proof);
  return 1;
}

UsbHandle UsbLookup::OpenMyDevPipe(const char* PipeName) {
  accessDenied_ = false;
  std::memset(DeviceName, 0, sizeof DeviceName);
  if (GetUsbDeviceFileName(DeviceName) == 0) return kNoUsbHandle;
  const std::size_t used = std::strlen(DeviceName);
  const std::size_t pipeLen = std::strlen(PipeName);
  if (used + 1 + pipeLen >= kDeviceNameSize) return kNoUsbHandle;
  DeviceName[used] = '\\';
  std::memcpy(DeviceName + used + 1, PipeName, pipeLen);
  return OpenByName(DeviceName);
}

UsbHandle UsbLookup::OpenByName(const char* name) {
  const std::string_view full(name);
  const std::string_view path = full.substr(0, full.find('\\'));
  if (path.empty()) return kNoUsbHandle;
  const auto devices = usb_.ListDevices();
  if (!devices) return kNoUsbHandle;
  UsbHandle result = kNoUsbHandle;
  for (const UsbDeviceEntry& device : *devices) {
    if (device.path == path) {
      result = OpenDevice(device.id);
      break;
    }
  }
  usb_.ReleaseDevices();
  return result;
}

}  // namespace plcburn
