// Lists and converts folders of many saves with a cipher tool that does nothing. Each count
// runs in a fresh process of its own, so each peak memory figure is that count's alone.
//   bench_many [COUNT...]   (default 1000 5000 10000)

#include "conversion/ConvertSaves.h"
#include "conversion/SaveFolder.h"
#include "system/Process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench_many: %s failed\n", what);
        std::exit(1);
    }
}

long PeakKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One count, in this process: prints "count list_ms convert_ms peak_kb start_kb".
int RunOne(std::size_t count) {
    char pattern[] = "/tmp/ostrapel-bench-many-XXXXXX";
    Check(::mkdtemp(pattern) != nullptr, "mkdtemp");
    const fs::path root = pattern;
    const std::string appDir = (root / "app").string() + "/";
    fs::create_directories(appDir + "Decrypt/temp");
    fs::create_directories(appDir + "Backups"); // portable: the backups stay in the temporary
    fs::copy_file(OSTRAPEL_MINIMAL_TOOL, appDir + "Decrypt/decrypt.exe");
    const fs::path saves = root / "saves";
    fs::create_directories(saves);
    const std::string content(1024, 's');
    for (std::size_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "save%05zu.sav", i);
        std::ofstream(saves / name, std::ios::binary) << content;
    }
    const long startKb = PeakKilobytes();

    auto start = Clock::now();
    std::vector<std::string> names = ostrapel::ListSaveFolder(saves.string());
    const double listMs = MillisecondsSince(start);
    Check(names.size() == count, "listing");

    ostrapel::Scn_Process runner;
    start = Clock::now();
    ostrapel::BatchResult result =
        ostrapel::ConvertSaves({saves.string(), names, appDir, "200"}, runner);
    const double convertMs = MillisecondsSince(start);
    Check(result.allChanged(), "batch");
    const long peakKb = PeakKilobytes();

    fs::remove_all(root);
    std::printf("%zu %.3f %.3f %ld %ld\n", count, listMs, convertMs, peakKb, startKb);
    return 0;
}

struct Figures {
    std::size_t count = 0;
    double listMs = 0;
    double convertMs = 0;
    long peakKb = 0;
    long startKb = 0;
};

// Runs one count in a fresh process of this program and reads its figures.
Figures RunChild(const char* self, std::size_t count) {
    int fds[2];
    Check(::pipe(fds) == 0, "pipe");
    const std::string argument = std::to_string(count);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::execl(self, self, "--one", argument.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "child");
    Figures figures;
    Check(std::sscanf(text.c_str(), "%zu %lf %lf %ld %ld", &figures.count, &figures.listMs,
                      &figures.convertMs, &figures.peakKb, &figures.startKb) == 5,
          "reading the child's figures");
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--one") == 0) {
        return RunOne(std::strtoul(argv[2], nullptr, 10));
    }
    std::vector<std::size_t> counts;
    for (int i = 1; i < argc; ++i) {
        counts.push_back(std::strtoul(argv[i], nullptr, 10));
        Check(counts.back() > 0, "argument");
    }
    if (counts.empty()) {
        counts = {1000, 5000, 10000};
    }

    std::vector<Figures> all;
    std::printf("%8s %10s %12s %14s %16s %16s\n", "entries", "list ms", "convert s", "ms per save",
                "peak memory KB", "over start KB");
    for (std::size_t count : counts) {
        Figures f = RunChild("/proc/self/exe", count);
        std::printf("%8zu %10.1f %12.1f %14.3f %16ld %16ld\n", f.count, f.listMs,
                    f.convertMs / 1000, f.convertMs / static_cast<double>(f.count), f.peakKb,
                    f.peakKb - f.startKb);
        std::fflush(stdout);
        all.push_back(f);
    }
    if (all.size() >= 2 && all.back().count != all.front().count) {
        const Figures& low = all.front();
        const Figures& high = all.back();
        const double perEntry = static_cast<double>(high.peakKb - low.peakKb) * 1024.0 /
                                (static_cast<double>(high.count) - static_cast<double>(low.count));
        std::printf("peak memory grows by %.0f bytes per entry from %zu to %zu entries\n", perEntry,
                    low.count, high.count);
    }
    return 0;
}
