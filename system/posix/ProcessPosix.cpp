#include "system/Cancel.h"
#include "system/Paths.h"
#include "system/Process.h"
#include "system/Status.h"
#include "system/Wine.h"
#include "system/posix/WineRunner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ostrapel {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

// Keeps the tail of what the child prints.
void Keep(std::string& output, const char* data, std::size_t size) {
    output.append(data, size);
    if (output.size() > 2 * ProcessOutcome::kOutputKept) {
        output.erase(0, output.size() - ProcessOutcome::kOutputKept);
    }
}

// Reads what is available; false at end of file or on error.
bool Drain(int fd, std::string& output) {
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            Keep(output, buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got < 0 && errno == EAGAIN;
    }
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// A parent that ignores SIGCHLD makes the system reap children by itself, and then nobody
// can learn how they ended. The runner needs the default disposition.
void RestoreChildSignal() {
    struct sigaction current {};
    if (::sigaction(SIGCHLD, nullptr, &current) == 0 &&
        (current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0)) {
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        ::sigaction(SIGCHLD, &standard, nullptr);
    }
}

// Whether the child has ended, leaving it unreaped so its process group can still be ended.
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    int rc;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (rc < 0 && errno == EINTR);
    return rc < 0 || info.si_pid == pid;
}

enum class WaitEnd { Ended, TimedOut, Cancelled };

// Waits for the child's end while collecting its output, and for the time limit and the
// cancel flag. The child's end is noticed at once through a process descriptor, even when a
// grandchild keeps the output pipe open; without one it is looked for every few
// milliseconds.
WaitEnd Collect(pid_t pid, int pipeFd, const RunLimits& limits, std::string& output) {
    using Clock = std::chrono::steady_clock;
    const bool limited = limits.timeLimit.count() > 0;
    const Clock::time_point deadline = Clock::now() + limits.timeLimit;
    Fd pidFd(OpenPidFd(pid));
    const int cancelFd =
        limits.cancel != nullptr ? static_cast<int>(limits.cancel->waitHandle()) : -1;
    bool pipeOpen = true;
    for (;;) {
        if (limits.cancel != nullptr && limits.cancel->raised()) {
            return WaitEnd::Cancelled;
        }
        if (pidFd.get() < 0 && HasEnded(pid)) {
            break;
        }
        int waitMs = -1;
        if (limited) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return WaitEnd::TimedOut;
            }
            waitMs = static_cast<int>(std::min<long long>(left, 60'000));
        }
        if (pidFd.get() < 0 || (limits.cancel != nullptr && cancelFd < 0)) {
            waitMs = waitMs < 0 ? 5 : std::min(waitMs, 5);
        }
        pollfd fds[3];
        nfds_t count = 0;
        fds[count++] = {pidFd.get(), POLLIN, 0}; // a negative descriptor is skipped
        fds[count++] = {cancelFd, POLLIN, 0};
        if (pipeOpen) {
            fds[count++] = {pipeFd, POLLIN, 0};
        }
        int rc = ::poll(fds, count, waitMs);
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            return HasEnded(pid) ? WaitEnd::Ended : WaitEnd::Cancelled;
        }
        if (pipeOpen && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            pipeOpen = Drain(pipeFd, output);
        }
        if ((fds[0].revents & POLLIN) != 0) {
            break;
        }
    }
    if (pipeOpen) {
        Drain(pipeFd, output);
    }
    return WaitEnd::Ended;
}

std::mutex wineRunnerMade;

} // namespace

void Scn_Process::UseWineBridge(std::string path) {
    std::lock_guard<std::mutex> lock(wineRunnerMade);
    wineBridge_ = std::move(path);
    wine_.reset();
}

std::shared_ptr<WineRunner> Scn_Process::Wine() {
    std::lock_guard<std::mutex> lock(wineRunnerMade);
    if (!wine_) {
        wine_ = std::make_shared<WineRunner>(
            wineBridge_.empty() ? WineBridgeFor(ApplicationDirectory()) : wineBridge_);
    }
    return wine_;
}

std::string SignalName(int signal) {
    const char* name = ::strsignal(signal);
    return name != nullptr ? name : "unknown signal";
}

