// The whole trip a player makes in the window, through the window model: list a folder of
// SAVES saves, wait for their versions, apply a version, wait for the report.
//   bench_trip [SAVES] [TOOL_MS] [ROUNDS]   (default 48 saves, 50 ms per tool run, 3 rounds)
// With a cipher tool that takes TOOL_MS per run, the trip can take no less than four runs per
// save spread over the jobs (the reading's decipher, its witness, the encipher and its proof):
// the floor is 4 x SAVES x TOOL_MS / jobs. It prints the tool runs
// per save and the wall time against that floor, one job without kept deciphered saves beside
// the defaults (jobs and kept saves), the best of ROUNDS rounds each, taken in turns.

#include "WindowModel.h"
#include "conversion/ConvertSaves.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
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

// A window that draws nothing: it counts the versions read, answers the browser with the
// folder, and takes the workers' wake-ups on the bench's thread.
class Window final : public ostrapel::WindowView {
public:
    explicit Window(std::string folder) : folder_(std::move(folder)) {}

    void ShowRows(const std::vector<ostrapel::ListRow>&) override {}
    void ShowRow(std::size_t, const ostrapel::ListRow& row) override {
        readAtZero += row.version == "0.00" ? 1u : 0u;
    }
    void Select(std::size_t) override {}
    void ShowControls(const ostrapel::WindowControls&) override {}
    void ShowCaption(const std::string&) override {}
    void ShowListCaption(const ostrapel::ListCaption&) override {}
    void ShowValue(const std::string&) override {}
    void ShowReport(const ostrapel::ReportBox& box) override {
        changed = box.batch != nullptr && box.batch->allChanged() ? box.batch->changedCount : 0;
    }
    bool Ask(const ostrapel::Question&) override { return false; }
    std::optional<std::string> ChooseFolder() override { return folder_; }
    void StartPaceTimer(std::chrono::milliseconds) override {}
    void Close() override {}
    void Ended(Work work) override { ended_ = work; }

    void Post() {
        std::lock_guard lock(mutex_);
        posted_ = true;
        wake_.notify_all();
    }
    // Runs the window's thread until the work has ended.
    void RunUntilEnded(ostrapel::WindowModel& model, Work work) {
        ended_.reset();
        while (ended_ != work) {
            bool posted = false;
            {
                std::unique_lock lock(mutex_);
                posted =
                    wake_.wait_for(lock, std::chrono::milliseconds(15), [this] { return posted_; });
                posted_ = false;
            }
            if (posted) {
                model.Posted();
            }
            model.PaceElapsed();
        }
    }

    std::size_t readAtZero = 0;
    std::size_t changed = 0;

private:
    std::string folder_;
    std::optional<Work> ended_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool posted_ = false;
};

// Opens the folder, waits for the versions, applies 2.00 and waits for the report.
Trip Run(const fs::path& root, const std::string& appDir, std::size_t count, std::size_t jobs,
         bool keep) {
    const fs::path saves = root / "saves";
    const fs::path runLog = root / "runs";
    WriteSaves(saves, count);
    std::ofstream(runLog, std::ios::trunc).close();
    Window window(saves.string());
    ostrapel::WindowOptions options;
    options.appDir = appDir;
    options.jobs = jobs;
    if (!keep) {
        options.convert = [](const ostrapel::BatchRequest& request, ostrapel::Scn_Process& runner,
                             ostrapel::BatchObserver* observer) {
            ostrapel::BatchRequest without = request;
            without.deciphered = nullptr;
            return ostrapel::ConvertSaves(without, runner, observer);
        };
    }

    std::size_t read = 0;
    const auto start = Clock::now();
    {
        ostrapel::WindowModel model(
            window, [&window] { window.Post(); }, options);
        model.Show();
        model.OpenClicked();
        window.RunUntilEnded(model, ostrapel::WindowView::Work::Reading);
        read = window.readAtZero;
        model.VersionChosen("2.00");
        model.SaveClicked();
        window.RunUntilEnded(model, ostrapel::WindowView::Work::Batch);
    }
    const auto end = Clock::now();

    Check(read == count, "reading");
    Check(window.changed == count, "batch");
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
    Check(::setenv("OSTRAPEL_BACKUP_DIR", (root / "backups").c_str(), 1) == 0, "setenv");

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
        const double floor = 4.0 * static_cast<double>(count) * static_cast<double>(toolMs) /
                             static_cast<double>(way.jobs);
        std::printf("%-18s %5zu %10.2f %10.0f %10.0f %7.2f\n", way.name, way.jobs,
                    way.best.runsPerSave, way.best.ms, floor, way.best.ms / floor);
    }
    std::printf("goals for the defaults: at most 4.00 runs per save, a ratio of at most 1.15\n");
    fs::remove_all(root);
    return 0;
}
