#include "system/Cancel.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Wine.h"
#include "system/posix/WineRunner.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ostrapel {

namespace {

using Clock = std::chrono::steady_clock;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool Executable(const std::string& path) {
    return KindOf(path) == EntryKind::File && ::access(path.c_str(), X_OK) == 0;
}

struct Frame {
    char kind = 0;
    std::string payload;
};

// Writes everything; a reader that has gone fails the write instead of raising SIGPIPE.
bool WriteAll(int fd, std::string_view data) {
    sigset_t pipeSignal;
    sigset_t before;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    bool written = true;
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            written = false;
            if (errno == EPIPE && sigismember(&before, SIGPIPE) == 0) {
                const timespec none{};
                ::sigtimedwait(&pipeSignal, nullptr, &none);
            }
            break;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return written;
}

// The part of an argument after a leading "/switch:" when it is an absolute path.
std::size_t PathInSwitch(const std::string& argument) {
    std::size_t i = 1;
    if (argument.empty() || argument[0] != '/') {
        return std::string::npos;
    }
    while (i < argument.size() && std::isalpha(static_cast<unsigned char>(argument[i])) != 0) {
        ++i;
    }
    return i > 1 && i + 1 < argument.size() && argument[i] == ':' && argument[i + 1] == '/'
               ? i + 1
               : std::string::npos;
}

// The environment as it is now, which a started program gets.
std::vector<std::string> CurrentEnvironment() {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        variables.emplace_back(*variable);
    }
    return variables;
}

} // namespace

