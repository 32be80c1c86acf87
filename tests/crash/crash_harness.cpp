// Crash consistency harness. Converts a folder of saves with ostrapel-cli and a slowed
// stand-in cipher tool, kills the program (or the tool under it) with SIGKILL at many moments
// of the batch, and checks after every kill that each save is byte for byte either as it was
// or as the batch makes it: never partial, never missing. Then `--restore` must bring every
// save back to what it was before the killed batch (or say there is nothing to undo when that
// batch replaced nothing). The next batch must remove what the killed one left behind,
// convert everything and leave the work folder empty, and a restore must undo it too. Batches
// run as many jobs as players get by default (the hang variant one).
//
//   crash_harness [--variant program|tool|hang|windows] [--kills N] [--saves N] [--seed N]
//                 [--short] [--windows-cli EXE --windows-tool EXE]
//   (--short: 8 saves and a few dozen kill points, for the test suite)
//
//   program  SIGKILL to ostrapel-cli. About 30% of the kill points are spread in time over the
//            passes that run the tool; about 15% are aimed into the writing of the backup set
//            (after its folder appears); the rest into the copy-back pass by counting the save
//            folder's file events (each replacement links in and renames a temporary there),
//            with a random delay after the chosen event.
//   tool     SIGKILL to the cipher tool at a random moment of a random run (the tool writes
//            its result in paced pieces, so kills land mid-write too).
//   windows  as program, with the Windows build's ostrapel-cli.exe and the Windows stand-in run
//            through Wine (WINEPREFIX as the environment gives it): the program is killed.
//   hang     the tool hangs on one run until killed. Mostly the hanging tool is killed; every
//            third time the program is, and a second batch must then keep off the work folder
//            while the orphaned tool lives.
//
// Prints "N kill points, M saves checked, D damaged, K left a temporary" last; exits 0 only
// when nothing was damaged and every other check held.

#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

namespace {

constexpr const char* kBusy = "Another conversion is using the work folder";
constexpr const char* kToolStillRunning =
    "The cipher tool is still running from a conversion that was interrupted";

// Whether a batch was refused because the work folder is in use.
bool RefusedAsBusy(const std::string& output) {
    return output.find(kBusy) != std::string::npos ||
           output.find(kToolStillRunning) != std::string::npos;
}
constexpr const char* kTemporaryPrefix = ".ostrapel-";
constexpr const char* kToolKilled = "cipher tool killed by signal 9 (Killed)";
// A hanging tool gives up by itself after this long, should nobody be left to kill it.
constexpr int kHangLimitMs = 120000;

enum class Variant { Program, Tool, Hang, Windows };

struct Options {
    Variant variant = Variant::Program;
    int kills = -1; // -1: the variant's default
    int saves = -1; // -1: 20, or 8 in a short run
    std::uint64_t seed = 20240601;
    bool shortRun = false;
    std::string windowsCli;  // the Windows build's ostrapel-cli.exe (variant windows)
    std::string windowsTool; // the Windows stand-in cipher tool (variant windows)
};

// A path as a Windows program under Wine takes it: on drive Z:.
std::string OnDriveZ(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

struct Save {
    std::string name;
    std::size_t size = 0;
    unsigned seed = 0;
    int value = -1; // the DLC value it was last converted to; -1 while original
};

std::string Label(int value) {
    return std::to_string(value / 100) + ".00";
}

// The bytes of a save as original (value -1) or converted to value; kept once made.
const std::string& Content(const Save& save, int value) {
    static std::map<std::pair<unsigned, int>, std::string> made;
    auto [it, added] = made.try_emplace({save.seed, value});
    if (added) {
        it->second = value < 0 ? testsupport::EncipheredSave(save.size, save.seed)
                               : testsupport::ConvertedSave(save.size, save.seed, value);
    }
    return it->second;
}

using testsupport::ReadIfThere;

std::vector<std::string> EntriesOf(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

std::vector<std::string> SplitNul(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The children of every thread of the process: with several jobs, helper threads start tools.
std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        const std::string list = ReadIfThere(task.path().string() + "/children").value_or("");
        const char* at = list.c_str();
        for (char* end = nullptr;; at = end) {
            const long child = std::strtol(at, &end, 10);
            if (end == at) {
                break;
            }
            children.push_back(static_cast<pid_t>(child));
        }
    }
    return children;
}

std::vector<std::string> CommandLineOf(pid_t pid) {
    return SplitNul(ReadIfThere("/proc/" + std::to_string(pid) + "/cmdline").value_or(""));
}

int OpenPidFd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// Waits until the process has ended or the deadline has passed; true when it has ended.
bool WaitEndUntil(int pidFd, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            pollfd fd{pidFd, POLLIN, 0};
            return ::poll(&fd, 1, 0) > 0;
        }
        timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                         static_cast<long>(left.count() % 1000000000)};
        pollfd fd{pidFd, POLLIN, 0};
        int rc = ::ppoll(&fd, 1, &timeout, nullptr);
        if (rc > 0) {
            return true;
        }
        if (rc < 0 && errno != EINTR) {
            return false;
        }
    }
}

