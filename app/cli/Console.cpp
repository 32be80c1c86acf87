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
namespace {

LRESULT CALLBACK SessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE; // the batch is stopped once the session does end
    case WM_ENDSESSION:
        if (wParam != FALSE) {
            auto* ending = reinterpret_cast<std::function<void()>*>(
                ::GetWindowLongPtrW(window, GWLP_USERDATA));
            (*ending)();
        }
        return 0;
    case WM_CLOSE:
        ::DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

SessionEndWatch::SessionEndWatch(std::function<void()> ending) : ending_(std::move(ending)) {
    HANDLE made = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (made == nullptr) {
        return;
    }
    thread_ = std::thread([this, made] {
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &SessionMessage;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = L"OstrapelSessionEnd";
        ::RegisterClassW(&windowClass); // fails harmlessly when registered already
        // A top-level window, never shown: a message-only one hears no broadcast.
        HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0,
                                        0, nullptr, nullptr, instance, nullptr);
        if (window != nullptr) {
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&ending_));
        }
        window_ = window;
        ::SetEvent(made);
        MSG message;
        while (window != nullptr && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::DispatchMessageW(&message);
        }
    });
    ::WaitForSingleObject(made, INFINITE);
    ::CloseHandle(made);
}

SessionEndWatch::~SessionEndWatch() {
    if (window_ != nullptr) {
        ::PostMessageW(static_cast<HWND>(window_), WM_CLOSE, 0, 0);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

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
