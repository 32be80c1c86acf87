#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

namespace ostrapel {

class CancelFlag;

// What stops a conversion from outside: the flag, raised by the first interrupting signal,
// and which signal that was (0 when none).
struct Interruption {
    const CancelFlag* flag = nullptr;
    const std::atomic<int>* signal = nullptr;
};

// Exit statuses of the command-line front end.
inline constexpr int kExitAllChanged = 0;
inline constexpr int kExitSomeNotChanged = 1;
inline constexpr int kExitBadUsage = 2;
// Most saves read as no known version and --force was not given: nothing was changed.
inline constexpr int kExitUnknownVersions = 3;
inline constexpr int kExitInterrupted = 130; // cancelled by Ctrl-C

// The command-line front end: exit 0 when every listed save changed or held the value
// already (--show: every save was read), 1 when any did not (or the batch was cancelled by a
// signal other than SIGINT), 2 for bad usage or a folder that cannot be used, 130 when
// cancelled by SIGINT.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const Interruption& interruption = {});

} // namespace ostrapel
