#include "CliApp.h"
#include "system/Cancel.h"

#include <csignal>
#include <iostream>

namespace {

ostrapel::CancelFlag cancel;
std::atomic<int> interruptedBy{0};

extern "C" void OnInterrupt(int signal) {
    int none = 0;
    interruptedBy.compare_exchange_strong(none, signal);
    cancel.raise();
}

void HandleSignals() {
#ifndef _WIN32
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    // Output that cannot be written (a closed pipe) must not end a batch half-way.
    std::signal(SIGPIPE, SIG_IGN);
#else
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
#endif
}

} // namespace

int main(int argc, char** argv) {
    HandleSignals();
    std::vector<std::string> args(argv + 1, argv + argc);
    return ostrapel::RunCli(args, std::cout, std::cerr, {&cancel, &interruptedBy});
}