int WaitStatus(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool KilledBySigkill(int status) {
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

class Harness {
public:
    explicit Harness(const Options& options) : options_(options), rng_(options.seed) {}

    int run();

private:
    struct Run {
        pid_t pid = -1;
        int pidFd = -1;
        std::string output;
    };

    void setUp();
    Run start(const std::string& label, const std::string& faults);
    Run startArgs(const std::vector<std::string>& args, const std::string& faults);
    // Waits for the program's end; returns its wait status and reads its output.
    int finish(Run& run);
    std::string runToEnd(const std::string& label, const std::string& faults, int& status);
    // Runs ostrapel-cli with args to its end; returns its output.
    std::string runCli(const std::vector<std::string>& args, int& status);
    // Runs --restore and checks that every save is back to the given values (-1: original);
    // exit status 2, nothing to undo, is accepted only when mayHaveNone.
    void restoreAndCheck(const std::vector<int>& before, bool mayHaveNone, const std::string& when);
    // Undoes every batch not undone yet; the saves end as originals.
    void undoAll();
    std::vector<int> values() const;

    int nextValue();
    // Checks every save after an interruption; saves found converted take the new value.
    // Returns how many were converted; counts the damaged and the temporaries.
    std::size_t checkSaves(int value, const std::string& when);
    void checkComplete(int value, const std::string& when);
    // The batch after a killed one: must convert everything and leave nothing behind.
    void recover(int value);
    void reapOrphans();
    void fail(const std::string& what);

    void runProgramVariant();
    void calibrate();
    enum class Aim { Time, Backup, CopyBack };
    void programRound(Aim aim);
    void runToolVariant();
    void runHangVariant();
    // Whether the stand-in ran more than a save's three times on the named save: a run killed
    // beside others was tried again alone.
    bool ranAgain(const std::string& name) const;
    // Finds the tool run of the given argument among the program's children.
    pid_t waitForTool(const Run& run, const std::string& argument, Clock::duration limit);
    void checkOneNotChanged(const Run& run, int status, std::size_t index, int value,
                            const std::string& when);
    void drainEvents();
    void drainBackupEvents();
    std::size_t readEvents();

    // The stand-in's rule that slows every run a little.
    std::string slowDown() const { return "any:sleep=" + std::to_string(sleepMs_) + ":*"; }
    long uniform(long low, long high) {
        return std::uniform_int_distribution<long>(low, high)(rng_);
    }

    Options options_;
    std::mt19937_64 rng_;
    testsupport::TempDir root_;
    std::string app_;
    std::string cli_;
    std::string work_;
    std::string saves_;
    std::string savesArg_; // the save folder as the program is given it
    std::string outPath_;
    std::string toolLog_; // the stand-in's runs in the batch last started
    std::string backups_;
    std::vector<Save> state_;
    int inotify_ = -1;
    int backupInotify_ = -1; // creations in the save folder's backups folder
    int sleepMs_ = 5;
    int paceMs_ = 8;

    // Calibration of the program variant.
    double copyBackStartUs_ = 0;
    double batchUs_ = 0;
    double copyBackEvents_ = 0;
    double backupUs_ = 0; // from the set's folder appearing to the first replacement

    long killPoints_ = 0;
    long savesChecked_ = 0;
    long damaged_ = 0;
    long leftTemporary_ = 0;
    long leftInWorkFolder_ = 0;
    long missed_ = 0;
    long beforeCopyBack_ = 0;
    long inCopyBack_ = 0;
    long afterLastReplace_ = 0;
    long inBackup_ = 0;
    long restores_ = 0;
    long nothingToUndo_ = 0;
    long refusedWhileToolLived_ = 0;
    long suspendedToolsEnded_ = 0;
    long failures_ = 0;
};

void Harness::fail(const std::string& what) {
    ++failures_;
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
}

void Harness::setUp() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1); // tools orphaned by a kill become ours to reap
    app_ = testsupport::MakeProgramFolder(root_);
    cli_ = app_ + "ostrapel-cli";
    if (options_.variant != Variant::Windows) {
        fs::copy_file(OSTRAPEL_CLI_PATH, cli_);
    }
    work_ = app_ + "Decrypt/temp/";
    saves_ = root_ / "saves";
    outPath_ = root_ / "output.txt";
    toolLog_ = root_ / "tool.log";
    backups_ = root_ / "backups";
    ::setenv("OSTRAPEL_BACKUP_DIR", backups_.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1); // the save-folder locks
    testsupport::MakeDir(saves_);
    savesArg_ = saves_;
    if (options_.variant == Variant::Windows) {
        // The Windows build and the Windows stand-in, run through Wine.
        cli_ = app_ + "ostrapel-cli.exe";
        fs::copy_file(options_.windowsCli, cli_);
        fs::copy_file(options_.windowsTool, app_ + "Decrypt/decrypt.exe",
                      fs::copy_options::overwrite_existing);
        savesArg_ = OnDriveZ(saves_);
        ::setenv("OSTRAPEL_BACKUP_DIR", OnDriveZ(backups_).c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
    }
    if (options_.saves < 0) {
        options_.saves = options_.shortRun ? 8 : 20;
    }
    for (int i = 0; i < options_.saves; ++i) {
        Save save;
        char name[32];
        std::snprintf(name, sizeof name, "slot%02d.sav", i);
        save.name = name;
        // From 1 KB to about 120 KB, so a replacement takes long enough to be hit mid-way.
        save.size = 1000 + static_cast<std::size_t>(i) * 104729u % 120000u;
        save.seed = static_cast<unsigned>(i) + 1;
        testsupport::WriteFile(saves_ + "/" + save.name, Content(save, -1));
        state_.push_back(save);
    }
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0 || ::inotify_add_watch(inotify_, saves_.c_str(),
                                            IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        fail(std::string("inotify: ") + std::strerror(errno));
    }
    if (options_.shortRun) {
        sleepMs_ = 2;
        paceMs_ = 4;
    }
}

Harness::Run Harness::start(const std::string& label, const std::string& faults) {
    // As many jobs as players get by default, but for hangs: the hang rule would hold the
    // retry alone of the killed run too.
    if (options_.variant == Variant::Hang) {
        return startArgs({"--jobs", "1", "--dlc", label, savesArg_}, faults);
    }
    return startArgs({"--dlc", label, savesArg_}, faults);
}

Harness::Run Harness::startArgs(const std::vector<std::string>& args, const std::string& faults) {
    Run run;
    ::truncate(toolLog_.c_str(), 0);
    run.pid = ::fork();
    if (run.pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // no program left behind if the harness dies
        int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        if (faults.empty()) {
            ::unsetenv("STAND_IN_CIPHER_FAULTS");
        } else {
            ::setenv("STAND_IN_CIPHER_FAULTS", faults.c_str(), 1);
        }
        ::setenv("STAND_IN_CIPHER_LOG", toolLog_.c_str(), 1);
        std::string wine = "wine";
        std::vector<char*> argv{cli_.data()};
        if (options_.variant == Variant::Windows) {
            argv.insert(argv.begin(), wine.data());
        }
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    run.pidFd = OpenPidFd(run.pid);
    return run;
}

int Harness::finish(Run& run) {
    int status = WaitStatus(run.pid);
    if (run.pidFd >= 0) {
        ::close(run.pidFd);
        run.pidFd = -1;
    }
    run.output = ReadIfThere(outPath_).value_or("");
    std::erase(run.output, '\r'); // Windows lines
    return status;
}

std::string Harness::runToEnd(const std::string& label, const std::string& faults, int& status) {
    Run run = start(label, faults);
    status = finish(run);
    return run.output;
}

std::string Harness::runCli(const std::vector<std::string>& args, int& status) {
    Run run = startArgs(args, "");
    status = finish(run);
    return run.output;
}

std::vector<int> Harness::values() const {
    std::vector<int> now;
    for (const Save& save : state_) {
        now.push_back(save.value);
    }
    return now;
}

void Harness::restoreAndCheck(const std::vector<int>& before, bool mayHaveNone,
                              const std::string& when) {
    int status = 0;
    const std::string output = runCli({"--restore", savesArg_}, status);
    ++restores_;
    // The set of a batch killed before it replaced anything is passed over with a note.
    std::string rest = output;
    while (rest.rfind("Passed over the backup set ", 0) == 0 && rest.find("\n\n") != rest.npos) {
        rest.erase(0, rest.find("\n\n") + 2);
    }
    // Nothing to undo exits 2, or 1 when sets were passed over on the way.
    const int noneStatus = rest.size() == output.size() ? 2 : 1;
    const bool none = WIFEXITED(status) && WEXITSTATUS(status) == noneStatus &&
                      rest == "No conversion of " + savesArg_ + " to undo\n";
    if (none) {
        ++nothingToUndo_;
    }
    if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0) && !(none && mayHaveNone)) {
        fail(when + ", restore: exit status " + std::to_string(status) + ":\n" + output);
    }
    for (std::size_t i = 0; i < state_.size(); ++i) {
        Save& save = state_[i];
        auto content = ReadIfThere(saves_ + "/" + save.name);
        if (!content || *content != Content(save, before[i])) {
            ++damaged_;
            fail(when + ", restore: " + save.name + " is not as it was before the batch");
            testsupport::WriteFile(saves_ + "/" + save.name, Content(save, before[i]));
        }
        save.value = before[i];
    }
}