ProcessOutcome Scn_Process::Run_Process(const CommandLine& command, int WindowStyle,
                                        const RunLimits& limits) {
    (void)WindowStyle; // no windows to show here; the child never gets a terminal to read
    ProcessOutcome outcome;
    if (limits.cancel != nullptr && limits.cancel->raised()) {
        outcome.kind = ProcessOutcome::Kind::Cancelled;
        return outcome;
    }
    RestoreChildSignal();
    if (RunsThroughWine(command.program)) {
        return Wine()->run(command, limits);
    }

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        outcome.error = Status::ErrnoPhrase(errno);
        return outcome;
    }
    Fd readEnd(pipeFds[0]);
    Fd writeEnd(pipeFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    // A process group of its own: ending the group ends whatever the program started.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes,
        static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));

    std::vector<char*> argv;
    argv.reserve(command.arguments.size() + 2);
    argv.push_back(const_cast<char*>(command.program.c_str()));
    for (const std::string& argument : command.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    if (!limits.workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, limits.workingFolder.c_str());
    }
    // The environment as it is, with the run's own temporary folder when it has one.
    std::vector<std::string> variables;
    std::vector<char*> envp;
    if (!limits.temporaryFolder.empty()) {
        for (char** variable = environ; *variable != nullptr; ++variable) {
            if (!std::string_view(*variable).starts_with("TMPDIR=")) {
                envp.push_back(*variable);
            }
        }
        variables.push_back("TMPDIR=" + limits.temporaryFolder);
        envp.push_back(variables.back().data());
        envp.push_back(nullptr);
    }

    pid_t pid = 0;
    int rc = posix_spawn(&pid, command.program.c_str(), &actions, &attributes, argv.data(),
                         envp.empty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.reset();
    if (rc != 0) {
        outcome.error = Status::ErrnoPhrase(rc);
        return outcome;
    }

    const WaitEnd end = Collect(pid, readEnd.get(), limits, outcome.output);
    // The child is ended or a zombie still holding its id, so the group id names only its
    // own group: end all of it, helpers left running included.
    ::kill(-pid, SIGKILL);
    if (outcome.output.size() > ProcessOutcome::kOutputKept) {
        outcome.output.erase(0, outcome.output.size() - ProcessOutcome::kOutputKept);
    }

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (end == WaitEnd::TimedOut) {
        outcome.kind = ProcessOutcome::Kind::TimedOut;
        outcome.timeLimit = limits.timeLimit;
    } else if (end == WaitEnd::Cancelled) {
        outcome.kind = ProcessOutcome::Kind::Cancelled;
    } else if (waited < 0) {
        outcome.kind = ProcessOutcome::Kind::NotStarted;
        outcome.error = Phrase(N_("lost track of the process: {error}"))
                            .With("error", Status::ErrnoPhrase(errno));
    } else if (WIFSIGNALED(status)) {
        outcome.kind = ProcessOutcome::Kind::Signaled;
        outcome.signal = WTERMSIG(status);
    } else {
        outcome.kind = ProcessOutcome::Kind::Exited;
        outcome.exitCode = WEXITSTATUS(status);
    }
    return outcome;
}

std::vector<RunningProgram> ProgramsUsing(const std::string& path) {
    std::vector<RunningProgram> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return found;
    }
    char link[PATH_MAX];
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ||
            std::stol(pid) == ::getpid()) {
            continue;
        }
        const std::string fdFolder = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr) {
            continue;
        }
        bool uses = false;
        while (const dirent* fd = ::readdir(fds)) {
            const std::string fdPath = fdFolder + "/" + fd->d_name;
            ssize_t length = ::readlink(fdPath.c_str(), link, sizeof link - 1);
            if (length > 0 && std::string_view(link, static_cast<std::size_t>(length)) == path) {
                uses = true;
                break;
            }
        }
        ::closedir(fds);
        if (uses) {
            RunningProgram program{static_cast<int>(std::stol(pid)), {}};
            const std::string exe = "/proc/" + pid + "/exe";
            if (ssize_t length = ::readlink(exe.c_str(), link, sizeof link - 1); length > 0) {
                program.executable.assign(link, static_cast<std::size_t>(length));
            }
            found.push_back(std::move(program));
        }
    }
    ::closedir(proc);
    return found;
}

} // namespace ostrapel
