#include "CliApp.h"
#include "Console.h"
#include "system/Cancel.h"

#include <csignal>
#include <iostream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

ostrapel::CancelFlag cancel;
std::atomic<int> interruptedBy{0};

void Interrupt(int signal) {
    int none = 0;
    interruptedBy.compare_exchange_strong(none, signal);
    cancel.raise();
}

#ifdef _WIN32
// Set once the batch has wound down: its temporaries removed, its backup set whole or gone.
HANDLE windDown = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

// Every console event cancels the batch, which then reports (AnswerConsoleEvent). The process
// ends as soon as the handler returns from closing the console, logging off or shutting down,
// so the handler holds it until the batch has wound down (within the time the system allows).
BOOL WINAPI OnConsoleEvent(DWORD event) {
    const ostrapel::ConsoleEventAnswer answer = ostrapel::AnswerConsoleEvent(event);
    Interrupt(answer.signal);
    if (answer.holdUntilDone && windDown != nullptr) {
        ::WaitForSingleObject(windDown, INFINITE);
    }
    return TRUE;
}

void HandleSignals() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
#else
extern "C" void OnInterrupt(int signal) {
    Interrupt(signal);
}

void HandleSignals() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    // Output that cannot be written (a closed pipe) must not end a batch half-way.
    std::signal(SIGPIPE, SIG_IGN);
}
#endif

} // namespace

#ifdef _WIN32
// The arguments as UTF-16, turned into the UTF-8 the core takes; output in UTF-8 too.
int wmain(int argc, wchar_t** argv) {
    int status = 0;
    // Signing out and shutting down cancel the batch as closing the console does.
    const ostrapel::SessionEndWatch session([] {
        Interrupt(SIGTERM);
        if (windDown != nullptr) {
            ::WaitForSingleObject(windDown, INFINITE);
        }
    });
    {
        const ostrapel::Utf8ConsoleOutput utf8;
        HandleSignals();
        std::vector<std::string> args;
        for (int i = 1; i < argc; ++i) {
            const int length =
                ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
            std::string arg(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), length, nullptr, nullptr);
            arg.resize(arg.size() - 1); // the terminating NUL
            args.push_back(std::move(arg));
        }
        status = ostrapel::RunCli(ostrapel::MendTrailingQuotes(args), std::cout, std::cerr,
                                  {&cancel, &interruptedBy});
        std::cout.flush();
        std::cerr.flush();
    } // the user's code page is back
    if (windDown != nullptr) {
        ::SetEvent(windDown);
    }
    return status;
}
#else
int main(int argc, char** argv) {
    HandleSignals();
    std::vector<std::string> args(argv + 1, argv + argc);
    return ostrapel::RunCli(args, std::cout, std::cerr, {&cancel, &interruptedBy});
}
#endif