void Harness::undoAll() {
    for (int round = 0; round < 10; ++round) {
        int status = 0;
        const std::string output = runCli({"--restore", savesArg_}, status);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 2) {
            break;
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fail("undoing the calibration runs: exit status " + std::to_string(status) + ":\n" +
                 output);
            return;
        }
    }
    restoreAndCheck(std::vector<int>(state_.size(), -1), true, "after undoing every batch");
}

void Harness::reapOrphans() {
    int status;
    if (options_.variant == Variant::Windows) {
        // Wine's server is an orphan of ours too, and outlives the runs: only the ended are
        // reaped. A tool the killed program had created but not yet put in its job (it starts
        // suspended) is left waiting: it is ended here.
        const std::string tools = OnDriveZ(work_);
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc", ec)) {
            const std::string pid = entry.path().filename().string();
            if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            const std::vector<std::string> args = CommandLineOf(std::stoi(pid));
            if (!args.empty() && args.front().rfind(tools, 0) == 0) {
                ::kill(std::stoi(pid), SIGKILL);
                ++suspendedToolsEnded_;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        while (::waitpid(-1, &status, WNOHANG) > 0 || errno == EINTR) {
        }
        return;
    }
    while (::waitpid(-1, &status, 0) > 0 || errno == EINTR) {
    }
}

int Harness::nextValue() {
    std::set<int> used;
    for (const Save& save : state_) {
        used.insert(save.value < 0 ? 0 : save.value); // an original holds 0.00
    }
    std::vector<int> free;
    for (int value = 0; value <= 400; value += 100) {
        if (used.count(value) == 0) {
            free.push_back(value);
        }
    }
    return free[static_cast<std::size_t>(uniform(0, static_cast<long>(free.size()) - 1))];
}

std::size_t Harness::checkSaves(int value, const std::string& when) {
    std::size_t converted = 0;
    for (Save& save : state_) {
        ++savesChecked_;
        auto content = ReadIfThere(saves_ + "/" + save.name);
        if (!content) {
            ++damaged_;
            fail(when + ": " + save.name + " is missing");
        } else if (*content == Content(save, save.value)) {
            continue;
        } else if (*content == Content(save, value)) {
            save.value = value;
            ++converted;
        } else {
            ++damaged_;
            fail(when + ": " + save.name + " is damaged (" + std::to_string(content->size()) +
                 " bytes, expected " + std::to_string(Content(save, save.value).size()) + ")");
        }
        if (!content || *content != Content(save, save.value)) {
            // Put it back, so later kill points are judged on their own.
            testsupport::WriteFile(saves_ + "/" + save.name, Content(save, save.value));
        }
    }
    std::size_t temporaries = 0;
    for (const std::string& name : EntriesOf(saves_)) {
        if (name.rfind(kTemporaryPrefix, 0) == 0) {
            ++temporaries;
        } else if (std::none_of(state_.begin(), state_.end(),
                                [&](const Save& s) { return s.name == name; })) {
            fail(when + ": unexpected entry in the save folder: " + name);
        }
    }
    if (temporaries > 0) {
        ++leftTemporary_;
    }
    return converted;
}

void Harness::checkComplete(int value, const std::string& when) {
    for (const Save& save : state_) {
        if (save.value != value) {
            fail(when + ": " + save.name + " was not converted");
        }
    }
    for (const std::string& name : EntriesOf(saves_)) {
        if (name.rfind(kTemporaryPrefix, 0) == 0) {
            fail(when + ": a temporary is left in the save folder: " + name);
        }
    }
    if (!testsupport::LeftInWorkFolder(work_).empty()) {
        std::string left;
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(work_, ec)) {
            left += " " + entry.path().string().substr(work_.size());
        }
        fail(when + ": the work folder is not empty:" + left);
    }
}

