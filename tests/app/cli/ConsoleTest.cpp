#include "app/cli/Console.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace ostrapel;

using Args = std::vector<std::string>;

// What PowerShell 5.1's tab completion writes, "C:\Saved Games\", reaches the program through
// the C runtime with the closing quote taken as an escaped one.
TEST(CliConsole, ATrailingQuoteEndsTheFolderArgument) {
    struct Case {
        Args given;
        Args meant;
    };
    const Case cases[] = {
        {{"--dlc", "2.00", "C:\\Users\\me\\Saved Games\""},
         {"--dlc", "2.00", "C:\\Users\\me\\Saved Games\\"}},
        {{"--show", "C:\""}, {"--show", "C:\\"}}, // not C:, the drive's current folder
        // What followed on the command line was glued on.
        {{"--show", "C:\\My Saves\" --jobs 2"}, {"--show", "C:\\My Saves\\", "--jobs", "2"}},
        {{"--dlc", "2.00", "C:\\Saves"}, {"--dlc", "2.00", "C:\\Saves"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MendTrailingQuotes(c.given), c.meant) << c.given.back();
    }
}

TEST(CliConsole, ClosingTheConsoleCancelsAndHoldsTheProcessUntilTheBatchHasWoundDown) {
    struct Case {
        unsigned long event; // CTRL_C_EVENT, CTRL_BREAK_EVENT, ...
        int signal;
        bool hold;
    };
    const Case cases[] = {
        {0, SIGINT, false},  // Ctrl-C: the process goes on to report
        {1, SIGTERM, false}, // Ctrl-Break
        {2, SIGTERM, true},  // the console window closed: ended once the handler returns
        {5, SIGTERM, true},  // logging off
        {6, SIGTERM, true},  // shutting down
    };
    for (const Case& c : cases) {
        const ConsoleEventAnswer answer = AnswerConsoleEvent(c.event);
        EXPECT_EQ(answer.signal, c.signal) << c.event;
        EXPECT_EQ(answer.holdUntilDone, c.hold) << c.event;
    }
}

#ifdef _WIN32
// Sign-out and shutdown come as messages to a hidden window: only a session that does end
// stops the batch, and the system may end the process only once the batch has wound down.
TEST(CliConsole, ASessionThatEndsCancelsAndHoldsTheProcessUntilTheBatchHasWoundDown) {
    std::atomic<int> ended{0};
    std::atomic<bool> woundDown{false};
    const SessionEndWatch watch([&] {
        ++ended;
        ::Sleep(100); // the batch winding down
        woundDown = true;
    });
    HWND window = static_cast<HWND>(watch.window());
    if (window == nullptr && std::getenv("OSTRAPEL_TEST_DISPLAY") == nullptr) {
        GTEST_SKIP() << "no display to make a window on: the cli_session_end test runs it on one";
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(::GetParent(window), nullptr); // top-level, so broadcasts reach it
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_EQ(::SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    ::SendMessageW(window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF); // another program said no
    EXPECT_EQ(ended, 0);
    ::SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(woundDown);
}

// Needs a console: the cli_console test runs it in one (OSTRAPEL_TEST_CONSOLE set).
TEST(CliConsole, TheUsersOutputCodePageIsPutBack) {
    if (std::getenv("OSTRAPEL_TEST_CONSOLE") == nullptr && !::SetConsoleOutputCP(850)) {
        GTEST_SKIP() << "no console to set a code page of";
    }
    ASSERT_TRUE(::SetConsoleOutputCP(850));
    {
        const Utf8ConsoleOutput utf8;
        EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    }
    EXPECT_EQ(::GetConsoleOutputCP(), 850u);
}
#endif
