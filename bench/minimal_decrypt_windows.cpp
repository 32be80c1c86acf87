// The minimal cipher tool for Windows: flips the first byte of the file in place, its own
// inverse, so a benchmark through Wine measures the runs and not a cipher. It prints when it
// began and ended, in ms of QueryPerformanceCounter, so the benchmark can tell a run's start
// and end from the tool's own work.
#include <cstdio>
#include <cwchar>
#include <windows.h>

namespace {
double Milliseconds() {
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&count);
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    const double began = Milliseconds();
    if (argc != 2) {
        return 64;
    }
    const wchar_t* path = std::wcschr(argv[1], L':');
    if (path == nullptr) {
        return 64;
    }
    HANDLE file = ::CreateFileW(path + 1, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 66;
    }
    unsigned char first = 0;
    DWORD done = 0;
    bool ok = ::ReadFile(file, &first, 1, &done, nullptr) && done == 1;
    first ^= 0x5A;
    ok = ok && ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
         ::WriteFile(file, &first, 1, &done, nullptr) && done == 1;
    ok = ::CloseHandle(file) && ok;
    char times[64];
    const int length = std::snprintf(times, sizeof times, "ran %.3f %.3f\n", began, Milliseconds());
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), times, static_cast<DWORD>(length), &done,
                nullptr);
    return ok ? 0 : 74;
}