void Harness::recover(int value) {
    const std::string when = "the batch after kill point " + std::to_string(killPoints_);
    int status = 0;
    std::string output = runToEnd(Label(value), "", status);
    if (RefusedAsBusy(output)) {
        // A tool of the killed run still works in the work folder; it must be waited for.
        ++refusedWhileToolLived_;
        checkSaves(value, when + " (refused)");
        savesChecked_ -= static_cast<long>(state_.size());
        reapOrphans();
        output = runToEnd(Label(value), "", status);
    }
    reapOrphans();
    checkSaves(value, when);
    savesChecked_ -= static_cast<long>(state_.size()); // counted per kill point only
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail(when + ": exit status " + std::to_string(status) + ":\n" + output);
    }
    checkComplete(value, when);
}

void Harness::drainEvents() {
    char buffer[65536];
    while (::read(inotify_, buffer, sizeof buffer) > 0) {
    }
}

std::size_t Harness::readEvents() {
    alignas(inotify_event) char buffer[65536];
    std::size_t count = 0;
    for (;;) {
        ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        if (got <= 0) {
            return count;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            ++count;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void Harness::calibrate() {
    constexpr int kRuns = 3;
    for (int i = 0; i < kRuns; ++i) {
        if (i == 1) {
            // The first batch made the save folder's backups folder; its sets appear in it.
            std::vector<std::string> folders = EntriesOf(backups_);
            std::erase_if(folders, [&](const std::string& name) { // a lock file beside it
                return !fs::is_directory(backups_ + "/" + name);
            });
            backupInotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (folders.size() != 1 || backupInotify_ < 0 ||
                ::inotify_add_watch(backupInotify_, (backups_ + "/" + folders[0]).c_str(),
                                    IN_CREATE | IN_ONLYDIR) < 0) {
                fail("the backups folder of the saves was not made");
                return;
            }
        }
        const int value = nextValue();
        drainEvents();
        const auto begin = Clock::now();
        Run run = start(Label(value), slowDown());
        std::optional<Clock::time_point> firstEvent;
        std::optional<Clock::time_point> setMade;
        std::size_t events = 0;
        for (;;) {
            pollfd fds[3] = {
                {run.pidFd, POLLIN, 0}, {inotify_, POLLIN, 0}, {backupInotify_, POLLIN, 0}};
            ::poll(fds, backupInotify_ >= 0 ? 3 : 2, -1);
            if ((fds[1].revents & POLLIN) != 0) {
                std::size_t got = readEvents();
                if (got > 0 && !firstEvent) {
                    firstEvent = Clock::now();
                }
                events += got;
            }
            if (backupInotify_ >= 0 && (fds[2].revents & POLLIN) != 0) {
                drainBackupEvents();
                if (!setMade) {
                    setMade = Clock::now();
                }
            }
            if ((fds[0].revents & POLLIN) != 0) {
                break;
            }
        }
        const auto end = Clock::now();
        int status = finish(run);
        events += readEvents();
        checkSaves(value, "calibration run");
        savesChecked_ -= static_cast<long>(state_.size());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !firstEvent) {
            fail("calibration run did not convert everything:\n" + run.output);
            return;
        }
        checkComplete(value, "calibration run");
        if (i == 0) {
            continue; // made the backups folder; the others are timed
        }
        if (!setMade || *setMade > *firstEvent) {
            fail("calibration run: no backup set was made before the first replacement");
            return;
        }
        backupUs_ += static_cast<double>(
                         std::chrono::duration_cast<Micros>(*firstEvent - *setMade).count()) /
                     (kRuns - 1);
        copyBackStartUs_ +=
            static_cast<double>(std::chrono::duration_cast<Micros>(*firstEvent - begin).count()) /
            (kRuns - 1);
        batchUs_ += static_cast<double>(std::chrono::duration_cast<Micros>(end - begin).count()) /
                    (kRuns - 1);
        copyBackEvents_ += static_cast<double>(events) / (kRuns - 1);
    }
    std::printf("calibration: batch %.0f ms, backup set written in %.1f ms, copy-back pass from "
                "%.0f ms, %.0f file events in it\n",
                batchUs_ / 1000, backupUs_ / 1000, copyBackStartUs_ / 1000, copyBackEvents_);
    undoAll();
}

void Harness::drainBackupEvents() {
    char buffer[4096];
    while (backupInotify_ >= 0 && ::read(backupInotify_, buffer, sizeof buffer) > 0) {
    }
}

void Harness::programRound(Aim aim) {
    const int value = nextValue();
    const std::vector<int> before = values();
    drainEvents();
    drainBackupEvents();
    Run run = start(Label(value), slowDown());
    if (aim == Aim::CopyBack) {
        const std::size_t target =
            static_cast<std::size_t>(uniform(1, std::max(1L, std::lround(copyBackEvents_))));
        const double gapUs = (batchUs_ - copyBackStartUs_) / std::max(1.0, copyBackEvents_);
        std::size_t seen = 0;
        for (;;) {
            pollfd fds[2] = {{run.pidFd, POLLIN, 0}, {inotify_, POLLIN, 0}};
            ::poll(fds, 2, -1);
            if ((fds[1].revents & POLLIN) != 0) {
                seen += readEvents();
                if (seen >= target) {
                    const auto delay = Micros(uniform(0, std::lround(gapUs)));
                    WaitEndUntil(run.pidFd, Clock::now() + delay);
                    ::kill(run.pid, SIGKILL);
                    break;
                }
            }
            if ((fds[0].revents & POLLIN) != 0) {
                break;
            }
        }
    } else if (aim == Aim::Backup) {
        // From the moment the set's folder appears to a little past the first replacement.
        pollfd fds[2] = {{run.pidFd, POLLIN, 0}, {backupInotify_, POLLIN, 0}};
        while (::poll(fds, 2, -1) > 0 && (fds[0].revents & POLLIN) == 0 &&
               (fds[1].revents & POLLIN) == 0) {
        }
        if ((fds[1].revents & POLLIN) != 0) {
            const auto delay = Micros(uniform(0, std::lround(backupUs_ * 1.2)));
            WaitEndUntil(run.pidFd, Clock::now() + delay);
            ::kill(run.pid, SIGKILL);
        }
    } else {
        const auto delay = Micros(uniform(0, std::lround(copyBackStartUs_)));
        WaitEndUntil(run.pidFd, Clock::now() + delay);
        ::kill(run.pid, SIGKILL);
    }
    const int status = finish(run);
    if (!KilledBySigkill(status)) {
        ++missed_; // the batch ended before the kill; not a kill point
        checkSaves(value, "a batch that ended before its kill");
        savesChecked_ -= static_cast<long>(state_.size());
        checkComplete(value, "a batch that ended before its kill");
        restoreAndCheck(before, false, "a batch that ended before its kill");
        return;
    }
    ++killPoints_;
    const std::string when = "kill point " + std::to_string(killPoints_);
    const long temporariesBefore = leftTemporary_;
    const std::size_t converted = checkSaves(value, when);
    const bool temporary = leftTemporary_ != temporariesBefore;
    bool allConverted = std::all_of(state_.begin(), state_.end(),
                                    [&](const Save& save) { return save.value == value; });
    if (allConverted && converted > 0) {
        ++afterLastReplace_;
    } else if (converted > 0 || temporary || aim == Aim::CopyBack) {
        ++inCopyBack_;
    } else if (aim == Aim::Backup) {
        ++inBackup_;
    } else {
        ++beforeCopyBack_;
    }
    if (!testsupport::LeftInWorkFolder(work_).empty()) {
        ++leftInWorkFolder_;
    }
    // Whatever the killed batch replaced goes back; when it replaced nothing, it may have
    // left nothing to undo.
    restoreAndCheck(before, converted == 0, when);
    recover(value);
    restoreAndCheck(before, false, "the batch after kill point " + std::to_string(killPoints_));
}

void Harness::runProgramVariant() {
    const long kills = options_.kills >= 0 ? options_.kills : (options_.shortRun ? 24 : 240);
    calibrate();
    if (failures_ > 0) {
        return;
    }
    // At least half of the kill points inside the copy-back pass; aim more when short of it.
    for (long round = 0;
         round < 4 * kills && (killPoints_ < kills || 2 * inCopyBack_ < killPoints_); ++round) {
        const long pick = uniform(0, 99);
        const Aim aim = pick < 55 || 2 * inCopyBack_ <= killPoints_ ? Aim::CopyBack
                        : pick < 70                                 ? Aim::Backup
                                                                    : Aim::Time;
        programRound(aim);
    }
    std::printf("kill points: %ld before the backup, %ld while writing it, %ld in the copy-back "
                "pass, %ld after the last replacement; %ld batches ended before their kill (not "
                "counted)\n",
                beforeCopyBack_, inBackup_, inCopyBack_, afterLastReplace_, missed_);
    std::printf("kills that left files in the work folder: %ld; next batches refused while a "
                "killed run's tool still ran: %ld\n",
                leftInWorkFolder_, refusedWhileToolLived_);
    if (options_.variant == Variant::Windows) {
        std::printf("tools left suspended by a kill, ended by the harness: %ld\n",
                    suspendedToolsEnded_);
    }
    if (2 * inCopyBack_ < killPoints_) {
        fail("fewer than half of the kill points landed in the copy-back pass");
    }
}

bool Harness::ranAgain(const std::string& name) const {
    // A save takes three runs: decipher, encipher, and the decipher of the proof.
    const std::string log = ReadIfThere(toolLog_).value_or("");
    std::size_t runs = 0;
    for (std::size_t at = log.find(' ' + name + '\n'); at != std::string::npos;
         at = log.find(' ' + name + '\n', at + 1)) {
        ++runs;
    }
    return runs > 3;
}

pid_t Harness::waitForTool(const Run& run, const std::string& argument, Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        for (pid_t child : ChildrenOf(run.pid)) {
            std::vector<std::string> args = CommandLineOf(child);
            if (args.size() == 2 && (argument.empty() || args[1] == argument)) {
                return child;
            }
        }
        if (WaitEndUntil(run.pidFd, Clock::now() + Micros(200))) {
            return -1;
        }
    }
    return -1;
}

// After a batch in which the tool run for one save was killed: with one job that save is as it
// was and named with the kill, every other save is converted; with several, the save is tried
// again alone and converted too.
void Harness::checkOneNotChanged(const Run& run, int status, std::size_t index, int value,
                                 const std::string& when) {
    if (options_.variant != Variant::Hang) {
        checkSaves(value, when);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fail(when + ": exit status " + std::to_string(status) + ":\n" + run.output);
        }
        checkComplete(value, when);
        return;
    }
    checkSaves(value, when);
    const std::string expected = state_[index].name + ": " + kToolKilled;
    if (run.output.find(expected) == std::string::npos) {
        fail(when + ": the report does not say \"" + expected + "\":\n" + run.output);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 1) {
        fail(when + ": exit status " + std::to_string(status));
    }
    for (std::size_t i = 0; i < state_.size(); ++i) {
        const bool changed = state_[i].value == value;
        if (changed == (i == index)) {
            fail(when + ": " + state_[i].name + (changed ? " was changed" : " was not changed"));
        }
    }
    if (!testsupport::LeftInWorkFolder(work_).empty()) {
        fail(when + ": the work folder is not empty");
    }
}

