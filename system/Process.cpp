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
    {0x0EEDFADE, N_("unhandled Delphi exception")},
    {0x80000002, N_("misaligned data")},
    {0x80000003, N_("breakpoint")},
    {0xC0000005, N_("access violation")},
    {0xC0000006, N_("page could not be read in")},
    {0xC000001D, N_("illegal instruction")},
    {0xC0000025, N_("noncontinuable exception")},
    {0xC000007B, N_("bad program image")},
    {0xC000008C, N_("array bounds exceeded")},
    {0xC000008E, N_("float divide by zero")},
    {0xC0000090, N_("invalid float operation")},
    {0xC0000091, N_("float overflow")},
    {0xC0000094, N_("integer divide by zero")},
    {0xC0000095, N_("integer overflow")},
    {0xC0000096, N_("privileged instruction")},
    {0xC00000FD, N_("stack overflow")},
    {0xC0000135, N_("a DLL it needs was not found")},
    {0xC0000139, N_("an entry point it needs was not found")},
    {0xC000013A, N_("ended by Ctrl-C")},
    {0xC0000142, N_("a DLL failed to initialize")},
    {0xC0000144, N_("unhandled exception")},
    {0xC0000374, N_("heap corruption")},
    {0xC0000409, N_("stack buffer overrun")},
    {0xC0000417, N_("invalid parameter")},
    {0xC0000420, N_("assertion failure")},
    {0xC06D007E, N_("a delay-loaded DLL was not found")},
    {0xC06D007F, N_("a delay-loaded function was not found")},
    {0xE06D7363, N_("unhandled C++ exception")},
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
    return CrashPhrase(exitCode).English();
}

Phrase CrashPhrase(int exitCode) {
    const auto code = static_cast<std::uint32_t>(exitCode);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    const char* name = KnownCrashName(code);
    if (name == nullptr) {
        return Phrase::Verbatim(hex);
    }
    // TRANSLATORS: a Windows exception, named ({name}) and by its code (0xC0000005).
    return Phrase(N_("{name}, {code}")).With("name", Phrase(name)).With("code", std::string(hex));
}

Phrase ProcessOutcome::phrase() const {
    switch (kind) {
    case Kind::NotStarted:
        return Phrase(N_("could not be started: {error}")).With("error", error);
    case Kind::Exited:
        if (IsCrashCode(exitCode)) {
            return Phrase(N_("crashed ({crash})")).With("crash", CrashPhrase(exitCode));
        }
        if (static_cast<std::uint32_t>(exitCode) >= 0x80000000u) {
            // A status code, read in hex.
            return Phrase(N_("exit code {code}")).With("code", CrashPhrase(exitCode));
        }
        return Phrase(N_("exit code {code}")).With("code", std::to_string(exitCode));
    case Kind::Signaled:
        return Phrase(N_("killed by signal {signal} ({name})"))
            .With("signal", std::to_string(signal))
            .With("name", SignalName(signal));
    case Kind::TimedOut: {
        const auto ms = static_cast<std::uint64_t>(timeLimit.count());
        return ms % 1000 == 0 ? Phrase(N_("did not finish within {seconds} s"))
                                    .With("seconds", std::to_string(ms / 1000))
                              : Phrase(N_("did not finish within {milliseconds} ms"))
                                    .With("milliseconds", std::to_string(ms));
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
