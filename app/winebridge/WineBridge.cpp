// Runs under Wine on behalf of ostrapel on Linux, and starts Windows programs with exactly the
// command line it is given, which `wine PROGRAM ARGS` cannot do (Wine quotes each argument
// anew).
//
// It talks through its standard input and output in frames: a kind letter, a blank, the
// payload's length in decimal, a newline, then the payload (UTF-8). It first says
//   H "ostrapel-winebridge 2"
// and then answers, one request at a time:
//   P unix-path                 P windows-path, or E reason when the path has no Windows form
//                               that leads back to it
//   R program NUL command-line  E reason when it cannot start; otherwise, once the program
//     [NUL working-folder       has ended, X exit-code NUL output (its last 4096 bytes).
//      NUL temporary-folder]    Version 2 added the two folders (Windows paths, each may be
//                               empty): the program's working folder, and its TEMP and TMP.
//   C                           while a program runs: it is ended, and R is answered with
//                               K output
// The program runs hidden, with an empty standard input and its output collected, in a job
// object of its own; whatever it started is ended with it. When the input ends, the program
// running is ended and the bridge exits.
//
//   ostrapel-winebridge.exe [--creation-flags N]   N: CreateProcessW flags (default 0)

#include "system/windows/ToolEnvironment.h"
#include "system/windows/ToolStart.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>
#include <windows.h>

namespace {

constexpr std::size_t kOutputKept = 4096;

struct Frame {
    char kind = 0; // 0: the input has ended
    std::string payload;
};

// Frames read from the standard input by a thread of their own, so a run can be told to end.
class Inbox {
public:
    Inbox() {
        ::InitializeCriticalSection(&lock_);
        arrived_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    HANDLE arrived() const { return arrived_; }

    void push(Frame frame) {
        ::EnterCriticalSection(&lock_);
        frames_.push_back(std::move(frame));
        ::SetEvent(arrived_);
        ::LeaveCriticalSection(&lock_);
    }
    // The next frame, waiting for one.
    Frame pop() {
        for (;;) {
            ::WaitForSingleObject(arrived_, INFINITE);
            ::EnterCriticalSection(&lock_);
            if (!frames_.empty()) {
                Frame frame = std::move(frames_.front());
                frames_.pop_front();
                if (frames_.empty() && !ended_) {
                    ::ResetEvent(arrived_);
                }
                if (frame.kind == 0) {
                    ended_ = true;
                    frames_.push_back(Frame{}); // stays at the end for every later pop
                    ::SetEvent(arrived_);
                }
                ::LeaveCriticalSection(&lock_);
                return frame;
            }
            ::ResetEvent(arrived_);
            ::LeaveCriticalSection(&lock_);
        }
    }

private:
    CRITICAL_SECTION lock_;
    HANDLE arrived_;
    std::deque<Frame> frames_;
    bool ended_ = false;
};

bool ReadExactly(HANDLE in, char* data, std::size_t size) {
    while (size > 0) {
        DWORD got = 0;
        if (!::ReadFile(in, data, static_cast<DWORD>(size), &got, nullptr) || got == 0) {
            return false;
        }
        data += got;
        size -= got;
    }
    return true;
}

DWORD WINAPI ReadFrames(void* context) {
    Inbox& inbox = *static_cast<Inbox*>(context);
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
        std::string header;
        char c = 0;
        while (header.size() < 32 && ReadExactly(in, &c, 1) && c != '\n') {
            header.push_back(c);
        }
        if (c != '\n' || header.size() < 3 || header[1] != ' ') {
            break;
        }
        Frame frame;
        frame.kind = header[0];
        const unsigned long long size = std::strtoull(header.c_str() + 2, nullptr, 10);
        if (size > (1u << 20)) {
            break;
        }
        frame.payload.resize(static_cast<std::size_t>(size));
        if (size > 0 && !ReadExactly(in, frame.payload.data(), frame.payload.size())) {
            break;
        }
        inbox.push(std::move(frame));
    }
    inbox.push(Frame{});
    return 0;
}

bool Send(char kind, const std::string& payload) {
    const std::string frame =
        std::string(1, kind) + " " + std::to_string(payload.size()) + "\n" + payload;
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const char* data = frame.data();
    std::size_t left = frame.size();
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteFile(out, data, static_cast<DWORD>(left), &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                           static_cast<int>(utf8.size()), nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          wide.data(), size);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                          nullptr, nullptr);
    return utf8;
}

std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = text != nullptr ? text : L"";
    if (text != nullptr) {
        ::LocalFree(text);
    }
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L'.' || message.back() == L' ')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(error) : Utf8(message);
}

// Wine's own conversions between its file names and the host's, as winepath uses them.
using DosNameOf = WCHAR*(CDECL*)(LPCSTR);
using UnixNameOf = char*(CDECL*)(LPCWSTR);