namespace {

// One of a save's three tool runs: the decipher of its work copy, the encipher, and the
// decipher of a scratch copy that proves the enciphered result.
struct ToolRun {
    std::string direction;
    std::string folder; // inside the work folder, ending in '/'; empty for the work copy
};

ToolRun PickRun(long which) {
    switch (which) {
    case 0:
        return {"decrypt", ""};
    case 1:
        return {"encrypt", ""};
    default:
        return {"decrypt", ".scratch/"};
    }
}

} // namespace

void Harness::runToolVariant() {
    const long kills = options_.kills >= 0 ? options_.kills : (options_.shortRun ? 12 : 200);
    const std::string faults = slowDown() + ";any:pace=" + std::to_string(paceMs_) + ":*";
    for (long round = 0; round < 3 * kills && killPoints_ < kills; ++round) {
        const int value = nextValue();
        const std::vector<int> before = values();
        const std::size_t index =
            static_cast<std::size_t>(uniform(0, static_cast<long>(state_.size()) - 1));
        const ToolRun which = PickRun(uniform(0, 2));
        const std::string argument =
            "/" + which.direction + ":" + work_ + which.folder + state_[index].name;
        Run run = start(Label(value), faults);
        const pid_t tool =
            waitForTool(run, argument, std::chrono::seconds(60 * testsupport::kTimeFactor));
        if (tool > 0) {
            // Anywhere in the run: starting, sleeping, reading, writing its pieces, ending.
            const auto delay = Micros(uniform(0, (sleepMs_ + paceMs_) * 1000L));
            WaitEndUntil(run.pidFd, Clock::now() + delay);
            const std::vector<std::string> args = CommandLineOf(tool);
            if (args.size() == 2 && args[1] == argument) {
                ::kill(tool, SIGKILL);
            }
        }
        const int status = finish(run);
        if (!ranAgain(state_[index].name)) {
            ++missed_; // the run had ended before the kill
            checkSaves(value, "a batch whose tool ended before its kill");
            savesChecked_ -= static_cast<long>(state_.size());
            checkComplete(value, "a batch whose tool ended before its kill");
            restoreAndCheck(before, false, "a batch whose tool ended before its kill");
            continue;
        }
        ++killPoints_;
        const std::string when = "tool kill point " + std::to_string(killPoints_);
        checkOneNotChanged(run, status, index, value, when);
        restoreAndCheck(before, false, when);
    }
    std::printf("tool runs that ended before their kill (not counted): %ld\n", missed_);
}

