#pragma once

// Starting a cipher tool inside its job, shared by the Windows runner and the Wine bridge (a
// program of its own, so this is header-only).

#include <string>
#include <vector>
#include <windows.h>

namespace ostrapel::win {

// How a program enters its job: born in it (PROC_THREAD_ATTRIBUTE_JOB_LIST, Windows 10 and
// later), or started suspended and assigned to it before it runs. A program killed between a
// suspended start and its assignment would stay suspended outside any job, holding its exe.
enum class JobEntry { AtBirth, AfterStart, None };

// The way to try after a start by way tried failed with error: the suspended start where the
// system refuses the job list (before Windows 10 it knows no such attribute); None to give up.
inline JobEntry JobEntryAfter(JobEntry tried, DWORD error) {
    if (tried != JobEntry::AtBirth) {
        return JobEntry::None;
    }
    switch (error) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_ACCESS_DENIED: // a job that cannot be nested in this program's
        return JobEntry::AfterStart;
    default:
        return JobEntry::None;
    }
}

// A process attribute list with the handles to inherit and, when given, the job to be born in.
class ToolAttributes {
public:
    ToolAttributes(HANDLE* inherited, std::size_t count, HANDLE* job) {
        const DWORD wanted = job != nullptr ? 2 : 1;
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, wanted, 0, &size);
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (size == 0 || !::InitializeProcThreadAttributeList(list, wanted, 0, &size)) {
            error_ = ::GetLastError();
            return;
        }
        list_ = list;
        if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                         count * sizeof(HANDLE), nullptr, nullptr) ||
            (job != nullptr &&
             !::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, job,
                                          sizeof(HANDLE), nullptr, nullptr))) {
            error_ = ::GetLastError();
        }
    }
    ~ToolAttributes() {
        if (list_ != nullptr) {
            ::DeleteProcThreadAttributeList(list_);
        }
    }
    ToolAttributes(const ToolAttributes&) = delete;
    ToolAttributes& operator=(const ToolAttributes&) = delete;

    // Null when the list could not be made as asked; error() says why.
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return error_ == 0 ? list_ : nullptr; }
    DWORD error() const { return error_; }

private:
    std::vector<unsigned char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    DWORD error_ = 0;
};

// What StartInJob is given.
struct ToolLaunch {
    const wchar_t* program = nullptr; // null: the first word of line
    std::wstring line;
    DWORD flags = 0;                 // creation flags besides those StartInJob adds
    wchar_t* environment = nullptr;  // a Unicode block, or null for this program's
    const wchar_t* folder = nullptr; // the working folder, or null for this program's
    STARTUPINFOW startup{};          // with the standard handles
    std::vector<HANDLE> inherited;   // the only handles it inherits
    HANDLE job = nullptr;            // the job it runs in
    bool jobRequired = false;        // a program that cannot be kept in the job is ended
};

// Starts the program running inside launch.job: born in it where the system takes the job list,
// otherwise started suspended and assigned before it runs. Returns 0 or the error code; entry
// tells how it entered the job (None: it runs without one, only when the job is not required).
// A start Wine now and then fails with an internal error under load is tried again.
inline DWORD StartInJob(const ToolLaunch& launch, PROCESS_INFORMATION& started, JobEntry& entry) {
    HANDLE job = launch.job;
    std::vector<HANDLE> inherited = launch.inherited;
    DWORD error = ERROR_SUCCESS;
    for (JobEntry way = JobEntry::AtBirth; way != JobEntry::None;) {
        ToolAttributes attributes(inherited.data(), inherited.size(),
                                  way == JobEntry::AtBirth ? &job : nullptr);
        if (attributes.get() == nullptr && way == JobEntry::AtBirth) {
            way = JobEntry::AfterStart; // no job list on this system
            continue;
        }
        STARTUPINFOEXW startup{};
        startup.StartupInfo = launch.startup;
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = attributes.get();
        const DWORD flags = launch.flags | CREATE_UNICODE_ENVIRONMENT |
                            (attributes.get() != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0) |
                            (way == JobEntry::AfterStart ? CREATE_SUSPENDED : 0);
        for (int attempt = 0; attempt < 4; ++attempt) {
            if (attempt > 0) {
                ::Sleep(static_cast<DWORD>(50 * attempt));
            }
            std::wstring line = launch.line; // CreateProcessW may write into it
            error =
                ::CreateProcessW(launch.program, line.data(), nullptr, nullptr, TRUE, flags,
                                 launch.environment, launch.folder, &startup.StartupInfo, &started)
                    ? ERROR_SUCCESS
                    : ::GetLastError();
            if (error != ERROR_INTERNAL_ERROR) {
                break;
            }
        }
        if (error == ERROR_SUCCESS) {
            entry = way;
            if (way == JobEntry::AfterStart) {
                if (!::AssignProcessToJobObject(job, started.hProcess)) {
                    error = ::GetLastError();
                    if (launch.jobRequired) {
                        ::TerminateProcess(started.hProcess, 1);
                        ::CloseHandle(started.hThread);
                        ::CloseHandle(started.hProcess);
                        started = PROCESS_INFORMATION{};
                        return error;
                    }
                    entry = JobEntry::None;
                }
                ::ResumeThread(started.hThread);
            }
            return ERROR_SUCCESS;
        }
        way = JobEntryAfter(way, error);
    }
    return error;
}

} // namespace ostrapel::win
