#include "system/Process.h"

#include <cstdint>
#include <cstdio>

namespace ostrapel {

namespace {

struct KnownCrash {
    std::uint32_t code;
    const char* name;
};

// The exception codes a crashing program is seen to end with, as the platform names them.
constexpr KnownCrash kKnownCrashes[] = {
    {0x0EEDFADE, "unhandled Delphi exception"},
    {0x80000002, "misaligned data"},
    {0x80000003, "breakpoint"},
    {0xC0000005, "access violation"},
    {0xC0000006, "page could not be read in"},
    {0xC000001D, "illegal instruction"},
    {0xC0000025, "noncontinuable exception"},
    {0xC000007B, "bad program image"},
    {0xC000008C, "array bounds exceeded"},
    {0xC000008E, "float divide by zero"},
    {0xC0000090, "invalid float operation"},
    {0xC0000091, "float overflow"},
    {0xC0000094, "integer divide by zero"},
    {0xC0000095, "integer overflow"},
    {0xC0000096, "privileged instruction"},
    {0xC00000FD, "stack overflow"},
    {0xC0000135, "a DLL it needs was not found"},
    {0xC0000139, "an entry point it needs was not found"},
    {0xC000013A, "ended by Ctrl-C"},
    {0xC0000142, "a DLL failed to initialize"},
    {0xC0000144, "unhandled exception"},
    {0xC0000374, "heap corruption"},
    {0xC0000409, "stack buffer overrun"},
    {0xC0000417, "invalid parameter"},
    {0xC0000420, "assertion failure"},
    {0xC06D007E, "a delay-loaded DLL was not found"},
    {0xC06D007F, "a delay-loaded function was not found"},
    {0xE06D7363, "unhandled C++ exception"},
};

const char* KnownCrashName(std::uint32_t code) {
    for (const KnownCrash& known : kKnownCrashes) {
        if (known.code == code) {
            return known.name;
        }
    }
    return nullptr;
}

} // namespace

bool IsCrashCode(int exitCode) {
    const auto code = static_cast<std::uint32_t>(exitCode);
    // Errors (0xC...), software exceptions left unhandled (0xE...: C++ 0xE06D7363, .NET
    // 0xE0434352) and the named codes, Delphi's 0x0EEDFADE among them (not of the 0xE form).
    return (code & 0xF0000000u) == 0xC0000000u || (code & 0xF0000000u) == 0xE0000000u ||
           KnownCrashName(code) != nullptr;
}

std::string CrashName(int exitCode) {
    const auto code = static_cast<std::uint32_t>(exitCode);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    const char* name = KnownCrashName(code);
    return name != nullptr ? std::string(name) + ", " + hex : std::string(hex);
}

std::string ProcessOutcome::describe() const {
    switch (kind) {
    case Kind::NotStarted:
        return "could not be started: " + error;
    case Kind::Exited:
        if (IsCrashCode(exitCode)) {
            return "crashed (" + CrashName(exitCode) + ")";
        }
        if (static_cast<std::uint32_t>(exitCode) >= 0x80000000u) {
            return "exit code " + CrashName(exitCode); // a status code, read in hex
        }
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
    CommandLine command = ParseWindowsCommandLine(Path);
    command.line = Path;
    return Run_Process(command, WindowStyle, limits);
}

} // namespace ostrapel