void Harness::runHangVariant() {
    const long kills = options_.kills >= 0 ? options_.kills : (options_.shortRun ? 6 : 60);
    for (long round = 0; round < kills; ++round) {
        const int value = nextValue();
        const std::vector<int> before = values();
        const std::size_t index =
            static_cast<std::size_t>(uniform(0, static_cast<long>(state_.size()) - 1));
        // A fault rule names a save and a direction, not a folder, so a hang goes to the first
        // run of its direction: the work copy's decipher, or the encipher of the unpatched plain
        // form that witnesses it.
        ToolRun hung = PickRun(uniform(0, 1));
        if (hung.direction == "encrypt") {
            hung.folder = ".scratch/";
        }
        const std::string& name = state_[index].name;
        Run run = start(Label(value), slowDown() + ";" + hung.direction +
                                          ":hang=" + std::to_string(kHangLimitMs) + ":" + name);
        const std::string when =
            "hang " + std::to_string(round + 1) + " (" + hung.direction + " " + name + ")";
        pid_t tool = waitForTool(run, "/" + hung.direction + ":" + work_ + hung.folder + name,
                                 std::chrono::seconds(60 * testsupport::kTimeFactor));
        if (tool < 0) {
            fail(when + ": the hanging tool was not seen");
            ::kill(run.pid, SIGKILL);
            finish(run);
            continue;
        }
        WaitEndUntil(run.pidFd, Clock::now() + Micros(uniform(2000, 30000)));
        ++killPoints_;
        if (round % 3 != 2) {
            ::kill(tool, SIGKILL);
            const int status = finish(run);
            checkOneNotChanged(run, status, index, value, when);
            restoreAndCheck(before, false, when);
            continue;
        }
        // The program dies; its tool hangs on, orphaned, inside the work folder.
        ::kill(run.pid, SIGKILL);
        finish(run);
        if (checkSaves(value, when) != 0) {
            fail(when + ": a save was replaced before the tool runs had ended");
        }
        int status = 0;
        const std::string output = runToEnd(Label(value), "", status);
        if (output.find(kToolStillRunning) == std::string::npos || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 1) {
            fail(when + ": a second batch ran while the orphaned tool lived:\n" + output);
        } else {
            ++refusedWhileToolLived_;
        }
        checkSaves(value, when + ", second batch");
        savesChecked_ -= static_cast<long>(state_.size());
        // Killed before any replacement: nothing of it to undo, and the saves stay.
        restoreAndCheck(before, true, when);
        ::kill(tool, SIGKILL);
        reapOrphans();
        recover(value);
        restoreAndCheck(before, false, when + ", the batch after it");
    }
    std::printf("second batches refused while an orphaned tool hung: %ld\n",
                refusedWhileToolLived_);
}