// The Windows form of a host path; empty with a reason when there is none that leads back to
// the same path (a name Wine cannot map one to one).
std::string WindowsPathOf(const std::string& unixPath, std::string& reason) {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto dosName = reinterpret_cast<DosNameOf>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_dos_file_name")));
    auto unixName = reinterpret_cast<UnixNameOf>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_unix_file_name")));
    if (dosName == nullptr || unixName == nullptr) {
        reason = "not running under Wine";
        return {};
    }
    WCHAR* dos = dosName(unixPath.c_str());
    if (dos == nullptr) {
        reason = "no Windows form of " + unixPath;
        return {};
    }
    const std::wstring windowsPath = dos;
    ::HeapFree(::GetProcessHeap(), 0, dos);
    char* back = unixName(windowsPath.c_str());
    const bool same = back != nullptr && unixPath == back;
    if (back != nullptr) {
        ::HeapFree(::GetProcessHeap(), 0, back);
    }
    if (!same) {
        reason = "no Windows form leads back to " + unixPath;
        return {};
    }
    return Utf8(windowsPath);
}

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid()) {
            ::CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// The program's output: the read end of a pipe of its own, read without blocking from the
// thread that waits for the program. A reading thread per run would cost a thread start
// inside Wine, a good part of a run's own cost.
class OutputPipe {
public:
    OutputPipe() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        read_.hEvent = event_.get();
    }
    ~OutputPipe() {
        if (pending_) {
            ::CancelIoEx(pipe_.get(), &read_);
            DWORD got = 0;
            ::GetOverlappedResult(pipe_.get(), &read_, &got, TRUE);
        }
    }
    OutputPipe(const OutputPipe&) = delete;
    OutputPipe& operator=(const OutputPipe&) = delete;

    // Makes the pipe; writeEnd: the program's end, inheritable. False with the last error set.
    bool open(Handle& writeEnd) {
        static LONG made = 0;
        const std::wstring name = L"\\\\.\\pipe\\ostrapel-winebridge-" +
                                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(::InterlockedIncrement(&made));
        pipe_.reset(::CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, kPipeBuffer, 0, nullptr));
        if (!pipe_.valid() || !event_.valid()) {
            return false;
        }
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        writeEnd.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        return writeEnd.valid();
    }
    // Signalled when a read has completed.
    HANDLE event() const { return event_.get(); }
    // Until the pipe has ended.
    bool reading() const { return open_; }
    // Takes in what has arrived and starts the next read; the pipe ends once no program
    // holds its other end any more.
    void pump() {
        while (open_) {
            if (!pending_) {
                ::ResetEvent(event());
                if (!::ReadFile(pipe_.get(), buffer_, sizeof buffer_, nullptr, &read_) &&
                    ::GetLastError() != ERROR_IO_PENDING) {
                    open_ = false;
                    return;
                }
                pending_ = true;
            }
            DWORD got = 0;
            if (!::GetOverlappedResult(pipe_.get(), &read_, &got, FALSE)) {
                if (::GetLastError() == ERROR_IO_INCOMPLETE) {
                    return;
                }
                pending_ = false;
                open_ = false;
                return;
            }
            pending_ = false;
            text_.append(buffer_, got);
            if (text_.size() > 2 * kOutputKept) {
                text_.erase(0, text_.size() - kOutputKept);
            }
        }
    }
    // Waits, within a bound, for the pipe's end, taking in what still arrives.
    void drain(DWORD milliseconds) {
        const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
        pump();
        while (open_) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline ||
                ::WaitForSingleObject(event(), static_cast<DWORD>(deadline - now)) !=
                    WAIT_OBJECT_0) {
                return;
            }
            pump();
        }
    }
    // Its last kOutputKept bytes.
    std::string tail() const {
        return text_.size() > kOutputKept ? text_.substr(text_.size() - kOutputKept) : text_;
    }

private:
    static constexpr DWORD kPipeBuffer = 65536;

    Handle pipe_;
    Handle event_;
    OVERLAPPED read_{};
    char buffer_[4096];
    std::string text_;
    bool pending_ = false;
    bool open_ = true;
};

// Ends every process of the job and waits, within a bound, until none is left.
void EndJob(HANDLE job) {
    ::TerminateJobObject(job, 1);
    for (int i = 0; i < 1000; ++i) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        if (!::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info,
                                         sizeof info, nullptr) ||
            info.ActiveProcesses == 0) {
            return;
        }
        ::Sleep(5);
    }
}

