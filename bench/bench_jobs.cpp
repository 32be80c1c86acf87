// Wall time of a batch against the number of jobs, with a cipher tool that takes a while per
// run (a slow tool is where running several at once pays).
//   bench_jobs [SAVES] [TOOL_MS]   (default 24 saves, 50 ms per tool run)
// Each save costs four tool runs (decipher, its witness, encipher, the check's decipher), so one
// job takes at least 4 x SAVES x TOOL_MS; N jobs ideally a N-th of that.

#include "conversion/ConvertSaves.h"
#include "system/Process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench: %s failed\n", what);
        std::exit(1);
    }
}

std::vector<std::string> WriteSaves(const fs::path& folder, std::size_t count) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<std::string> names;
    std::string content(4096, 's');
    content[788] = 0; // a value other than the one written
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("save" + std::to_string(i) + ".sav");
        std::ofstream(folder / names.back(), std::ios::binary) << content;
    }
    return names;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 24;
    const long toolMs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 50;
    Check(count > 0 && toolMs >= 0, "arguments");
    Check(::setenv("MINIMAL_TOOL_SLEEP_MS", std::to_string(toolMs).c_str(), 1) == 0, "setenv");
    char pattern[] = "/tmp/ostrapel-bench-jobs-XXXXXX";
    Check(::mkdtemp(pattern) != nullptr, "mkdtemp");
    const fs::path root = pattern;
    const std::string appDir = (root / "app").string() + "/";
    fs::create_directories(appDir + "Decrypt/temp");
    fs::copy_file(OSTRAPEL_MINIMAL_TOOL, appDir + "Decrypt/decrypt.exe");

    std::printf("saves: %zu, tool run: %ld ms, floor for one job: %.0f ms\n", count, toolMs,
                4.0 * static_cast<double>(count) * static_cast<double>(toolMs));
    std::printf("%6s %12s %10s %14s\n", "jobs", "wall ms", "speed-up", "ideal ms");
    double oneJobMs = 0;
    for (std::size_t jobs : {1u, 2u, 4u, 8u, 16u}) {
        const fs::path saves = root / "saves";
        ostrapel::BatchRequest request{saves.string(), WriteSaves(saves, count), appDir, "200"};
        request.jobs = jobs;
        ostrapel::Scn_Process runner;
        const auto start = Clock::now();
        ostrapel::BatchResult result = ostrapel::ConvertSaves(request, runner);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        Check(result.allChanged() && result.changedCount == count, "batch");
        if (jobs == 1) {
            oneJobMs = ms;
        }
        const double ideal =
            4.0 * static_cast<double>(toolMs) * static_cast<double>((count + jobs - 1) / jobs);
        std::printf("%6zu %12.0f %9.2fx %14.0f\n", jobs, ms, oneJobMs / ms, ideal);
    }
    fs::remove_all(root);
    return 0;
}
