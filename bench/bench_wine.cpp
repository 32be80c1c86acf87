// A Windows cipher tool through Wine: converts saves with a minimal Windows tool through the
// bridge (one Wine start per batch, then one process start inside Wine per tool run), and
// times the same tool runs as bare `wine TOOL ARG` starts, each a Wine start of its own, in
// the same run. A save takes four tool runs (decipher, its witness, encipher, decipher the
// proof), so a save through the bridge is set against four bare starts.
//
// The floor is warm: the bare starts are made one at a time, nothing else running, while the
// wineserver runs (an idle bridge keeps it). The machine's load changes within seconds, so
// each round is one batch of SAVES/ROUNDS saves with the default jobs and its own bridge
// starts, and as many bare starts as it makes tool runs, the two taking turns going first; the
// median round is what counts. A batch with one job is timed each round too, and single runs
// through a running bridge alternate with single bare starts for the figures per run, split by
// the times the minimal tool prints into the wait for its start, its work and the wait for its
// end to be seen.
//   bench_wine [SAVES] [ROUNDS]   (default 120 6; WINEPREFIX, when set, is used, else a prefix
//                                  of the build's)

#include "Report.h"
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
#include <optional>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using ostrapel::BatchRequest;
using ostrapel::BatchResult;
using ostrapel::CommandLine;
using ostrapel::Scn_Process;

namespace {

constexpr int kRunsPerSave = 4; // decipher, its witness, encipher, decipher the proof
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

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double value : values) {
        sum += value;
    }
    return sum / static_cast<double>(values.size());
}

