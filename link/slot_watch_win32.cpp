// The slots' devices on Windows: COM ports by name or wildcard (COM5, COM*), and on the USB slot
// each PLC's USB interface, named by the hub and port it is plugged into. Both are followed
// through the configuration manager's notifications for their interface classes; where none
// arrive (Wine may be such a place) the devices are looked at again once a second.

#include <windows.h>
// After windows.h:
#include <cfgmgr32.h>

#include <algorithm>
#include <cctype>
#include <optional>

#include "core/port_name.h"
#include "link/port_list.h"
#include "link/slot_watch.h"
#include "link/win32_usb.h"

namespace plcburn {

namespace {

// The COM port device interface class (ntddser.h's GUID_DEVINTERFACE_COMPORT).
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// "*" and "?" as in a file name pattern, without regard to case.
bool Matches(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*')
    return Matches(pattern + 1, name) || (*name != '\0' && Matches(pattern, name + 1));
  return *name != '\0' && (*pattern == '?' || Upper(*pattern) == Upper(*name)) &&
         Matches(pattern + 1, name + 1);
}

// cfgmgr32 has the notifications since Windows 8. Wine exports them as stubs that end the
// process when called, so there the port list is only looked at.
using RegisterNotification = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK,
                                                PHCMNOTIFICATION);
using UnregisterNotification = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

template <typename Function>
Function Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class Win32SlotWatch final : public SlotWatch {
 public:
  explicit Win32SlotWatch(std::vector<std::string> slots) : slots_(std::move(slots)) {
    changed_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const bool usb = std::find(slots_.begin(), slots_.end(), kUsbPort) != slots_.end();
    com_ = std::any_of(slots_.begin(), slots_.end(),
                       [](const std::string& slot) { return slot != kUsbPort; });
    const HMODULE cfgmgr = UnderWine() ? nullptr : LoadLibraryW(L"cfgmgr32.dll");
    if (cfgmgr == nullptr) return;
    const auto reg = Resolve<RegisterNotification>(cfgmgr, "CM_Register_Notification");
    unregister_ = Resolve<UnregisterNotification>(cfgmgr, "CM_Unregister_Notification");
    if (reg == nullptr || unregister_ == nullptr) return;
    notified_ = true;
    for (const auto& [wanted, guid] :
         {std::pair{com_, kComPortInterface}, {usb, USB_DRIVER_GUID}}) {
      if (!wanted) continue;
      CM_NOTIFY_FILTER filter{};
      filter.cbSize = sizeof filter;
      filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
      filter.u.DeviceInterface.ClassGuid = guid;
      HCMNOTIFICATION notification = nullptr;
      if (reg(&filter, this, &Win32SlotWatch::OnNotification, &notification) == CR_SUCCESS)
        notifications_.push_back(notification);
      else
        notified_ = false;
    }
  }
  ~Win32SlotWatch() override {
    for (const HCMNOTIFICATION notification : notifications_) unregister_(notification);
    if (changed_ != nullptr) CloseHandle(changed_);
  }

  // A COM port carries no identity of its plug that the port list shows: its name stands for it.
  // A USB PLC is named by its place; its plug, by when it last arrived.
  SlotLook Look() override {
    SlotLook look;
    std::optional<std::vector<std::string>> ports;
    if (com_) ports = EnumComPort();
    std::vector<UsbPlc> plcs;
    if (std::find(slots_.begin(), slots_.end(), kUsbPort) != slots_.end()) {
      Win32UsbLookup lookup(SystemSetupApi());
      plcs = lookup.ListPlcs();
    }
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] == kUsbPort) {
        for (const UsbPlc& plc : plcs) {
          if (plc.place.empty())
            look.misfits.push_back({i, plc.path, "Windows tells no USB hub and port for it"});
          else
            look.devices.push_back({i, plc.place, plc.place, plc.instance, true});
        }
        continue;
      }
      if (!ports) continue;
      for (const std::string& port : *ports)
        if (Matches(slots_[i].c_str(), port.c_str()))
          look.devices.push_back({i, port, port, port, false});
    }
    return look;
  }

  void WaitForChange(std::chrono::milliseconds timeout) override {
    // Without notifications the devices are looked at once a second; so are COM ports, since not
    // every serial driver registers the COM port interface.
    const auto ms =
        notified_ && !com_ ? timeout.count() : std::min<long long>(timeout.count(), 1000);
    WaitForSingleObject(changed_, static_cast<DWORD>(ms));
  }

  void Wake() override { SetEvent(changed_); }

 private:
  static DWORD CALLBACK OnNotification(HCMNOTIFICATION, PVOID self, CM_NOTIFY_ACTION,
                                       PCM_NOTIFY_EVENT_DATA, DWORD) {
    static_cast<Win32SlotWatch*>(self)->Wake();
    return ERROR_SUCCESS;
  }

  const std::vector<std::string> slots_;
  HANDLE changed_ = nullptr;
  std::vector<HCMNOTIFICATION> notifications_;
  UnregisterNotification unregister_ = nullptr;
  bool notified_ = false;
  bool com_ = false;
};

}  // namespace

std::string SlotProblem(const std::string& slot) {
  if (slot == kUsbPort) return {};
  if (slot.size() < 4 || !Matches("COM?*", slot.c_str()))
    return "slot " + slot + ": give a COM port (COM5) or a pattern of them (COM*), or USB";
  return {};
}

std::unique_ptr<SlotWatch> MakeSystemSlotWatch(const std::vector<std::string>& slots,
                                               std::string* error) {
  auto watch = std::make_unique<Win32SlotWatch>(slots);
  (void)error;
  return watch;
}

}  // namespace plcburn
