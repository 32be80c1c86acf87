// A cipher tool that does the least a tool can and still pass the batch's checks: it flips
// the first byte of the file in place, which is its own inverse. A benchmark then measures
// the batch and not a cipher. MINIMAL_TOOL_SLEEP_MS=N makes each run take N ms longer, as a
// slow tool would. MINIMAL_TOOL_LOG=FILE adds one byte to FILE per run, to count them.
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 64;
    }
    const std::string_view argument = argv[1];
    const std::size_t colon = argument.find(':');
    if (colon == std::string_view::npos) {
        return 64;
    }
    if (const char* log = std::getenv("MINIMAL_TOOL_LOG")) {
        const int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, "r", 1) != 1 || ::close(fd) != 0) {
            return 73;
        }
    }
    if (const char* sleepMs = std::getenv("MINIMAL_TOOL_SLEEP_MS")) {
        const long ms = std::strtol(sleepMs, nullptr, 10);
        const timespec pause{ms / 1000, (ms % 1000) * 1'000'000};
        ::nanosleep(&pause, nullptr);
    }
    const int fd = ::open(argv[1] + colon + 1, O_RDWR | O_CLOEXEC);
    unsigned char first = 0;
    if (fd < 0 || ::pread(fd, &first, 1, 0) != 1) {
        return 66;
    }
    first ^= 0x5A;
    return ::pwrite(fd, &first, 1, 0) == 1 && ::close(fd) == 0 ? 0 : 74;
}
