// The slots' devices on Windows: COM ports by name or wildcard (COM5, COM*), followed through
// the configuration manager's notifications for the COM port interface; where none arrive (Wine
// may be such a place) the port list is looked at again once a second.

#include <windows.h>
// After windows.h:
#include <cfgmgr32.h>

#include <algorithm>
#include <cctype>

#include "core/port_name.h"
#include "link/port_list.h"
#include "link/slot_watch.h"

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
    changed_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CM_NOTIFY_FILTER filter{};
    filter.cbSize = sizeof filter;
    filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
    filter.u.DeviceInterface.ClassGuid = kComPortInterface;
    const HMODULE cfgmgr = UnderWine() ? nullptr : LoadLibraryA("cfgmgr32.dll");
    const auto reg = Resolve<RegisterNotification>(cfgmgr, "CM_Register_Notification");
    unregister_ = Resolve<UnregisterNotification>(cfgmgr, "CM_Unregister_Notification");
    notified_ = cfgmgr != nullptr && reg != nullptr && unregister_ != nullptr &&
                reg(&filter, this, &Win32SlotWatch::OnNotification, &notification_) == CR_SUCCESS;
  }
  ~Win32SlotWatch() override {
    if (notified_) unregister_(notification_);
    if (changed_ != nullptr) CloseHandle(changed_);
  }

  // A COM port carries no identity of its plug that the port list shows: its name stands for it.
  SlotLook Look() override {
    SlotLook look;
    const auto ports = EnumComPort();
    if (!ports) return look;
    for (std::size_t i = 0; i < slots_.size(); ++i)
      for (const std::string& port : *ports)
        if (Matches(slots_[i].c_str(), port.c_str()))
          look.devices.push_back({i, port, port, port, false});
    return look;
  }

  void WaitForChange(std::chrono::milliseconds timeout) override {
    // The port list is looked at once a second as well: a notification may never come.
    const auto ms = std::min<long long>(timeout.count(), 1000);
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
  HCMNOTIFICATION notification_ = nullptr;
  UnregisterNotification unregister_ = nullptr;
  bool notified_ = false;
};

}  // namespace

std::string SlotProblem(const std::string& slot) {
  if (slot == kUsbPort) return "slot USB: a station watches COM ports only on Windows for now";
  if (slot.size() < 4 || !Matches("COM?*", slot.c_str()))
    return "slot " + slot + ": give a COM port (COM5) or a pattern of them (COM*)";
  return {};
}

std::unique_ptr<SlotWatch> MakeSystemSlotWatch(const std::vector<std::string>& slots,
                                               std::string* error) {
  auto watch = std::make_unique<Win32SlotWatch>(slots);
  (void)error;
  return watch;
}

}  // namespace plcburn
