#include "system/Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Waits for the child's end while collecting its output. The child's end is noticed at
// once through a process descriptor, even when a grandchild keeps the output pipe open.
void Collect(pid_t pid, int pipeFd, std::string& output) {
    Fd pidFd(OpenPidFd(pid));
    if (pidFd.get() < 0) {
        int flags = ::fcntl(pipeFd, F_GETFL);
        ::fcntl(pipeFd, F_SETFL, flags & ~O_NONBLOCK);
        while (Drain(pipeFd, output)) {
        }
        return;
    }
    bool pipeOpen = true;
    for (;;) {
        pollfd fds[2] = {{pidFd.get(), POLLIN, 0}, {pipeFd, POLLIN, 0}};
        int rc = ::poll(fds, pipeOpen ? 2 : 1, -1);
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (pipeOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            pipeOpen = Drain(pipeFd, output);
        }
        if ((fds[0].revents & POLLIN) != 0) {
            if (pipeOpen) {
                Drain(pipeFd, output);
            }
            return;
        }
    }
}

} // namespace

ProcessOutcome Scn_Process::Run_Process(const CommandLine& command, int WindowStyle) {
    (void)WindowStyle; // no windows to show here; the child never gets a terminal to read
    ProcessOutcome outcome;

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        outcome.error = std::strerror(errno);
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
    posix_spawnattr_setflags(&attributes,
                             static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

    std::vector<char*> argv;
    argv.reserve(command.arguments.size() + 2);
    argv.push_back(const_cast<char*>(command.program.c_str()));
    for (const std::string& argument : command.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    int rc =
        posix_spawn(&pid, command.program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.reset();
    if (rc != 0) {
        outcome.error = std::strerror(rc);
        return outcome;
    }

    Collect(pid, readEnd.get(), outcome.output);
    if (outcome.output.size() > ProcessOutcome::kOutputKept) {
        outcome.output.erase(0, outcome.output.size() - ProcessOutcome::kOutputKept);
    }

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        outcome.kind = ProcessOutcome::Kind::NotStarted;
        outcome.error = std::string("lost track of the process: ") + std::strerror(errno);
    } else if (WIFSIGNALED(status)) {
        outcome.kind = ProcessOutcome::Kind::Signaled;
        outcome.signal = WTERMSIG(status);
    } else {
        outcome.kind = ProcessOutcome::Kind::Exited;
        outcome.exitCode = WEXITSTATUS(status);
    }
    return outcome;
}

} // namespace ostrapel