std::string FindWine() {
    std::string wanted = Environment("WINE");
    if (wanted.empty()) {
        wanted = "wine";
    }
    if (wanted.find('/') != std::string::npos) {
        return Executable(wanted) ? wanted : std::string();
    }
    const std::string path = Environment("PATH");
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string folder = path.substr(start, end - start);
        const std::string candidate = JoinPath(folder.empty() ? "." : folder, wanted);
        if (Executable(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

struct WineRunner::Bridge {
    pid_t pid = -1;
    std::vector<std::string> environment; // what the bridge and its programs were given
    int input = -1;                       // the bridge's standard input
    int output = -1;                      // its standard output, read without blocking
    std::string buffered;
    // Windows forms of the programs and folders of earlier runs: a batch runs the same tools in
    // the same folders every time.
    std::map<std::string, std::string> windowsForms;

    enum class Wait { Frame, TimedOut, Cancelled, Broken };

    ~Bridge() {
        closeInput();
        if (pid > 0) {
            // Its input ended, the bridge ends the run under way and exits; one that does not
            // is ended with everything in its process group.
            bool ended = false;
            for (int i = 0; i < 300 && !ended; ++i) {
                int status = 0;
                const pid_t waited = ::waitpid(pid, &status, WNOHANG);
                ended = waited == pid || (waited < 0 && errno != EINTR);
                if (!ended) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            if (!ended) {
                ::kill(-pid, SIGKILL);
                while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            }
        }
        if (output >= 0) {
            ::close(output);
        }
    }

    void closeInput() {
        if (input >= 0) {
            ::close(input);
            input = -1;
        }
    }

    bool send(char kind, std::string_view payload) {
        std::string frame(1, kind);
        frame += ' ' + std::to_string(payload.size()) + '\n';
        frame += payload;
        return input >= 0 && WriteAll(input, frame);
    }

    // Takes a whole frame out of what has arrived.
    bool parse(Frame& frame) {
        const std::size_t newline = buffered.find('\n');
        if (newline == std::string::npos || newline < 3 || buffered[1] != ' ') {
            return false;
        }
        const std::size_t size = std::strtoul(buffered.c_str() + 2, nullptr, 10);
        if (buffered.size() < newline + 1 + size) {
            return false;
        }
        frame.kind = buffered[0];
        frame.payload = buffered.substr(newline + 1, size);
        buffered.erase(0, newline + 1 + size);
        return true;
    }

    Wait receive(Frame& frame, Clock::time_point deadline, const CancelFlag* cancel) {
        const int cancelFd = cancel != nullptr ? static_cast<int>(cancel->waitHandle()) : -1;
        for (;;) {
            if (parse(frame)) {
                return Wait::Frame;
            }
            if (buffered.size() > (1u << 20)) {
                return Wait::Broken;
            }
            if (cancel != nullptr && cancel->raised()) {
                return Wait::Cancelled;
            }
            int waitMs = -1;
            if (deadline != Clock::time_point::max()) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0) {
                    return Wait::TimedOut;
                }
                waitMs = static_cast<int>(std::min<long long>(left, 60'000));
            }
            if (cancel != nullptr && cancelFd < 0) {
                waitMs = waitMs < 0 ? 5 : std::min(waitMs, 5);
            }
            pollfd fds[2] = {{output, POLLIN, 0}, {cancelFd, POLLIN, 0}};
            const int rc = ::poll(fds, 2, waitMs);
            if (rc < 0 && errno != EINTR) {
                return Wait::Broken;
            }
            if (rc > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                char chunk[4096];
                const ssize_t got = ::read(output, chunk, sizeof chunk);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                    return Wait::Broken;
                }
                if (got > 0) {
                    buffered.append(chunk, static_cast<std::size_t>(got));
                }
            }
        }
    }
};

WineRunner::WineRunner(std::string bridgePath) : bridgePath_(std::move(bridgePath)) {}

WineRunner::~WineRunner() {
    // Every bridge is told to end first, so they end side by side.
    for (const std::unique_ptr<Bridge>& bridge : idle_) {
        bridge->closeInput();
    }
    idle_.clear();
}

std::unique_ptr<WineRunner::Bridge>
WineRunner::take(const std::string& wine, const RunLimits& limits, ProcessOutcome& outcome) {
    std::vector<std::string> variables = CurrentEnvironment();
    // A bridge passes on the environment it was started with; after a change a new one starts,
    // so every program gets the environment of its own run, as natively. Outdated bridges are
    // ended outside the lock.
    std::vector<std::unique_ptr<Bridge>> outdated;
    std::unique_ptr<Bridge> current;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!idle_.empty() && !current) {
            std::unique_ptr<Bridge> bridge = std::move(idle_.back());
            idle_.pop_back();
            (bridge->environment == variables ? current : outdated.emplace_back()) =
                std::move(bridge);
        }
    }
    for (const std::unique_ptr<Bridge>& bridge : outdated) {
        bridge->closeInput();
    }
    outdated.clear();
    if (current) {
        return current;
    }
    int toBridge[2];
    int fromBridge[2];
    if (::pipe2(toBridge, O_CLOEXEC) != 0) {
        outcome.error = Status::ErrnoPhrase(errno);
        return nullptr;
    }
    if (::pipe2(fromBridge, O_CLOEXEC) != 0) {
        outcome.error = Status::ErrnoPhrase(errno);
        ::close(toBridge[0]);
        ::close(toBridge[1]);
        return nullptr;
    }
    auto bridge = std::make_unique<Bridge>();
    bridge->input = toBridge[1];
    bridge->output = fromBridge[0];
    ::fcntl(bridge->output, F_SETFL, O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toBridge[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromBridge[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else: above all not the work folder's lock, which the bridge would keep while
    // it waits for the next batch.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes,
        static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));

    bridge->environment = variables;
    bool debugSet = false;
    bool overridesSet = false;
    for (std::string& variable : variables) {
        debugSet = debugSet || variable.starts_with("WINEDEBUG=");
        if (variable.starts_with("WINEDLLOVERRIDES=")) {
            overridesSet = true;
            variable = "WINEDLLOVERRIDES=" + WineOverridesWithoutDebugger(variable.substr(17));
        }
    }
    if (!debugSet) {
        variables.emplace_back("WINEDEBUG=-all"); // no debugging noise unless asked for
    }
    // A tool that crashes ends at once, not behind a crash dialog the user must close; the
    // prefix's own setting stays as it is for every other program.
    if (!overridesSet) {
        variables.emplace_back("WINEDLLOVERRIDES=" + WineOverridesWithoutDebugger({}));
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::string program = wine;
    std::string helper = bridgePath_;
    char* argv[] = {program.data(), helper.data(), nullptr};

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(toBridge[0]);
    ::close(fromBridge[1]);
    if (rc != 0) {
        outcome.error = Status::ErrnoPhrase(rc);
        return nullptr;
    }
    bridge->pid = pid;

    Frame hello;
    switch (bridge->receive(hello, Clock::now() + kStartLimit, limits.cancel)) {
    case Bridge::Wait::Frame:
        if (hello.kind == 'H' && hello.payload.starts_with("ostrapel-winebridge 2")) {
            return bridge;
        }
        outcome.error =
            Phrase(N_("the Wine bridge {path} is not this version's")).With("path", bridgePath_);
        return nullptr;
    case Bridge::Wait::Cancelled:
        outcome.kind = ProcessOutcome::Kind::Cancelled;
        return nullptr;
    case Bridge::Wait::TimedOut:
    case Bridge::Wait::Broken:
        break;
    }
    outcome.error = Phrase(N_("Wine ({wine}) did not start {path}"))
                        .With("wine", wine)
                        .With("path", bridgePath_);
    return nullptr;
}

ProcessOutcome WineRunner::run(const CommandLine& command, const RunLimits& limits) {
    ProcessOutcome outcome;
    if (limits.cancel != nullptr && limits.cancel->raised()) {
        outcome.kind = ProcessOutcome::Kind::Cancelled;
        return outcome;
    }
    const std::string wine = FindWine();
    if (wine.empty()) {
        outcome.error = kWineMissing;
        return outcome;
    }
    if (bridgePath_.empty() || KindOf(bridgePath_) != EntryKind::File) {
        outcome.error = Phrase(N_("the Wine bridge {name} is missing beside the program"))
                            .With("name", kWineBridgeName);
        return outcome;
    }
    std::unique_ptr<Bridge> bridge = take(wine, limits, outcome);
    if (!bridge) {
        return outcome;
    }
    const auto answerBy = [] { return Clock::now() + std::chrono::seconds(30); };
    bool healthy = true;
    Frame frame;

    // The Windows form of a path, as Wine maps it.
    auto windowsPath = [&](const std::string& path) -> std::optional<std::string> {
        if (!bridge->send('P', path) ||
            bridge->receive(frame, answerBy(), nullptr) != Bridge::Wait::Frame ||
            (frame.kind != 'P' && frame.kind != 'E')) {
            healthy = false;
            outcome.error = N_("the Wine bridge stopped answering");
            return std::nullopt;
        }
        if (frame.kind == 'E') {
            outcome.error = Phrase::Verbatim(frame.payload);
            return std::nullopt;
        }
        return frame.payload;
    };

    // The same, kept for the next runs.
    auto windowsForm = [&](const std::string& path) -> std::optional<std::string> {
        if (auto known = bridge->windowsForms.find(path); known != bridge->windowsForms.end()) {
            return known->second;
        }
        std::optional<std::string> form = windowsPath(path);
        if (form) {
            if (bridge->windowsForms.size() >= 256) {
                bridge->windowsForms.clear();
            }
            bridge->windowsForms.emplace(path, *form);
        }
        return form;
    };

    CommandLine windows;
    std::optional<std::string> program = windowsForm(command.program);
    // The run's own working and temporary folders (protocol version 2), empty when it has none.
    std::string places;
    for (const std::string* folder : {&limits.workingFolder, &limits.temporaryFolder}) {
        std::optional<std::string> form = std::string();
        if (program && !folder->empty()) {
            form = windowsForm(*folder);
        }
        if (!form) {
            program.reset();
            break;
        }
        places += std::string(1, '\0') + *form;
    }
    if (program) {
        windows.program = *program;
        for (const std::string& argument : command.arguments) {
            const std::size_t at = PathInSwitch(argument);
            if (at == std::string::npos) {
                windows.arguments.push_back(argument);
                continue;
            }
            std::optional<std::string> path = windowsPath(argument.substr(at));
            if (!path) {
                program.reset();
                break;
            }
            windows.arguments.push_back(argument.substr(0, at) + *path);
        }
    }
    std::optional<std::string> line;
    if (program) {
        line = BuildWindowsCommandLine(windows);
        if (!line) {
            outcome.error = N_("the command cannot be written as a Windows command line");
        }
    }
    if (line) {
        const bool placed = !limits.workingFolder.empty() || !limits.temporaryFolder.empty();
        if (!bridge->send('R', windows.program + std::string(1, '\0') + *line +
                                   (placed ? places : std::string()))) {
            healthy = false;
            outcome.error = N_("the Wine bridge ended unexpectedly");
        } else {
            const Clock::time_point deadline = limits.timeLimit.count() > 0
                                                   ? Clock::now() + limits.timeLimit
                                                   : Clock::time_point::max();
            const Bridge::Wait wait = bridge->receive(frame, deadline, limits.cancel);
            if (wait == Bridge::Wait::Frame && frame.kind == 'X') {
                const std::size_t split = frame.payload.find('\0');
                outcome.kind = ProcessOutcome::Kind::Exited;
                outcome.exitCode = static_cast<int>(
                    static_cast<std::uint32_t>(std::strtoul(frame.payload.c_str(), nullptr, 10)));
                outcome.output =
                    split == std::string::npos ? std::string() : frame.payload.substr(split + 1);
            } else if (wait == Bridge::Wait::Frame && frame.kind == 'E') {
                outcome.error = Phrase::Verbatim(frame.payload);
            } else if (wait == Bridge::Wait::TimedOut || wait == Bridge::Wait::Cancelled) {
                outcome.kind = wait == Bridge::Wait::TimedOut ? ProcessOutcome::Kind::TimedOut
                                                              : ProcessOutcome::Kind::Cancelled;
                outcome.timeLimit = limits.timeLimit;
                // The bridge ends the program with all it started, then answers; one that
                // does not answer is ended, and its job with it.
                healthy = bridge->send('C', {}) &&
                          bridge->receive(frame, answerBy(), nullptr) == Bridge::Wait::Frame &&
                          (frame.kind == 'K' || frame.kind == 'X');
                if (healthy && frame.kind == 'K') {
                    outcome.output = frame.payload;
                }
            } else {
                healthy = false;
                outcome.error = N_("the Wine bridge ended unexpectedly");
            }
        }
    }
    if (healthy) {
        std::lock_guard<std::mutex> lock(mutex_);
        idle_.push_back(std::move(bridge));
    }
    return outcome;
}

} // namespace ostrapel
