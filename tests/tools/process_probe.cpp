// A program for the Windows process-runner tests; what it does is its first argument:
//   exit N             exit with N
//   say TEXT...        print each TEXT on a line of its own (the last one to stderr)
//   lines N            print N numbered lines
//   args ARG...        print each ARG in brackets
//   commandline        print the command-line text it was started with
//   startup            print the show-window style it was given and whether it has a console
//   stdin              print "eof" when its standard input is empty, else "got"
//   sleep MS           sleep, then exit 0
//   spawn FILE         start "sleep 60000" as a child of its own, write its id to FILE, exit 0
//   crashguard         print its error mode and its job's limit flags
//   env NAME           print the value of the environment variable NAME
//   place              print its current folder, then TEMP and TMP, one a line

#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

namespace {

void Print(const std::wstring& text, FILE* to = stdout) {
    const int length = ::WideCharToMultiByte(
        CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(),
                          length, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), to);
    std::fflush(to);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 64;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const std::wstring mode = argv[1];
    if (mode == L"exit" && argc == 3) {
        return std::wcstol(argv[2], nullptr, 10);
    }
    if (mode == L"say") {
        for (int i = 2; i < argc; ++i) {
            Print(std::wstring(argv[i]) + L"\n", i + 1 == argc ? stderr : stdout);
        }
        return 0;
    }
    if (mode == L"lines" && argc == 3) {
        const long count = std::wcstol(argv[2], nullptr, 10);
        for (long i = 0; i < count; ++i) {
            Print(L"line" + std::to_wstring(i) + L"\n");
        }
        return 0;
    }
    if (mode == L"args") {
        for (int i = 2; i < argc; ++i) {
            Print(L"[" + std::wstring(argv[i]) + L"]");
        }
        return 0;
    }
    if (mode == L"commandline") {
        Print(::GetCommandLineW());
        return 0;
    }
    if (mode == L"startup") {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        ::GetStartupInfoW(&startup);
        const bool shown = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0;
        Print(L"show=" + (shown ? std::to_wstring(startup.wShowWindow) : std::wstring(L"unset")) +
              L" console=" + (::GetConsoleWindow() != nullptr ? L"window" : L"none"));
        return 0;
    }
    if (mode == L"stdin") {
        char first;
        DWORD got = 0;
        const BOOL read = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &first, 1, &got, nullptr);
        Print(read && got > 0 ? L"got" : L"eof");
        return 0;
    }
    if (mode == L"sleep" && argc == 3) {
        ::Sleep(static_cast<DWORD>(std::wcstol(argv[2], nullptr, 10)));
        return 0;
    }
    if (mode == L"env" && argc == 3) {
        wchar_t value[4096] = L"";
        ::GetEnvironmentVariableW(argv[2], value, 4096);
        Print(value);
        return 0;
    }
    if (mode == L"place") {
        wchar_t text[4096] = L"";
        ::GetCurrentDirectoryW(4096, text);
        std::wstring place = std::wstring(text) + L"\n";
        for (const wchar_t* name : {L"TEMP", L"TMP"}) {
            text[0] = L'\0';
            ::GetEnvironmentVariableW(name, text, 4096);
            place += std::wstring(text) + L"\n";
        }
        Print(place);
        return 0;
    }
    if (mode == L"crashguard") {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        const bool inJob = ::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation,
                                                       &limits, sizeof limits, nullptr) != 0;
        Print(L"errormode=" + std::to_wstring(::GetErrorMode()) + L" job=" +
              (inJob ? std::to_wstring(limits.BasicLimitInformation.LimitFlags) : L"none"));
        return 0;
    }
    if (mode == L"spawn" && argc == 3) {
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" sleep 60000";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &child)) {
            return 70;
        }
        FILE* out = _wfopen(argv[2], L"w");
        if (out == nullptr) {
            return 73;
        }
        std::fprintf(out, "%lu", child.dwProcessId);
        std::fclose(out);
        return 0;
    }
    return 64;
}
