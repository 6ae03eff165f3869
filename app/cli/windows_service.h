#pragma once
// The burning station as a Windows service, "plcburn station": plcburn-cli --service, started by
// the Service Control Manager, runs plcburn-cli --watch with the settings of
// %ProgramData%\plcburn\station.conf as its child, which keeps its records in
// %ProgramData%\plcburn\burns.jsonl. A stop sets the child's stop event (PLCBURN_STOP_EVENT): its
// running burns end as stopped, with their records. What the service does, why it stopped and
// what the station prints go to %ProgramData%\plcburn\service.log. It is installed stopped,
// started by hand, and never restarted by the system: a wrong station.conf stays wrong until it
// is edited.

namespace plcburn {

inline constexpr char kServiceArgument[] = "--service";
inline constexpr char kInstallServiceArgument[] = "--install-service";
inline constexpr char kRemoveServiceArgument[] = "--remove-service";
inline constexpr wchar_t kServiceName[] = L"plcburn-station";
inline constexpr wchar_t kServiceDisplayName[] = L"plcburn station";

// The service's exit status when station.conf is missing or cannot be read; plcburn-cli's own
// statuses (2 for a usage error, 1 when the devices cannot be watched) come through as they are.
inline constexpr int kServiceNoSettings = 3;

// Runs as the service; outside the Service Control Manager it is a usage error.
int RunService();

// Registers this program as the service (demand start, stopped), or stops and removes it.
int InstallService();
int RemoveService();

}  // namespace plcburn
