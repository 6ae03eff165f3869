#include "app/cli/windows_service.h"

#include <windows.h>
// After windows.h:
#include <knownfolders.h>
#include <shlobj.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "app/cli/station_conf.h"
#include "app/common/exit_status.h"
#include "core/utf8_text.h"

namespace plcburn {

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
std::mutex statusMutex;
SERVICE_STATUS status{};
HANDLE logFile = INVALID_HANDLE_VALUE;
HANDLE stopEvent = nullptr;  // the station's stop, set by the service's

std::string LastError() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

// What the Service Control Manager is told: the state, and once stopped, why.
void Report(DWORD state, int exitStatus = 0, DWORD waitHint = 0) {
  std::lock_guard lock(statusMutex);
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  // Stopped by the stop it was asked for, or as plcburn-cli ends otherwise.
  const bool clean = exitStatus == kExitSuccess || exitStatus == ExitForSignal(SIGTERM);
  status.dwWin32ExitCode = clean ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  status.dwServiceSpecificExitCode = clean ? 0 : static_cast<DWORD>(exitStatus);
  status.dwWaitHint = waitHint;
  const bool settled = state == SERVICE_RUNNING || state == SERVICE_STOPPED;
  status.dwCheckPoint = settled ? 0 : status.dwCheckPoint + 1;
  SetServiceStatus(statusHandle, &status);
}

// %ProgramData%\plcburn, asked of the system rather than of the environment, which a service
// may be given without it.
std::filesystem::path DataFolder() {
  std::filesystem::path root = L"C:\\ProgramData";
  PWSTR known = nullptr;
  if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known) == S_OK) root = known;
  CoTaskMemFree(known);
  return root / L"plcburn";
}

// A line of the service's own in its log, with the time.
void Say(const std::string& text) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  const std::string line = std::string(when) + " plcburn station: " + text + "\r\n";
  DWORD written = 0;
  WriteFile(logFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// One argument as CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes double only before a quote, which is escaped itself.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// plcburn-cli --watch as the service's child: its output into the log, its stop through the
// event. Its exit status, once it has ended.
int RunStation(const std::vector<std::string>& args) {
  wchar_t self[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    Say("cannot tell where plcburn-cli is: " + LastError());
    return kExitFailed;
  }
  std::wstring command = Quoted(self);
  for (const std::string& arg : args) command += L" " + Quoted(WideFromUtf8(arg));
  const std::wstring eventName = L"plcburn-station-stop-" + std::to_wstring(GetCurrentProcessId());
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  if (stopEvent == nullptr || !SetEnvironmentVariableW(L"PLCBURN_STOP_EVENT", eventName.c_str())) {
    Say("cannot make the station's stop: " + LastError());
    return kExitFailed;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = logFile;
  startup.hStdError = logFile;
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &child)) {
    Say("cannot start plcburn-cli: " + LastError());
    return kExitFailed;
  }
  CloseHandle(child.hThread);
  Report(SERVICE_RUNNING);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD exitCode = kExitFailed;
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hProcess);
  return static_cast<int>(exitCode);
}

