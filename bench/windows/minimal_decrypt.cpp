// The Windows build's least cipher tool: flips the first byte of the file in place, its own
// inverse, so the batch's checks pass and a benchmark measures the batch, not a cipher.
#include <cwchar>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        return 64;
    }
    const wchar_t* colon = std::wcschr(argv[1], L':');
    if (colon == nullptr) {
        return 64;
    }
    HANDLE file = ::CreateFileW(colon + 1, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 66;
    }
    unsigned char first = 0;
    DWORD done = 0;
    OVERLAPPED start{};
    bool ok = ::ReadFile(file, &first, 1, &done, &start) && done == 1;
    first ^= 0x5A;
    start = OVERLAPPED{};
    ok = ok && ::WriteFile(file, &first, 1, &done, &start) && done == 1;
    return ::CloseHandle(file) && ok ? 0 : 74;
}
