// A Windows cipher tool through Wine: converts N saves with a minimal Windows tool through the
// bridge (one Wine start per batch, then one process start inside Wine per tool run), and
// times the same number of bare `wine TOOL ARG` starts in the same run, in alternating rounds.
//   bench_wine [N]   (default 60; WINEPREFIX, when set, is used, else a prefix of the build's)

#include "conversion/ConvertSaves.h"
#include "system/Paths.h"
#include "system/Process.h"
#include "system/Wine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using ostrapel::BatchRequest;
using ostrapel::BatchResult;
using ostrapel::CommandLine;
using ostrapel::Scn_Process;

namespace {

constexpr int kRounds = 4;
constexpr int kRunsPerSave = 3; // decipher, encipher, decipher the proof

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench_wine: %s failed\n", what);
        std::exit(1);
    }
}

std::vector<std::string> WriteSaves(const fs::path& folder, std::size_t count) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<std::string> names;
    const std::string content(2048, 's');
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back("save " + std::to_string(i) + ".sav");
        std::ofstream(folder / names.back(), std::ios::binary) << content;
    }
    return names;
}

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// One batch with a runner of its own, so its bridge start is counted.
double Batch(const std::string& appDir, const fs::path& saves, std::size_t count) {
    BatchRequest request;
    request.saveFolder = saves.string();
    request.names = WriteSaves(saves, count);
    request.appDir = appDir;
    request.valueText = "200";
    const auto start = Clock::now();
    Scn_Process runner;
    runner.UseWineBridge(OSTRAPEL_WINE_BRIDGE);
    BatchResult result = ostrapel::ConvertSaves(request, runner);
    const auto took = Clock::now() - start;
    if (!result.allChanged()) {
        std::fprintf(stderr, "%s\n", result.report.c_str());
    }
    Check(result.allChanged(), "the batch through Wine");
    return Seconds(took);
}

// Bare starts: `wine TOOL /decrypt:Z:\...`, each a Wine start of its own.
double Bare(const std::string& wine, const std::string& tool, const fs::path& file, int starts) {
    std::string windowsPath = "Z:" + file.string();
    for (char& c : windowsPath) {
        c = c == '/' ? '\\' : c;
    }
    Scn_Process runner;
    const auto start = Clock::now();
    for (int i = 0; i < starts; ++i) {
        const ostrapel::ProcessOutcome outcome = runner.Run_Process(
            CommandLine{wine, {tool, "/decrypt:" + windowsPath}}, Scn_Process::kHidden);
        if (!outcome.succeeded()) {
            std::fprintf(stderr, "%s: %s\n", outcome.describe().c_str(), outcome.output.c_str());
        }
        Check(outcome.succeeded(), "a bare wine start");
    }
    return Seconds(Clock::now() - start);
}

// The same tool runs through one runner's bridge, without the batch's own file work.
double Bridged(const std::string& tool, const fs::path& file, int runs) {
    Scn_Process runner;
    runner.UseWineBridge(OSTRAPEL_WINE_BRIDGE);
    const auto start = Clock::now();
    for (int i = 0; i < runs; ++i) {
        Check(
            runner
                .Run_Process(CommandLine{tool, {"/decrypt:" + file.string()}}, Scn_Process::kHidden)
                .succeeded(),
            "a run through the bridge");
    }
    return Seconds(Clock::now() - start);
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t saves = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 60;
    Check(saves >= kRounds, "the save count (at least 4)");
    const std::string wine = ostrapel::FindWine();
    Check(!wine.empty(), "finding wine");
    if (std::getenv("WINEPREFIX") == nullptr) {
        ::setenv("WINEPREFIX", OSTRAPEL_BENCH_PREFIX, 1);
    }
    ::setenv("WINEDEBUG", "-all", 1);

    const fs::path root = fs::temp_directory_path() / ("bench-wine-" + std::to_string(::getpid()));
    const fs::path app = root / "app";
    fs::create_directories(app / "Decrypt" / "temp");
    fs::copy_file(OSTRAPEL_MINIMAL_WINDOWS_TOOL, app / "Decrypt" / "decrypt.exe");
    const std::string appDir = ostrapel::WithTrailingSeparator(app.string());
    const std::string tool = (app / "Decrypt" / "decrypt.exe").string();
    const fs::path bareFile = root / "bare.sav";
    std::ofstream(bareFile, std::ios::binary) << std::string(2048, 's');

    std::printf("Wine prefix %s%s\n", std::getenv("WINEPREFIX"),
                ostrapel::WinePrefixReady(std::getenv("WINEPREFIX"))
                    ? ""
                    : " (setting it up first, not timed)");
    std::fflush(stdout);
    Batch(appDir, root / "warm-up", 2); // the prefix, wineserver and the caches, not timed
    Bare(wine, tool, bareFile, 2);

    double bridge = 0;
    double bare = 0;
    double bridged = 0;
    const std::size_t perRound = saves / kRounds;
    const int runsPerRound = static_cast<int>(perRound) * kRunsPerSave;
    for (int round = 0; round < kRounds; ++round) {
        bridge += Batch(appDir, root / "saves", perRound);
        bare += Bare(wine, tool, bareFile, runsPerRound);
        bridged += Bridged(tool, bareFile, runsPerRound);
    }
    const double converted = static_cast<double>(perRound * kRounds);
    const double runs = converted * kRunsPerSave;
    std::printf("%zu saves, %d rounds, %d tool runs per save (%.0f runs each way)\n",
                perRound * kRounds, kRounds, kRunsPerSave, runs);
    std::printf("through the bridge:   %7.1f ms per save, %6.1f ms per tool run (one bridge "
                "start per batch included)\n",
                1000 * bridge / converted, 1000 * bridge / runs);
    std::printf("bare `wine TOOL` starts: %7.1f ms per save, %6.1f ms per start\n",
                1000 * bare / converted, 1000 * bare / runs);
    std::printf("tool runs alone through the bridge (no batch file work): %6.1f ms per run\n",
                1000 * bridged / runs);
    std::printf("ratio, batch per save to bare starts (goal at most 1.25): %.2f\n", bridge / bare);
    std::printf("ratio, tool runs alone through the bridge to bare starts:  %.2f\n",
                bridged / bare);
    fs::remove_all(root);
    return 0;
}
