#include "ProcessWindows.h"

#include "AnsiPaths.h"
#include "Handle.h"
#include "ToolEnvironment.h"
#include "ToolStart.h"
#include "WindowsText.h"
#include "system/Cancel.h"
#include "system/Process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <tlhelp32.h>
#include <vector>
#include <windows.h>

namespace ostrapel {

namespace {

using win::Handle;

// No console window for the tool: it gets a console without a window, which a console program
// it starts shares, so that one shows no window either (under DETACHED_PROCESS it would open
// its own). It writes into the pipe it is given.
constexpr DWORD kConsoleFlags = CREATE_NO_WINDOW;

// The read end of a pipe that collects what the child prints, read without blocking.
class OutputPipe {
public:
    // Creates the pipe; writeEnd() is what the child inherits.
    bool open() {
        static std::atomic<unsigned> serial{0};
        const std::wstring name = L"\\\\.\\pipe\\ostrapel-" +
                                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(serial.fetch_add(1));
        read_.reset(::CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096, 0, nullptr));
        if (!read_.valid()) {
            return false;
        }
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        write_.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        event_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        return write_.valid() && event_.valid();
    }
    HANDLE writeEnd() const { return write_.get(); }
    void closeWriteEnd() { write_.reset(); }
    HANDLE event() const { return event_.get(); }
    bool isOpen() const { return open_; }
    // Whether the start of what the child printed was dropped.
    bool cut() const { return cut_; }

    // Takes in what has arrived and starts the next read; false once the pipe has ended.
    bool pump(std::string& output) {
        for (;;) {
            if (pending_) {
                DWORD got = 0;
                if (!::GetOverlappedResult(read_.get(), &overlapped_, &got, FALSE)) {
                    const DWORD error = ::GetLastError();
                    if (error == ERROR_IO_INCOMPLETE) {
                        return true;
                    }
                    pending_ = false;
                    open_ = false;
                    return false; // broken pipe: every writer has gone
                }
                pending_ = false;
                Keep(output, got);
            }
            overlapped_ = OVERLAPPED{};
            overlapped_.hEvent = event_.get();
            ::ResetEvent(event_.get());
            DWORD got = 0;
            if (::ReadFile(read_.get(), buffer_, sizeof buffer_, &got, &overlapped_)) {
                Keep(output, got);
                continue;
            }
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_PENDING) {
                pending_ = true;
                return true;
            }
            open_ = false;
            return false;
        }
    }

    // Stops a read still under way; the buffer is not touched afterwards.
    void stop() {
        if (pending_) {
            DWORD got = 0;
            ::CancelIoEx(read_.get(), &overlapped_);
            ::GetOverlappedResult(read_.get(), &overlapped_, &got, TRUE);
            pending_ = false;
        }
    }

    ~OutputPipe() { stop(); }

private:
    void Keep(std::string& output, DWORD size) {
        output.append(buffer_, size);
        if (output.size() > 2 * ProcessOutcome::kOutputKept) {
            output.erase(0, output.size() - ProcessOutcome::kOutputKept);
            cut_ = true;
        }
    }

    Handle read_;
    Handle write_;
    Handle event_;
    OVERLAPPED overlapped_{};
    bool pending_ = false;
    bool open_ = true;
    bool cut_ = false;
    char buffer_[4096];
};

// Whether the program at path writes its narrow text in its console's code page
// (WritesConsoleCodePage); a program that cannot be read is taken for a native one.
bool WritesConsoleCodePage(const std::string& path) {
    Handle file(::CreateFileW(win::FilePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    char head[4096];
    DWORD got = 0;
    return file.valid() && ::ReadFile(file.get(), head, sizeof head, &got, nullptr) &&
           win::WritesConsoleCodePage(std::string_view(head, got));
}

// Starts the program in its job with ToolErrorMode() added to this program's error mode, which
// it inherits; this program's own mode is put back at once. Runs started side by side take
// turns here.
DWORD StartWithErrorMode(win::ToolLaunch& launch, PROCESS_INFORMATION& started,
                         win::JobEntry& entry, const RunLimits& limits) {
    const std::wstring folder = win::Wide(limits.workingFolder);
    std::wstring environment;
    if (!limits.temporaryFolder.empty()) {
        environment = win::EnvironmentWithTemporaryFolder(win::Wide(limits.temporaryFolder));
    }
    launch.environment = environment.empty() ? nullptr : environment.data();
    launch.folder = folder.empty() ? nullptr : folder.c_str();
    static std::mutex turn;
    std::lock_guard lock(turn);
    const UINT own = ::GetErrorMode();
    ::SetErrorMode(own | win::ToolErrorMode());
    const DWORD error = win::StartInJob(launch, started, entry);
    ::SetErrorMode(own);
    return error;
}

// STATUS_UNHANDLED_EXCEPTION: a crash whose exception is not known.
constexpr DWORD kUnhandledException = 0xC0000144;

enum class WaitEnd { Ended, TimedOut, Cancelled, Crashed };

// The processes of Wine's debugger started for the program or for a process of its job.
std::vector<DWORD> WineDebuggersOf(HANDLE job, DWORD program) {
    std::vector<DWORD> members{program};
    if (job != nullptr) {
        struct {
            JOBOBJECT_BASIC_PROCESS_ID_LIST list;
            ULONG_PTR more[255];
        } ids{};
        if (::QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids,
                                        nullptr)) {
            for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && i < 256; ++i) {
                members.push_back(static_cast<DWORD>(ids.list.ProcessIdList[i]));
            }
        }
    }
    std::vector<DWORD> debuggers;
    Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        return debuggers;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::CompareStringOrdinal(entry.szExeFile, -1, L"winedbg.exe", -1, TRUE) == CSTR_EQUAL &&
            std::find(members.begin(), members.end(), entry.th32ParentProcessID) != members.end()) {
            debuggers.push_back(entry.th32ProcessID);
        }
    }
    return debuggers;
}

