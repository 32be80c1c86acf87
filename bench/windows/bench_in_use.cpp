// How long a save another program holds open is waited for: a second process holds the save
// (sharing reading and writing, not deleting, as scanners and indexers may) for a given time
// while the save is replaced; prints the time the replacement took and how it ended. A hold
// longer than the patience shows how long a locked save is tried before it is reported in use.
//   bench_in_use [MILLISECONDS...]   (default 0 500 1500 5000)
//   bench_in_use hold PATH MILLISECONDS   (the holding process)

#include "system/FileSystem.h"
#include "system/Paths.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

using Clock = std::chrono::steady_clock;

namespace {

std::wstring Wide(const std::string& utf8) {
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench: %s failed\n", what);
        std::exit(1);
    }
}

int Hold(const std::string& path, DWORD milliseconds) {
    HANDLE file =
        ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    ::Sleep(milliseconds);
    ::CloseHandle(file);
    return 0;
}

// Starts this program holding path for milliseconds; returns once the file is held.
HANDLE StartHolder(const std::string& path, DWORD milliseconds) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" hold \"" + Wide(path) + L"\" " +
                        std::to_wstring(milliseconds);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    Check(::CreatePipe(&readEnd, &writeEnd, &inherit, 0), "CreatePipe");
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    Check(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process),
          "CreateProcessW");
    ::CloseHandle(writeEnd);
    ::CloseHandle(process.hThread);
    char buffer[8];
    DWORD got = 0;
    Check(::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0, "holding");
    ::CloseHandle(readEnd);
    return process.hProcess;
}

void WriteAll(const std::string& path, const std::string& content) {
    (void)ostrapel::RemoveFile(path);
    Check(ostrapel::WriteNewFile(path, content).ok(), "writing");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "hold") {
        return Hold(argv[2], static_cast<DWORD>(std::atoi(argv[3])));
    }
    std::vector<DWORD> holds;
    for (int i = 1; i < argc; ++i) {
        holds.push_back(static_cast<DWORD>(std::atoi(argv[i])));
    }
    if (holds.empty()) {
        holds = {0, 500, 1500, 5000};
    }
    char temp[MAX_PATH];
    Check(::GetTempPathA(MAX_PATH, temp) > 0, "GetTempPath");
    const std::string folder = ostrapel::JoinPath(temp, "ostrapel-bench-in-use");
    (void)ostrapel::MakeDirectory(folder);
    const std::string save = ostrapel::JoinPath(folder, "slot1.sav");
    const std::string replacement = ostrapel::JoinPath(folder, "new");

    std::printf("held for (ms)  replacement took (ms)  outcome\n");
    for (DWORD hold : holds) {
        WriteAll(save, "old");
        WriteAll(replacement, "new");
        HANDLE holder = hold > 0 ? StartHolder(save, hold) : nullptr;
        const auto start = Clock::now();
        const ostrapel::ReplaceResult result =
            ostrapel::ReplaceFileAtomically(replacement, save, ostrapel::IdentityOf(save));
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        std::printf(
            "%13lu  %21lld  %s\n", static_cast<unsigned long>(hold), static_cast<long long>(took),
            result.outcome == ostrapel::ReplaceOutcome::Replaced ? "replaced"
                                                                 : result.status.reason().c_str());
        if (holder != nullptr) {
            ::WaitForSingleObject(holder, INFINITE);
            ::CloseHandle(holder);
        }
    }
    (void)ostrapel::RemoveFilesIn(folder);
    (void)ostrapel::RemoveEmptyDirectory(folder);
    return 0;
}
