// Windows command lines: building one from a command and splitting it again gives exactly
// that command; splitting any text never crashes, and what it gives survives the same round.

#include "system/Process.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

using ostrapel::BuildWindowsCommandLine;
using ostrapel::CommandLine;
using ostrapel::ParseWindowsCommandLine;

namespace {

// A command that can be written must come back unchanged.
void RoundTrip(const CommandLine& command) {
    const std::optional<std::string> line = BuildWindowsCommandLine(command);
    bool writable = command.program.find('"') == std::string::npos &&
                    command.program.find('\0') == std::string::npos;
    for (const std::string& argument : command.arguments) {
        writable = writable && argument.find('\0') == std::string::npos;
    }
    if (line.has_value() != writable) {
        std::abort();
    }
    if (line && ParseWindowsCommandLine(*line) != command) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        CommandLine command;
        command.program = input.ConsumeRandomLengthString(64);
        const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 6);
        for (std::size_t i = 0; i < count; ++i) {
            command.arguments.push_back(input.ConsumeRandomLengthString(64));
        }
        RoundTrip(command);
    } else {
        const CommandLine parsed = ParseWindowsCommandLine(input.ConsumeRemainingBytesAsString());
        RoundTrip(parsed);
    }
    return 0;
}
