#include "Console.h"

#include "system/Process.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ostrapel {

std::vector<std::string> MendTrailingQuotes(const std::vector<std::string>& args) {
    std::vector<std::string> mended;
    for (const std::string& arg : args) {
        const std::size_t quote = arg.find('"');
        if (quote == std::string::npos) {
            mended.push_back(arg);
            continue;
        }
        mended.push_back(arg.substr(0, quote) + "\\");
        for (std::string& rest : ParseWindowsCommandLine("x " + arg.substr(quote + 1)).arguments) {
            mended.push_back(std::move(rest));
        }
    }
    return mended;
}

ConsoleEventAnswer AnswerConsoleEvent(unsigned long event) {
    // The event numbers of wincon.h.
    constexpr unsigned long kCtrlC = 0;
    constexpr unsigned long kCtrlBreak = 1;
    switch (event) {
    case kCtrlC:
        return {SIGINT, false};
    case kCtrlBreak:
        return {SIGTERM, false};
    default: // the console closed, logging off, shutting down
        return {SIGTERM, true};
    }
}

#ifdef _WIN32
Utf8ConsoleOutput::Utf8ConsoleOutput() : before_(::GetConsoleOutputCP()) {
    ::SetConsoleOutputCP(CP_UTF8);
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
    if (before_ != 0) {
        ::SetConsoleOutputCP(before_);
    }
}
#endif

} // namespace ostrapel