double Best(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

// The host's clock as Wine's QueryPerformanceCounter counts, which the minimal tool prints.
double RawMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Where one run's time went: until the tool's wmain began, the tool's own work, and from its
// end until the run was seen to be over.
struct Phases {
    double toStart = 0;
    double running = 0;
    double toSeen = 0;
};

// The phases of a run from before to after (RawMilliseconds), by what the minimal tool printed:
// "ran BEGAN ENDED". None when the figures do not fall within the run (a Wine whose counter
// is another clock).
std::optional<Phases> PhasesOf(double before, double after, const std::string& output) {
    double began = 0;
    double ended = 0;
    const std::size_t at = output.rfind("ran ");
    if (at == std::string::npos ||
        std::sscanf(output.c_str() + at, "ran %lf %lf", &began, &ended) != 2 || began < before ||
        ended < began || after < ended) {
        return std::nullopt;
    }
    return Phases{began - before, ended - began, after - ended};
}

struct PhaseList {
    std::vector<double> toStart;
    std::vector<double> running;
    std::vector<double> toSeen;
    void add(const std::optional<Phases>& phases) {
        if (phases) {
            toStart.push_back(phases->toStart);
            running.push_back(phases->running);
            toSeen.push_back(phases->toSeen);
        }
    }
    void print(const char* what) const {
        if (toStart.empty()) {
            std::printf("  %-28s not known (the tool's clock is not the host's)\n", what);
            return;
        }
        std::printf("  %-28s %8.1f       %8.1f    %8.1f\n", what, Median(toStart), Median(running),
                    Median(toSeen));
    }
};

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

// Bare starts, `wine TOOL /decrypt:Z:\...`, each a Wine start of its own.
class BareStarts {
public:
    BareStarts(std::string wine, std::string tool, const fs::path& file)
        : wine_(std::move(wine)), tool_(std::move(tool)), windowsPath_("Z:" + file.string()) {
        std::replace(windowsPath_.begin(), windowsPath_.end(), '/', '\\');
    }
    // Makes one start: its ms. Now and then Wine's loader fails on its way out (an assertion
    // of the system's dynamic loader); such a start is made again, and only the one that
    // succeeds is counted, which favours the bare side.
    double start(PhaseList* phases = nullptr) {
        for (int attempt = 0;; ++attempt) {
            const auto start = Clock::now();
            const double before = RawMilliseconds();
            const ostrapel::ProcessOutcome outcome = runner_.Run_Process(
                CommandLine{wine_, {tool_, "/decrypt:" + windowsPath_}}, Scn_Process::kHidden);
            const double after = RawMilliseconds();
            const double took = Milliseconds(Clock::now() - start);
            if (outcome.succeeded()) {
                if (phases != nullptr) {
                    phases->add(PhasesOf(before, after, outcome.output));
                }
                return took;
            }
            std::fprintf(stderr, "a bare wine start failed, %s: %s\n",
                         outcome.phrase().English().c_str(), outcome.lastOutputLine().c_str());
            Check(attempt < 2, "a bare wine start, three times");
            ++failed_;
        }
    }
    int failed() const { return failed_; }

private:
    std::string wine_;
    std::string tool_;
    std::string windowsPath_;
    Scn_Process runner_;
    int failed_ = 0;
};

// One batch alone with a runner of its own, so its bridge starts are counted: ms per save.
double Batch(const std::string& appDir, const fs::path& saves, std::size_t count,
             std::size_t jobs) {
    BatchRequest request;
    request.saveFolder = saves.string();
    request.names = WriteSaves(saves, count);
    request.appDir = appDir;
    request.valueText = "200";
    request.jobs = jobs;
    const auto start = Clock::now();
    Scn_Process runner;
    runner.UseWineBridge(OSTRAPEL_WINE_BRIDGE);
    BatchResult result = ostrapel::ConvertSaves(request, runner);
    const double took = Milliseconds(Clock::now() - start);
    if (!result.allChanged()) {
        std::fprintf(stderr, "%s\n", FullReport(result).c_str());
    }
    Check(result.allChanged(), "the batch through Wine");
    return took / static_cast<double>(count);
}

// As many bare starts as a batch of count saves makes tool runs, made by `at` threads at once
// and nothing else running: ms per save.
double BareRound(std::vector<BareStarts>& bare, std::size_t count, std::size_t at) {
    const std::size_t starts = count * kRunsPerSave;
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < at; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t i = t; i < starts; i += at) {
                bare[t].start();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return Milliseconds(Clock::now() - start) / static_cast<double>(count);
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t saves = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 120;
    const std::size_t rounds = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 6;
    const std::size_t jobs = ostrapel::DefaultJobs();
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
    const fs::path bridgedFile = root / "bridged.sav";
    std::ofstream(bridgedFile, std::ios::binary) << std::string(2048, 's');
    // One file for each thread of bare starts: the tool opens its file for itself alone.
    std::vector<BareStarts> bare;
    for (std::size_t t = 0; t < jobs; ++t) {
        const fs::path file = root / ("bare " + std::to_string(t) + ".sav");
        std::ofstream(file, std::ios::binary) << std::string(2048, 's');
        bare.emplace_back(wine, tool, file);
    }

    std::printf("Goal: a save converted through the Wine bridge takes at most %.2f times as long "
                "as its %d tool runs started as bare `wine TOOL ARG`, one at a time, with the "
                "wineserver running\n",
                kGoal, kRunsPerSave);
    std::printf("Wine %s, prefix %s%s\n", wine.c_str(), std::getenv("WINEPREFIX"),
                ostrapel::WinePrefixReady(std::getenv("WINEPREFIX"))
                    ? ""
                    : " (setting it up first, not timed)");
    std::printf("load average before: %s (%u CPUs), %zu jobs (the default)\n",
                LoadAverage().c_str(), std::thread::hardware_concurrency(), jobs);
    std::fflush(stdout);
    const CommandLine bridged{tool, {"/decrypt:" + bridgedFile.string()}};
    // The wineserver and Wine's background programs end a few seconds after its last program
    // does, and the next start brings them back, which takes half a second or so: an idle
    // bridge kept throughout keeps them running for both sides, as `wineserver -p` would. The
    // floor is warm, as for a user who works with Wine.
    Scn_Process keeper;
    keeper.UseWineBridge(OSTRAPEL_WINE_BRIDGE);
    Check(keeper.Run_Process(bridged).succeeded(), "starting a bridge to keep");
    // Not counted: the prefix, the wineserver and the caches.
    Batch(appDir, root / "warm-up", 2, jobs);
    BareRound(bare, 2, jobs);

    const std::size_t perRound = saves / rounds;
    const std::size_t runsPerRound = perRound * kRunsPerSave;
    std::vector<double> batchSave;
    std::vector<double> oneJobSave;
    std::vector<double> bareSave;
    std::vector<double> bareAtOnceSave; // as many starts, the default jobs at a time
    std::vector<double> ratios;
    std::vector<double> atOnceRatios; // the batch against bareAtOnceSave, round by round
    std::vector<double> oneJobRatios; // oneJobSave against the round's floor
    std::vector<double> bridgedRuns;  // single runs through the running bridge
    std::vector<double> bareRuns;     // single bare starts, alternating with those
    std::vector<double> bridgeStarts;
    PhaseList bridgedPhases;
    PhaseList barePhases;
    auto timed = [](auto&& what) {
        const auto start = Clock::now();
        what();
        return Milliseconds(Clock::now() - start);
    };
    for (std::size_t round = 0; round < rounds; ++round) {
        // The batch and its floor alternate which goes first, as the load drifts.
        double batch = 0;
        double floor = 0;
        if (round % 2 == 0) {
            batch = Batch(appDir, root / "saves", perRound, jobs);
            floor = BareRound(bare, perRound, 1);
        } else {
            floor = BareRound(bare, perRound, 1);
            batch = Batch(appDir, root / "saves", perRound, jobs);
        }
        bareAtOnceSave.push_back(BareRound(bare, perRound, jobs));
        batchSave.push_back(batch);
        bareSave.push_back(floor);
        ratios.push_back(batch / floor);
        oneJobSave.push_back(Batch(appDir, root / "saves", perRound, 1));
        atOnceRatios.push_back(batch / bareAtOnceSave.back());
        oneJobRatios.push_back(oneJobSave.back() / floor);

        // Tool runs alone: one through the running bridge, then one bare start, and so on.
        std::vector<double> alone;
        for (std::size_t i = 0; i < runsPerRound; ++i) {
            alone.push_back(timed([&] {
                const double before = RawMilliseconds();
                const ostrapel::ProcessOutcome outcome =
                    keeper.Run_Process(bridged, Scn_Process::kHidden);
                bridgedPhases.add(PhasesOf(before, RawMilliseconds(), outcome.output));
                Check(outcome.succeeded(), "a run through the bridge");
            }));
            bareRuns.push_back(bare[0].start(&barePhases));
        }
        bridgedRuns.insert(bridgedRuns.end(), alone.begin(), alone.end());
        // A bridge's start: a fresh runner's first run, less a run.
        Scn_Process fresh;
        fresh.UseWineBridge(OSTRAPEL_WINE_BRIDGE);
        bridgeStarts.push_back(timed([&] {
                                   Check(
                                       fresh.Run_Process(bridged, Scn_Process::kHidden).succeeded(),
                                       "a run through a new bridge");
                               }) -
                               Median(alone));
        std::printf("  round %zu: %6.1f ms per save through the bridge, %6.1f ms of bare starts, "
                    "ratio %.2f; one job %6.1f ms per save\n",
                    round + 1, batch, floor, ratios.back(), oneJobSave.back());
        std::fflush(stdout);
    }
    const std::size_t runs = runsPerRound * rounds;

    const double ratio = Median(ratios);
    std::printf(
        "%zu saves in %zu rounds of %zu (a batch with its bridge starts, and %d bare starts "
        "a save, each round)\n",
        perRound * rounds, rounds, perRound, kRunsPerSave);
    std::printf("                                          median round   best round\n");
    std::printf("through the bridge, ms per save           %8.1f       %8.1f\n", Median(batchSave),
                Best(batchSave));
    std::printf("bare `wine TOOL ARG`, ms per %d starts     %8.1f       %8.1f\n", kRunsPerSave,
                Median(bareSave), Best(bareSave));
    std::printf("ratio (goal at most %.2f)                  %8.2f       %8.2f\n", kGoal, ratio,
                Best(batchSave) / Best(bareSave));
    std::printf("bare starts, %zu at a time, ms per %d starts %6.1f       %8.1f (ratio %.2f)\n",
                jobs, kRunsPerSave, Median(bareAtOnceSave), Best(bareAtOnceSave),
                Median(atOnceRatios));
    std::printf("through the bridge with one job, ms per save %5.1f       %8.1f (ratio %.2f)\n",
                Median(oneJobSave), Best(oneJobSave), Median(oneJobRatios));
    std::printf("per tool run (%zu each way, alternating, after each batch):\n", runs);
    std::printf("  median %.1f ms through a running bridge, %.1f ms a bare start, ratio %.2f\n",
                Median(bridgedRuns), Median(bareRuns), Median(bridgedRuns) / Median(bareRuns));
    std::printf("  mean   %.1f ms through a running bridge, %.1f ms a bare start, ratio %.2f\n",
                Mean(bridgedRuns), Mean(bareRuns), Mean(bridgedRuns) / Mean(bareRuns));
    std::printf(
        "  where it goes (median ms):   to the tool's start   its work   to its end seen\n");
    bridgedPhases.print("through a running bridge");
    barePhases.print("bare `wine TOOL ARG`");
    std::printf("a bridge start, once per batch and job: %.1f ms (median)\n", Median(bridgeStarts));
    int failed = 0;
    for (const BareStarts& starts : bare) {
        failed += starts.failed();
    }
    if (failed > 0) {
        std::printf("bare starts Wine failed and that were made again: %d\n", failed);
    }
    std::printf("load average after: %s\n", LoadAverage().c_str());
    std::printf("goal %s: ratio %.2f (median round) %s %.2f\n", ratio <= kGoal ? "met" : "NOT met",
                ratio, ratio <= kGoal ? "<=" : ">", kGoal);
    fs::remove_all(root);
    return 0;
}