// Runs one program; answers E, X or K. False when the input has ended meanwhile.
bool Run(const std::string& payload, Inbox& inbox, DWORD creationFlags) {
    // program NUL command-line [NUL working-folder NUL temporary-folder]
    std::string parts[4];
    std::size_t count = 0;
    for (std::size_t at = 0; count < 4; ++count) {
        const std::size_t end = payload.find('\0', at);
        parts[count] = payload.substr(at, end == std::string::npos ? end : end - at);
        if (end == std::string::npos) {
            ++count;
            break;
        }
        at = end + 1;
    }
    if (count != 2 && count != 4) {
        Send('E', "malformed request");
        return true;
    }
    const std::wstring program = Wide(parts[0]);
    std::wstring line = Wide(parts[1]);
    const std::wstring folder = Wide(parts[2]);
    const std::wstring temporary = Wide(parts[3]);
    if (program.empty() || line.empty() || (folder.empty() && !parts[2].empty()) ||
        (temporary.empty() && !parts[3].empty())) {
        Send('E', "the command line is not UTF-8");
        return true;
    }
    std::wstring environment = temporary.empty()
                                   ? std::wstring()
                                   : ostrapel::win::EnvironmentWithTemporaryFolder(temporary);

    Handle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // A crash ends the program with its exception code, whatever error mode it sets itself.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    OutputPipe output;
    Handle outputWrite;
    if (!output.open(outputWrite)) {
        Send('E', ErrorText(::GetLastError()));
        return true;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle nothing(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr));

    // Born in its job, or started suspended and put in it before it runs; it inherits only
    // its standard handles.
    ostrapel::win::ToolLaunch launch;
    launch.program = program.c_str();
    launch.line = line;
    launch.flags = creationFlags;
    launch.environment = environment.empty() ? nullptr : environment.data();
    launch.folder = folder.empty() ? nullptr : folder.c_str();
    launch.startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    launch.startup.wShowWindow = SW_HIDE;
    launch.startup.hStdInput = nothing.get();
    launch.startup.hStdOutput = outputWrite.get();
    launch.startup.hStdError = outputWrite.get();
    launch.inherited = {nothing.get(), outputWrite.get()};
    launch.job = job.get();
    launch.jobRequired = true;
    PROCESS_INFORMATION started{};
    ostrapel::win::JobEntry entry = ostrapel::win::JobEntry::None;
    if (const DWORD error = ostrapel::win::StartInJob(launch, started, entry);
        error != ERROR_SUCCESS) {
        Send('E', entry == ostrapel::win::JobEntry::AfterStart
                      ? "cannot keep the program in a job: " + ErrorText(error)
                      : ErrorText(error));
        return true;
    }
    Handle process(started.hProcess);
    Handle thread(started.hThread);
    outputWrite.reset();
    nothing.reset();

    bool ended = false;    // told to end the run
    bool inputOpen = true; // the input has not ended
    HANDLE waits[3] = {process.get(), inbox.arrived(), output.event()};
    output.pump();
    while (!ended) {
        const DWORD which =
            ::WaitForMultipleObjects(output.reading() ? 3 : 2, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            break;
        }
        if (which == WAIT_OBJECT_0 + 2) {
            output.pump();
            continue;
        }
        Frame frame = inbox.pop();
        if (frame.kind == 0) {
            ended = true;
            inputOpen = false;
        } else if (frame.kind == 'C') {
            ended = true;
        }
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    // Whatever the program started goes with it, and only then does its output end.
    EndJob(job.get());
    output.drain(5000);
    if (ended) {
        Send('K', output.tail());
    } else {
        Send('X', std::to_string(exitCode) + std::string(1, '\0') + output.tail());
    }
    return inputOpen;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD creationFlags = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], L"--creation-flags") == 0) {
            creationFlags = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 0));
        }
    }
    // The programs it starts get only the handles meant for them.
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        ::SetHandleInformation(::GetStdHandle(which), HANDLE_FLAG_INHERIT, 0);
    }
    // Inherited by the programs it starts: no box waits for a click when one crashes or misses
    // a file. Wine shows its crash dialog regardless; the runner turns its debugger off for
    // the bridge's programs (WineOverridesWithoutDebugger).
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

    // Never destroyed: the reader thread may still be using it while the process exits.
    Inbox& inbox = *new Inbox;
    ::CreateThread(nullptr, 0, ReadFrames, &inbox, 0, nullptr);
    if (!Send('H', "ostrapel-winebridge 2")) {
        ::ExitProcess(1);
    }
    for (;;) {
        Frame frame = inbox.pop();
        switch (frame.kind) {
        case 0:
            ::ExitProcess(0);
        case 'P': {
            std::string reason;
            const std::string windowsPath = WindowsPathOf(frame.payload, reason);
            if (!(windowsPath.empty() ? Send('E', reason) : Send('P', windowsPath))) {
                ::ExitProcess(1);
            }
            break;
        }
        case 'R':
            if (!Run(frame.payload, inbox, creationFlags)) {
                ::ExitProcess(0);
            }
            break;
        default: // a late C after its run ended, or anything unknown
            break;
        }
    }
}
