#include "system/Process.h"

namespace ostrapel {

std::string ProcessOutcome::describe() const {
    switch (kind) {
    case Kind::NotStarted:
        return "could not be started: " + error;
    case Kind::Exited:
        return "exit code " + std::to_string(exitCode);
    case Kind::Signaled:
        return "killed by signal " + std::to_string(signal) + " (" + SignalName(signal) + ")";
    case Kind::TimedOut: {
        const auto ms = timeLimit.count();
        return "did not finish within " +
               (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
    }
    case Kind::Cancelled:
        return "cancelled";
    }
    return {};
}

std::string ProcessOutcome::lastOutputLine(std::size_t maxLength) const {
    auto end = output.find_last_not_of(" \t\r\n");
    if (end == std::string::npos) {
        return {};
    }
    auto start = output.find_last_of("\r\n", end);
    start = start == std::string::npos ? 0 : start + 1;
    std::string line = output.substr(start, end + 1 - start);
    if (line.size() > maxLength) {
        line.resize(maxLength);
    }
    return line;
}

ProcessOutcome Scn_Process::Run_Process(const std::string& Path, int WindowStyle,
                                        const RunLimits& limits) {
    return Run_Process(ParseWindowsCommandLine(Path), WindowStyle, limits);
}

} // namespace ostrapel
