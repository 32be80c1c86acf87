#include "CliApp.h"
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
// Ctrl-C is SIGINT; Ctrl-Break, closing the console, logging off and shutting down are
// SIGTERM. The batch stops at once and reports; returning TRUE keeps the process alive for
// that, within the time the system allows.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    Interrupt(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
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
    ::SetConsoleOutputCP(CP_UTF8);
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
    return ostrapel::RunCli(args, std::cout, std::cerr, {&cancel, &interruptedBy});
}
#else
int main(int argc, char** argv) {
    HandleSignals();
    std::vector<std::string> args(argv + 1, argv + argc);
    return ostrapel::RunCli(args, std::cout, std::cerr, {&cancel, &interruptedBy});
}
#endif
