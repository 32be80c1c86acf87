// The minimal cipher tool for Windows: flips the first byte of the file in place, its own
// inverse, so a benchmark through Wine measures the runs and not a cipher.
#include <cwchar>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
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
    return ::CloseHandle(file) && ok ? 0 : 74;
}
