#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ostrapel {

// The arguments as meant where the C runtime read a backslash before a closing quote as an
// escaped quote: "C:\Saved Games\" (as PowerShell 5.1's tab completion writes it) arrives as
// C:\Saved Games" with whatever followed on the command line glued on. No Windows path, option
// or number holds a '"', so an argument ends at its first '"', which stands for "\", and what
// follows it is split into the arguments it was.
std::vector<std::string> MendTrailingQuotes(const std::vector<std::string>& args);

// How the command-line front end answers a console event (Windows): the signal it counts as,
// and whether the handler must hold the process until the batch has wound down, because the
// system ends the process as soon as the handler returns (closing the console window, logging
// off, shutting down; it allows about 5 s for that).
struct ConsoleEventAnswer {
    int signal = 0;
    bool holdUntilDone = false;
};
ConsoleEventAnswer AnswerConsoleEvent(unsigned long event);

#ifdef _WIN32
// Hears of sign-out and shutdown, which reach a console program that loads user32 (this one
// does, through shell32) not as console events but as messages to its top-level windows: a
// hidden window on a thread of its own. Its WM_ENDSESSION (the session does end) runs ending,
// and only once ending has returned may the system end the process.
class SessionEndWatch {
public:
    explicit SessionEndWatch(std::function<void()> ending);
    ~SessionEndWatch();
    SessionEndWatch(const SessionEndWatch&) = delete;
    SessionEndWatch& operator=(const SessionEndWatch&) = delete;

    // The hidden window (an HWND); null where it could not be made.
    void* window() const { return window_; }

private:
    std::function<void()> ending_;
    void* window_ = nullptr;
    std::thread thread_;
};

// Sets the console's output code page to UTF-8 for as long as it lives, and puts the one the
// user had back.
class Utf8ConsoleOutput {
public:
    Utf8ConsoleOutput();
    ~Utf8ConsoleOutput();
    Utf8ConsoleOutput(const Utf8ConsoleOutput&) = delete;
    Utf8ConsoleOutput& operator=(const Utf8ConsoleOutput&) = delete;

private:
    unsigned before_;
};
#endif

} // namespace ostrapel
