// A Windows cipher tool through Wine: converts saves with a minimal Windows tool through the
// bridge (one Wine start per batch, then one process start inside Wine per tool run), and
// times the same tool runs as bare `wine TOOL ARG` starts, each a Wine start of its own, in
// the same run. A save takes three tool runs (decipher, encipher, decipher the proof), so a
// save through the bridge is set against three bare starts.
//
// The machine's load varies while it runs, so the two are timed in alternating rounds (each
// round one batch of its own, with its bridge start) and the median round is what counts.
//   bench_wine [SAVES] [ROUNDS]   (default 120 6; WINEPREFIX, when set, is used, else a prefix
//                                  of the build's)

#include "conversion/ConvertSaves.h"
#include "system/Paths.h"
#include "system/Process.h"
#include "system/Wine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using ostrapel::BatchRequest;
using ostrapel::BatchResult;
using ostrapel::CommandLine;
using ostrapel::Scn_Process;

namespace {

constexpr int kRunsPerSave = 3; // decipher, encipher, decipher the proof
constexpr double kGoal = 1.25;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench_wine: %s failed\n", what);
        std::exit(1);
    }
}

std::string LoadAverage() {
    double load[3] = {};
    if (::getloadavg(load, 3) != 3) {
        return "unknown";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Best(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
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

// One batch with a runner of its own, so its bridge start is counted: ms per save.
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
    return Milliseconds(took) / static_cast<double>(count);
}

// Bare starts, `wine TOOL /decrypt:Z:\...`, each a Wine start of its own: ms of each.
std::vector<double> Bare(const std::string& wine, const std::string& tool, const fs::path& file,
                         int starts) {
    std::string windowsPath = "Z:" + file.string();
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    Scn_Process runner;
    std::vector<double> took;
    for (int i = 0; i < starts; ++i) {
        const auto start = Clock::now();
        const ostrapel::ProcessOutcome outcome = runner.Run_Process(
            CommandLine{wine, {tool, "/decrypt:" + windowsPath}}, Scn_Process::kHidden);
        took.push_back(Milliseconds(Clock::now() - start));
        if (!outcome.succeeded()) {
            std::fprintf(stderr, "%s: %s\n", outcome.describe().c_str(), outcome.output.c_str());
        }
        Check(outcome.succeeded(), "a bare wine start");
    }
    return took;
}

// The same tool runs through one runner's bridge, without the batch's file work: ms of each,
// the first with the bridge's start.
std::vector<double> Bridged(const std::string& tool, const fs::path& file, int runs) {
    Scn_Process runner;
    runner.UseWineBridge(OSTRAPEL_WINE_BRIDGE);
    std::vector<double> took;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const bool ran =
            runner
                .Run_Process(CommandLine{tool, {"/decrypt:" + file.string()}}, Scn_Process::kHidden)
                .succeeded();
        took.push_back(Milliseconds(Clock::now() - start));
        Check(ran, "a run through the bridge");
    }
    return took;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t saves = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 120;
    const std::size_t rounds = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 6;
    Check(rounds >= 1 && saves >= rounds, "the counts (SAVES at least ROUNDS, ROUNDS at least 1)");
    const std::string wine = ostrapel::FindWine();
    Check(!wine.empty(), "finding wine");
    if (std::getenv("WINEPREFIX") == nullptr) {
        ::setenv("WINEPREFIX", OSTRAPEL_BENCH_PREFIX, 1);
    }
    ::setenv("WINEDEBUG", "-all", 1);

    const fs::path root = fs::temp_directory_path() / ("bench-wine-" + std::to_string(::getpid()));
    const fs::path app = root / "app";
    fs::create_directories(app / "Decrypt" / "temp");
    fs::create_directories(app / "Backups"); // portable: the backups stay in the temporary
    fs::copy_file(OSTRAPEL_MINIMAL_WINDOWS_TOOL, app / "Decrypt" / "decrypt.exe");
    const std::string appDir = ostrapel::WithTrailingSeparator(app.string());
    const std::string tool = (app / "Decrypt" / "decrypt.exe").string();
    const fs::path bareFile = root / "bare.sav";
    std::ofstream(bareFile, std::ios::binary) << std::string(2048, 's');

    std::printf("Goal: a save converted through the Wine bridge takes at most %.2f times as long "
                "as its %d tool runs started as bare `wine TOOL ARG`\n",
                kGoal, kRunsPerSave);
    std::printf("Wine %s, prefix %s%s\n", wine.c_str(), std::getenv("WINEPREFIX"),
                ostrapel::WinePrefixReady(std::getenv("WINEPREFIX"))
                    ? ""
                    : " (setting it up first, not timed)");
    std::printf("load average before: %s (%u CPUs)\n", LoadAverage().c_str(),
                std::thread::hardware_concurrency());
    std::fflush(stdout);
    Batch(appDir, root / "warm-up", 2); // the prefix, wineserver and the caches, not timed
    Bare(wine, tool, bareFile, 2);

    const std::size_t perRound = saves / rounds;
    const int runsPerRound = static_cast<int>(perRound) * kRunsPerSave;
    std::vector<double> bridgeSave; // ms per save, one figure a round
    std::vector<double> bareSave;   // ms of kRunsPerSave bare starts, one figure a round
    std::vector<double> ratios;
    std::vector<double> bareRuns;  // ms of each bare start
    std::vector<double> aloneRuns; // ms of each run through a running bridge
    std::vector<double> bridgeStarts;
    for (std::size_t round = 0; round < rounds; ++round) {
        // The bare starts sit between the bridge's two measures; every other round turns
        // the order round, so a trend in the load weighs on both sides alike.
        const bool batchFirst = round % 2 == 0;
        double batch = 0;
        std::vector<double> alone;
        if (batchFirst) {
            batch = Batch(appDir, root / "saves", perRound);
        } else {
            alone = Bridged(tool, bareFile, runsPerRound + 1);
        }
        const std::vector<double> bare = Bare(wine, tool, bareFile, runsPerRound);
        if (batchFirst) {
            alone = Bridged(tool, bareFile, runsPerRound + 1);
        } else {
            batch = Batch(appDir, root / "saves", perRound);
        }
        double bareTotal = 0;
        for (double ms : bare) {
            bareTotal += ms;
        }
        const double barePerSave = bareTotal / static_cast<double>(perRound);
        bridgeSave.push_back(batch);
        bareSave.push_back(barePerSave);
        ratios.push_back(batch / barePerSave);
        bareRuns.insert(bareRuns.end(), bare.begin(), bare.end());
        const double running = Median(std::vector<double>(alone.begin() + 1, alone.end()));
        bridgeStarts.push_back(alone.front() - running);
        aloneRuns.insert(aloneRuns.end(), alone.begin() + 1, alone.end());
        std::printf("  round %zu: %6.1f ms per save through the bridge, %6.1f ms of bare starts, "
                    "ratio %.2f\n",
                    round + 1, batch, barePerSave, ratios.back());
        std::fflush(stdout);
    }

    const double ratio = Median(ratios);
    std::printf("%zu saves in %zu rounds of %zu (a batch and a bridge start each); %d tool runs "
                "a round each way\n",
                perRound * rounds, rounds, perRound, runsPerRound);
    std::printf("                                          median round   best round\n");
    std::printf("through the bridge, ms per save           %8.1f       %8.1f\n", Median(bridgeSave),
                Best(bridgeSave));
    std::printf("bare `wine TOOL ARG`, ms per %d starts     %8.1f       %8.1f\n", kRunsPerSave,
                Median(bareSave), Best(bareSave));
    std::printf("ratio (goal at most %.2f)                  %8.2f       %8.2f\n", kGoal, ratio,
                Best(bridgeSave) / Best(bareSave));
    std::printf("per tool run, median: %.1f ms through a running bridge (no batch file work), "
                "%.1f ms a bare start, ratio %.2f\n",
                Median(aloneRuns), Median(bareRuns), Median(aloneRuns) / Median(bareRuns));
    std::printf("a bridge start, once per batch: %.1f ms (median)\n", Median(bridgeStarts));
    std::printf("load average after: %s\n", LoadAverage().c_str());
    std::printf("goal %s: ratio %.2f (median round) %s %.2f\n", ratio <= kGoal ? "met" : "NOT met",
                ratio, ratio <= kGoal ? "<=" : ">", kGoal);
    fs::remove_all(root);
    return 0;
}