// Waits for the program's end, its time limit or a cancel, gathering its output meanwhile.
// crashed, when given, is asked now and then whether the program crashed without ending.
WaitEnd Collect(HANDLE process, OutputPipe& pipe, const RunLimits& limits, std::string& output,
                const std::function<bool()>& crashed) {
    using Clock = std::chrono::steady_clock;
    const bool limited = limits.timeLimit.count() > 0;
    const Clock::time_point deadline = Clock::now() + limits.timeLimit;
    const HANDLE cancel =
        limits.cancel != nullptr ? reinterpret_cast<HANDLE>(limits.cancel->waitHandle()) : nullptr;
    pipe.pump(output);
    for (;;) {
        if (limits.cancel != nullptr && limits.cancel->raised()) {
            return WaitEnd::Cancelled;
        }
        DWORD waitMs = INFINITE;
        if (limited) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return WaitEnd::TimedOut;
            }
            waitMs = static_cast<DWORD>(std::min<long long>(left, 60'000));
        }
        if (limits.cancel != nullptr && (cancel == nullptr || cancel == INVALID_HANDLE_VALUE)) {
            waitMs = std::min<DWORD>(waitMs, 5);
        }
        if (crashed) {
            waitMs = std::min<DWORD>(waitMs, 100);
        }
        HANDLE handles[3];
        DWORD count = 0;
        handles[count++] = process;
        if (pipe.isOpen()) {
            handles[count++] = pipe.event();
        }
        if (cancel != nullptr && cancel != INVALID_HANDLE_VALUE) {
            handles[count++] = cancel;
        }
        const DWORD rc = ::WaitForMultipleObjects(count, handles, FALSE, waitMs);
        if (rc == WAIT_OBJECT_0) {
            return WaitEnd::Ended;
        }
        if (rc == WAIT_FAILED) {
            return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0 ? WaitEnd::Ended
                                                                      : WaitEnd::Cancelled;
        }
        if (pipe.isOpen()) {
            pipe.pump(output);
        }
        if (crashed && rc == WAIT_TIMEOUT && crashed()) {
            return WaitEnd::Crashed;
        }
    }
}

// What the child printed after the end was noticed, for a short while at most.
void Drain(OutputPipe& pipe, std::string& output) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (pipe.isOpen() && pipe.pump(output)) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 ||
            ::WaitForSingleObject(pipe.event(), static_cast<DWORD>(left)) != WAIT_OBJECT_0) {
            break;
        }
    }
    pipe.stop();
}

} // namespace

UINT win::ToolErrorMode() {
    return SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
}

DWORD win::ToolJobLimits() {
    return JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
}