int Harness::run() {
    setUp();
    const char* names[] = {"program", "tool", "hang", "windows"};
    std::printf("variant %s, %d saves, seed %llu%s\n", names[static_cast<int>(options_.variant)],
                options_.saves, static_cast<unsigned long long>(options_.seed),
                options_.shortRun ? ", short run" : "");
    std::fflush(stdout);
    if (failures_ == 0) {
        switch (options_.variant) {
        case Variant::Program:
        case Variant::Windows:
            runProgramVariant();
            break;
        case Variant::Tool:
            runToolVariant();
            break;
        case Variant::Hang:
            runHangVariant();
            break;
        }
    }
    std::printf("restores after kills and the batches after them: %ld (%ld with nothing to "
                "undo)\n",
                restores_, nothingToUndo_);
    std::printf("%ld kill points, %ld saves checked, %ld damaged, %ld left a temporary\n",
                killPoints_, savesChecked_, damaged_, leftTemporary_);
    if (failures_ > 0) {
        std::printf("%ld checks failed\n", failures_);
    }
    return failures_ == 0 && killPoints_ > 0 ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr, "usage: crash_harness [--variant program|tool|hang|windows] [--kills N] "
                         "[--saves N] [--seed N] [--short]\n"
                         "       [--windows-cli EXE --windows-tool EXE] (variant windows)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--short") {
            options.shortRun = true;
        } else if (arg == "--variant" && hasValue) {
            const std::string variant = argv[++i];
            if (variant == "program") {
                options.variant = Variant::Program;
            } else if (variant == "tool") {
                options.variant = Variant::Tool;
            } else if (variant == "hang") {
                options.variant = Variant::Hang;
            } else if (variant == "windows") {
                options.variant = Variant::Windows;
            } else {
                return Usage();
            }
        } else if (arg == "--windows-cli" && hasValue) {
            options.windowsCli = argv[++i];
        } else if (arg == "--windows-tool" && hasValue) {
            options.windowsTool = argv[++i];
        } else if (arg == "--kills" && hasValue) {
            options.kills = std::atoi(argv[++i]);
        } else if (arg == "--saves" && hasValue) {
            options.saves = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--seed" && hasValue) {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else {
            return Usage();
        }
    }
    if (options.variant == Variant::Windows &&
        (options.windowsCli.empty() || options.windowsTool.empty())) {
        return Usage();
    }
    try {
        return Harness(options).run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crash_harness: %s\n", error.what());
        return 1;
    }
}
