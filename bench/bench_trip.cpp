// The whole trip a player makes in the window, against the core as the window drives it:
// list a folder of SAVES saves, read their versions, apply a version, wait for the report.
//   bench_trip [SAVES] [TOOL_MS] [ROUNDS]   (default 48 saves, 50 ms per tool run, 3 rounds)
// With a cipher tool that takes TOOL_MS per run, the trip can take no less than three runs per
// save spread over the jobs: the floor is 3 x SAVES x TOOL_MS / jobs. It prints the tool runs
// per save and the wall time against that floor, one job without kept deciphered saves beside
// the defaults (jobs and kept saves), the best of ROUNDS rounds each, taken in turns.

#include "conversion/ConvertSaves.h"
#include "conversion/DecipheredSaves.h"
#include "system/Process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
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
    content[788] = content[789] = 0; // version 0.00, not the one written
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("save" + std::to_string(i) + ".sav");
        content.replace(0, names.back().size(), names.back()); // no two saves alike
        std::ofstream(folder / names.back(), std::ios::binary) << content;
    }
    return names;
}

struct Trip {
    double ms = 0;
    double runsPerSave = 0;
};

// Reads the versions, then converts, as the window does once the versions are in.
Trip Run(const fs::path& root, const std::string& appDir, std::size_t count, std::size_t jobs,
         bool keep) {
    const fs::path saves = root / "saves";
    const fs::path runLog = root / "runs";
    ostrapel::BatchRequest request{saves.string(), WriteSaves(saves, count), appDir, "200"};
    request.jobs = jobs;
    request.backupFolder = (root / "backups").string();
    ostrapel::DecipheredSaves kept;
    request.deciphered = keep ? &kept : nullptr;
    std::ofstream(runLog, std::ios::trunc).close();
    ostrapel::Scn_Process runner;

    const auto start = Clock::now();
    ostrapel::BatchResult read = ostrapel::ReadSaveVersions(request, runner);
    ostrapel::BatchResult converted = ostrapel::ConvertSaves(request, runner);
    const auto end = Clock::now();

    Check(std::all_of(read.files.begin(), read.files.end(),
                      [](const ostrapel::FileOutcome& file) { return file.oldValue == 0; }),
          "reading");
    Check(converted.allChanged() && converted.changedCount == count, "batch");
    fs::remove_all(root / "backups");
    return {std::chrono::duration<double, std::milli>(end - start).count(),
            static_cast<double>(fs::file_size(runLog)) / static_cast<double>(count)};
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 48;
    const long toolMs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 50;
    const long rounds = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 3;
    Check(count > 0 && toolMs >= 0 && rounds > 0, "arguments");
    char pattern[] = "/tmp/ostrapel-bench-trip-XXXXXX";
    Check(::mkdtemp(pattern) != nullptr, "mkdtemp");
    const fs::path root = pattern;
    const std::string appDir = (root / "app").string() + "/";
    fs::create_directories(appDir + "Decrypt/temp");
    fs::copy_file(OSTRAPEL_MINIMAL_TOOL, appDir + "Decrypt/decrypt.exe");
    Check(::setenv("MINIMAL_TOOL_SLEEP_MS", std::to_string(toolMs).c_str(), 1) == 0, "setenv");
    Check(::setenv("MINIMAL_TOOL_LOG", (root / "runs").c_str(), 1) == 0, "setenv");

    struct Way {
        const char* name;
        std::size_t jobs;
        bool keep;
        Trip best{std::numeric_limits<double>::infinity(), 0};
    };
    Way ways[] = {{"one job, no reuse", 1, false}, {"defaults", ostrapel::DefaultJobs(), true}};
    for (long round = 0; round < rounds; ++round) {
        for (Way& way : ways) {
            const Trip trip = Run(root, appDir, count, way.jobs, way.keep);
            if (trip.ms < way.best.ms) {
                way.best = trip;
            }
        }
    }

    std::printf("saves: %zu, tool run: %ld ms, best of %ld rounds\n", count, toolMs, rounds);
    std::printf("%-18s %5s %10s %10s %10s %7s\n", "", "jobs", "runs/save", "wall ms", "floor ms",
                "ratio");
    for (const Way& way : ways) {
        const double floor = 3.0 * static_cast<double>(count) * static_cast<double>(toolMs) /
                             static_cast<double>(way.jobs);
        std::printf("%-18s %5zu %10.2f %10.0f %10.0f %7.2f\n", way.name, way.jobs,
                    way.best.runsPerSave, way.best.ms, floor, way.best.ms / floor);
    }
    std::printf("goals for the defaults: at most 3.00 runs per save, a ratio of at most 1.15\n");
    fs::remove_all(root);
    return 0;
}