int RunStationService(const std::filesystem::path& folder) {
  const std::filesystem::path conf = folder / L"station.conf";
  std::ifstream in(conf, std::ios::binary);
  if (!in) {
    Say("cannot read " + Utf8FromPath(conf) + ": write it (see docs/station.md), then start the " +
        "service again");
    return kServiceNoSettings;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const StationConfArgs parsed = StationConfToArgs(text, Utf8FromPath(folder / L"burns.jsonl"));
  if (!parsed.error.empty()) {
    Say(parsed.error + "; the service stops until it is edited");
    return kExitUsage;
  }
  std::string command = "plcburn-cli";
  for (const std::string& arg : parsed.args) command += " " + arg;
  Say("starts: " + command);
  const int exitStatus = RunStation(parsed.args);
  Say("ended with status " + std::to_string(exitStatus));
  return exitStatus;
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING, 0, 10000);
      Say("asked to stop: running burns end as stopped, with their records");
      if (stopEvent != nullptr) SetEvent(stopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, Control, nullptr);
  if (statusHandle == nullptr) return;
  Report(SERVICE_START_PENDING, 0, 5000);
  const std::filesystem::path folder = DataFolder();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  // Inherited by the station, whose output goes there too.
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  logFile = CreateFileW((folder / L"service.log").c_str(), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  // Without its log the service has nowhere to say why it would stop: it does not start.
  if (logFile == INVALID_HANDLE_VALUE) return Report(SERVICE_STOPPED, kExitFailed);
  Report(SERVICE_STOPPED, RunStationService(folder));
}

// The service's handle, with the manager's, closed when done.
struct ServiceHandles {
  SC_HANDLE manager = nullptr;
  SC_HANDLE service = nullptr;
  ~ServiceHandles() {
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
  }
};

int Failed(const char* what) {
  std::fprintf(stderr, "plcburn-cli: %s: %s\n", what, LastError().c_str());
  if (GetLastError() == ERROR_ACCESS_DENIED)
    std::fprintf(stderr, "plcburn-cli: run it as an administrator\n");
  return kExitFailed;
}

}  // namespace

int RunService() {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), ServiceMain},
                                  {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherW(table)) {
    std::lock_guard lock(statusMutex);
    return status.dwWin32ExitCode == NO_ERROR ? kExitSuccess
                                              : static_cast<int>(status.dwServiceSpecificExitCode);
  }
  if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
    std::fprintf(stderr,
                 "plcburn-cli: --service is run by the Service Control Manager: install it with "
                 "--install-service, then start it (sc start plcburn-station)\n");
    return kExitUsage;
  }
  return Failed("cannot run as a service");
}

int InstallService() {
  wchar_t self[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return Failed("cannot tell where plcburn-cli is");
  const std::wstring command = L"\"" + std::wstring(self) + L"\" " + WideFromUtf8(kServiceArgument);
  ServiceHandles h;
  h.manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (h.manager == nullptr) return Failed("cannot reach the Service Control Manager");
  // Started by hand only; no failure actions, so a wrong station.conf is never retried.
  h.service = CreateServiceW(h.manager, kServiceName, kServiceDisplayName, SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (h.service == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
    // Installed again (an upgrade): the program's path is brought up to date, nothing else.
    h.service = OpenServiceW(h.manager, kServiceName, SERVICE_CHANGE_CONFIG);
    if (h.service == nullptr ||
        !ChangeServiceConfigW(h.service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr))
      return Failed("cannot update the service plcburn-station");
  } else if (h.service == nullptr) {
    return Failed("cannot install the service plcburn-station");
  }
  std::wstring about =
      L"Burns every PLC plugged into the slots of %ProgramData%\\plcburn\\station.conf; its "
      L"log is service.log beside it.";
  SERVICE_DESCRIPTIONW description{about.data()};
  ChangeServiceConfig2W(h.service, SERVICE_CONFIG_DESCRIPTION, &description);
  std::printf("plcburn-cli: service plcburn-station installed: started by hand, stopped now\n");
  return kExitSuccess;
}

int RemoveService() {
  ServiceHandles h;
  h.manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (h.manager == nullptr) return Failed("cannot reach the Service Control Manager");
  h.service = OpenServiceW(h.manager, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
  if (h.service == nullptr && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
    std::printf("plcburn-cli: service plcburn-station is not installed\n");
    return kExitSuccess;
  }
  if (h.service == nullptr) return Failed("cannot open the service plcburn-station");
  // Its burns end as stopped, with their records, before it goes.
  SERVICE_STATUS now{};
  if (ControlService(h.service, SERVICE_CONTROL_STOP, &now) ||
      GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
    const ULONGLONG end = GetTickCount64() + 30000;
    while (QueryServiceStatus(h.service, &now) && now.dwCurrentState != SERVICE_STOPPED &&
           GetTickCount64() < end)
      Sleep(200);
  }
  if (!DeleteService(h.service)) return Failed("cannot remove the service plcburn-station");
  std::printf("plcburn-cli: service plcburn-station removed\n");
  return kExitSuccess;
}

}  // namespace plcburn
