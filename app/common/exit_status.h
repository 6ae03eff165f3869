#pragma once
// How plcburn's programs end, as a shell sees it.

namespace plcburn {

inline constexpr int kExitSuccess = 0;
// A burn failed or was refused, a port gave no answer, or the program could not go on.
inline constexpr int kExitFailed = 1;
// The command line cannot be used as given.
inline constexpr int kExitUsage = 2;

// Stopped by signal N: 128 + N, as a shell reports it.
constexpr int ExitForSignal(int signal) {
  return 128 + signal;
}

}  // namespace plcburn