// A job with ToolJobLimits().
HANDLE win::MakeToolJob() {
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = win::ToolJobLimits();
    ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

bool win::UnderWine() {
    static const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

std::string SignalName(int signal) {
    (void)signal;
    return "signal";
}

std::vector<RunningProgram> ProgramsUsing(const std::string& path) {
    // A tool started here runs in a job that ends with this process, so none outlives a
    // conversion to hold the work folder.
    (void)path;
    return {};
}

ProcessOutcome Scn_Process::Run_Process(const CommandLine& command, int WindowStyle,
                                        const RunLimits& limits) {
    ProcessOutcome outcome;
    if (limits.cancel != nullptr && limits.cancel->raised()) {
        outcome.kind = ProcessOutcome::Kind::Cancelled;
        return outcome;
    }
    // A tool that reads its own location or its folders with the ANSI calls gets them in a
    // form it can use, where there is one.
    auto forTool = [](const std::string& path) {
        return path.empty()
                   ? path
                   : win::Utf8(win::ToolPathForm(win::Wide(path), ::GetACP(), win::ShortPathOf));
    };
    CommandLine toRun = command;
    toRun.program = forTool(command.program);
    RunLimits places = limits;
    places.workingFolder = forTool(limits.workingFolder);
    places.temporaryFolder = forTool(limits.temporaryFolder);
    const std::optional<std::string> line = BuildWindowsCommandLine(toRun);
    if (!line) {
        outcome.error = N_("its command line cannot be written");
        return outcome;
    }
    std::wstring wideLine = win::Wide(*line);

    OutputPipe pipe;
    if (!pipe.open()) {
        outcome.error = win::ErrorPhrase(::GetLastError());
        return outcome;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));
    Handle job(win::MakeToolJob());
    if (!input.valid() || !job.valid()) {
        outcome.error = win::ErrorPhrase(::GetLastError());
        return outcome;
    }

    // Only the two standard handles are inherited, whatever else is open meanwhile.
    win::ToolLaunch launch;
    launch.line = std::move(wideLine);
    launch.flags = kConsoleFlags;
    launch.startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    launch.startup.wShowWindow = static_cast<WORD>(WindowStyle);
    launch.startup.hStdInput = input.get();
    launch.startup.hStdOutput = pipe.writeEnd();
    launch.startup.hStdError = pipe.writeEnd();
    launch.inherited = {input.get(), pipe.writeEnd()};
    launch.job = job.get();
    PROCESS_INFORMATION started{};
    win::JobEntry entry = win::JobEntry::None;
    const DWORD startError = StartWithErrorMode(launch, started, entry, places);
    pipe.closeWriteEnd();
    input.reset();
    if (startError != ERROR_SUCCESS) {
        outcome.error = win::ErrorPhrase(startError);
        return outcome;
    }
    Handle process(started.hProcess);
    Handle thread(started.hThread);
    if (entry == win::JobEntry::None) {
        // Without a job (an old system's nested-job limit) the program itself is still ended.
        job.reset();
    }

    // Without a display Wine's debugger writes what it knows and ends the program with its
    // exception code within moments; with one it holds the program behind its dialog. So a
    // debugger still there after a grace ends the run as a crash whose code is not known.
    std::vector<DWORD> debuggers;
    std::function<bool()> crashed;
    std::optional<std::chrono::steady_clock::time_point> debuggerSeen;
    if (win::UnderWine()) {
        crashed = [&] {
            debuggers = WineDebuggersOf(job.valid() ? job.get() : nullptr, started.dwProcessId);
            const auto now = std::chrono::steady_clock::now();
            if (debuggers.empty()) {
                debuggerSeen.reset();
            } else if (!debuggerSeen) {
                debuggerSeen = now;
            }
            return debuggerSeen && now - *debuggerSeen >= std::chrono::seconds(2);
        };
    }
    const WaitEnd end = Collect(process.get(), pipe, limits, outcome.output, crashed);
    // End everything the program started, and the program itself when it still runs.
    constexpr DWORD kEnded = 1;
    const DWORD endCode = end == WaitEnd::Crashed ? kUnhandledException : kEnded;
    if (job.valid()) {
        ::TerminateJobObject(job.get(), endCode);
    } else if (end != WaitEnd::Ended) {
        ::TerminateProcess(process.get(), endCode);
    }
    for (DWORD debugger : debuggers) { // outside the job where Wine starts it without one
        Handle running(::OpenProcess(PROCESS_TERMINATE, FALSE, debugger));
        if (running.valid()) {
            ::TerminateProcess(running.get(), kEnded);
        }
    }
    ::WaitForSingleObject(process.get(), INFINITE);
    Drain(pipe, outcome.output);
    // A console the tool has no window of its own for starts in the OEM code page.
    outcome.output =
        win::ToolOutputText(outcome.output, pipe.cut(), WritesConsoleCodePage(command.program),
                            ::GetOEMCP(), ::GetACP());
    if (outcome.output.size() > ProcessOutcome::kOutputKept) {
        std::size_t from = outcome.output.size() - ProcessOutcome::kOutputKept;
        while (from < outcome.output.size() &&
               (static_cast<unsigned char>(outcome.output[from]) & 0xC0) == 0x80) {
            ++from; // whole characters only
        }
        outcome.output.erase(0, from);
    }

    if (end == WaitEnd::TimedOut) {
        outcome.kind = ProcessOutcome::Kind::TimedOut;
        outcome.timeLimit = limits.timeLimit;
        return outcome;
    }
    if (end == WaitEnd::Cancelled) {
        outcome.kind = ProcessOutcome::Kind::Cancelled;
        return outcome;
    }
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.get(), &exitCode)) {
        outcome.error = Phrase(N_("lost track of the process: {error}"))
                            .With("error", win::ErrorPhrase(::GetLastError()));
        return outcome;
    }
    if (end == WaitEnd::Crashed) {
        exitCode = kUnhandledException;
    }
    outcome.kind = ProcessOutcome::Kind::Exited;
    outcome.exitCode = static_cast<int>(exitCode);
    return outcome;
}

} // namespace ostrapel
