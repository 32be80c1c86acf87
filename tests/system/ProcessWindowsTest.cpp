// The process runner on Windows, driven through a probe program.

#include "system/windows/ProcessWindows.h"

#include "TestSupport.h"
#include "system/Cancel.h"
#include "system/Process.h"
#include "system/windows/AnsiPaths.h"
#include "system/windows/Handle.h"
#include "system/windows/ToolStart.h"
#include "system/windows/WindowsText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <windows.h>

using namespace ostrapel;
using testsupport::TempDir;

namespace {

std::string Probe() {
    return testsupport::BuiltPath(OSTRAPEL_PROCESS_PROBE);
}

ProcessOutcome RunProbe(std::vector<std::string> arguments, int style = Scn_Process::kHidden,
                        const RunLimits& limits = {}) {
    return Scn_Process().Run_Process(CommandLine{Probe(), std::move(arguments)}, style, limits);
}

bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool StillRunning(DWORD pid) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        return false;
    }
    const bool running = ::WaitForSingleObject(process, 3000) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

} // namespace

TEST(WindowsProcessRunner, ReportsExitCodesAndKeepsTheOutputsTail) {
    ProcessOutcome ok = RunProbe({"exit", "0"});
    EXPECT_EQ(ok.kind, ProcessOutcome::Kind::Exited);
    EXPECT_TRUE(ok.succeeded());

    ProcessOutcome failed = RunProbe({"exit", "3"});
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_EQ(failed.phrase().English(), "exit code 3");

    ProcessOutcome said = RunProbe({"say", "first", "the last words"});
    EXPECT_EQ(said.output, "first\nthe last words\n");
    EXPECT_EQ(said.lastOutputLine(), "the last words");

    ProcessOutcome chatty = RunProbe({"lines", "2000"});
    EXPECT_EQ(chatty.output.size(), ProcessOutcome::kOutputKept);
    EXPECT_EQ(chatty.lastOutputLine(), "line1999");

    EXPECT_EQ(RunProbe({"stdin"}).output, "eof");
}

TEST(WindowsProcessRunner, GivesTheProgramTheWorkingAndTemporaryFolderOfItsRun) {
    testsupport::TempDir dir;
    std::string folder = dir.path();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    RunLimits limits;
    limits.workingFolder = folder;
    limits.temporaryFolder = folder + "\\temp";
    EXPECT_EQ(RunProbe({"place"}, Scn_Process::kHidden, limits).output,
              folder + "\n" + folder + "\\temp\n" + folder + "\\temp\n");
    const std::string own = RunProbe({"place"}).output;
    EXPECT_EQ(own.find(folder), std::string::npos) << own;
}

TEST(WindowsProcessRunner, ReportsAProgramThatCannotStart) {
    TempDir dir;
    ProcessOutcome missing = Scn_Process().Run_Process(CommandLine{dir / "no-such-tool.exe", {}});
    EXPECT_EQ(missing.kind, ProcessOutcome::Kind::NotStarted);
    EXPECT_EQ(missing.phrase().English(), "could not be started: No such file or directory");

    ProcessOutcome unwritable = Scn_Process().Run_Process(CommandLine{"a\"b.exe", {}});
    EXPECT_EQ(unwritable.kind, ProcessOutcome::Kind::NotStarted);
}

TEST(WindowsProcessRunner, StartsTheExactCommandLineText) {
    const CommandLine command{Probe(), {"commandline", "/decrypt:C:\\t\\temp\\a b.sav"}};
    ProcessOutcome outcome = Scn_Process().Run_Process(command, Scn_Process::kHidden);
    EXPECT_EQ(outcome.output, BuildWindowsCommandLine(command).value());
    EXPECT_EQ(outcome.output,
              "\"" + Probe() + "\" \"commandline\" /decrypt:\"C:\\t\\temp\\a b.sav\" ");
}

// The text form reaches the program as it was given, blanks and quotes as they are.
TEST(WindowsProcessRunner, StartsTheGivenCommandLineTextUnchanged) {
    const std::string line = "\"" + Probe() + "\"  commandline   /decrypt:\"C:\\t\\a b.sav\"\t";
    EXPECT_EQ(Scn_Process().Run_Process(line, Scn_Process::kHidden).output, line);
}

TEST(WindowsProcessRunner, PassesEveryArgumentExactly) {
    const std::vector<std::string> arguments = {
        "with space", "quote\"d", "back\\slash\\", "-dash", "Ünïcödé セーブ", "", "%PATH%", "*",
    };
    std::vector<std::string> command = {"args"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::string expected;
    for (const std::string& a : arguments) {
        expected += "[" + a + "]";
    }
    EXPECT_EQ(RunProbe(command).output, expected);
}

TEST(WindowsProcessRunner, GivesTheShowWindowStyleAndNoConsoleWindow) {
    EXPECT_EQ(RunProbe({"startup"}, Scn_Process::kHidden).output, "show=0 console=none");
    EXPECT_EQ(RunProbe({"startup"}, Scn_Process::kMinimizedWithFocus).output,
              "show=2 console=none");
}

// A program that crashes ends with its exception code and no box waiting for a click: it
// inherits an error mode that asks for no boxes, and its job ends a crashing process. Wine shows
// neither inside the program (it passes no error mode on and reports no limits of a job), so the
// job the runner makes is looked at from outside: closing it ends what runs in it.
TEST(WindowsProcessRunner, AProgramThatCrashesEndsWithoutABox) {
    const unsigned long quiet =
        SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
    constexpr DWORD kLimits =
        JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION | JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    HANDLE job = win::MakeToolJob();
    ASSERT_NE(job, nullptr);
    std::wstring line = L"\"" + testsupport::Native(Probe()).wstring() + L"\" sleep 60000";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                                 CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                                 &started))
        << ::GetLastError();
    EXPECT_TRUE(::AssignProcessToJobObject(job, started.hProcess));
    ::ResumeThread(started.hThread);
    ::CloseHandle(job);
    const bool ended = ::WaitForSingleObject(started.hProcess, 10000) == WAIT_OBJECT_0;
    if (!ended) {
        ::TerminateProcess(started.hProcess, 1);
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    EXPECT_TRUE(ended) << "closing the runner's job left its program running";

    const UINT own = ::GetErrorMode();
    ProcessOutcome outcome = RunProbe({"crashguard"});
    ASSERT_TRUE(outcome.succeeded()) << outcome.phrase().English();
    EXPECT_EQ(::GetErrorMode(), own) << "the runner's own error mode is put back";
    if (UnderWine()) {
        GTEST_SKIP() << "Wine passes no error mode on and shows a program no limits of its job: "
                     << outcome.output;
    }
    unsigned long mode = 0;
    unsigned long inJob = 0;
    ASSERT_EQ(std::sscanf(outcome.output.c_str(), "errormode=%lu job=%lu", &mode, &inJob), 2)
        << outcome.output;
    EXPECT_EQ(mode & quiet, quiet) << outcome.output;
    EXPECT_EQ(inJob & kLimits, kLimits) << outcome.output;
}

// A tool's output is UTF-8 where it is (after a character cut at its start, when the start was
// dropped), otherwise in the code page the tool writes: the console's (OEM) or the ANSI one.
TEST(WindowsProcessRunner, AToolsOutputBecomesUtf8) {
    constexpr unsigned kOem = 866;   // Cyrillic console
    constexpr unsigned kAnsi = 1251; // Cyrillic
    const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
    const std::string lone(1, '\x80'); // a continuation byte, or a character of a code page
    struct Case {
        std::string bytes;
        bool cut;
        bool console; // the tool writes the console's code page
        std::string text;
    };
    const std::vector<Case> cases = {
        {"plain", false, true, "plain"},
        {privet, false, true, privet},                     // UTF-8 already
        {privet.substr(1), true, false, privet.substr(2)}, // cut inside its first character
        {lone + "abc", true, false, "abc"},
        {lone + "abc", false, false, "\xD0\x82" + std::string("abc")}, // not cut: a character
        {"\x8F\xE0\xA8\xA2\xA5\xE2", false, true, privet},             // OEM 866
        {"\xCF\xF0\xE8\xE2\xE5\xF2", false, false, privet},            // ANSI 1251
        {"\xCF\xF0\xE8\xE2\xE5\xF2", true, false, privet},             // cut, not UTF-8 even so
    };
    for (const Case& c : cases) {
        EXPECT_EQ(win::ToolOutputText(c.bytes, c.cut, c.console, kOem, kAnsi), c.text)
            << c.bytes << " cut=" << c.cut << " console=" << c.console;
    }
}

// Which code page a tool writes is read from its header: a native program (the C runtime puts
// its ANSI text into the pipe as it is) writes ANSI whatever its subsystem; a .NET console
// program (its Console encodes in the console's code page) and a batch file write OEM.
TEST(WindowsProcessRunner, TellsTheCodePageOfAToolByItsHeader) {
    const std::string native = testsupport::ReadFile(Probe()).substr(0, 4096);
    const std::size_t pe = static_cast<unsigned char>(native[0x3C]) +
                           256u * static_cast<unsigned char>(native[0x3D]); // the PE header
    const std::size_t optional = pe + 4 + 20;
    ASSERT_EQ(native[optional], '\x0B'); // PE32+: the CLR directory at 112 + 14 * 8
    auto with = [&](WORD subsystem, bool managed) {
        std::string head = native;
        head[optional + 68] = static_cast<char>(subsystem);
        head[optional + 112 + 14 * 8] = managed ? '\x08' : '\0';
        return head;
    };
    struct Case {
        std::string head;
        bool console;
    };
    const std::vector<Case> cases = {
        {native, false},
        {with(IMAGE_SUBSYSTEM_WINDOWS_CUI, false), false},
        {with(IMAGE_SUBSYSTEM_WINDOWS_GUI, false), false},
        {with(IMAGE_SUBSYSTEM_WINDOWS_CUI, true), true},
        {with(IMAGE_SUBSYSTEM_WINDOWS_GUI, true), false},
        {with(IMAGE_SUBSYSTEM_WINDOWS_CUI, true).substr(0, optional + 112), false}, // cut short
        {"@echo off\r\n", true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(win::WritesConsoleCodePage(cases[i].head), cases[i].console) << i;
    }
}

TEST(WindowsProcessRunner, EndsWhatTheProgramStartedWithIt) {
    TempDir dir;
    const std::string pidFile = dir / "pid";
    ASSERT_TRUE(RunProbe({"spawn", pidFile}).succeeded());
    const auto grandchild = static_cast<DWORD>(std::stoul(testsupport::ReadFile(pidFile)));
    EXPECT_FALSE(StillRunning(grandchild));
}

TEST(WindowsProcessRunner, EndsAProgramThatRunsOutOfTime) {
    RunLimits limits;
    limits.timeLimit = std::chrono::milliseconds(300);
    const auto start = std::chrono::steady_clock::now();
    ProcessOutcome outcome = RunProbe({"sleep", "20000"}, Scn_Process::kHidden, limits);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::TimedOut);
    EXPECT_EQ(outcome.phrase().English(), "did not finish within 300 ms");
    EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(WindowsProcessRunner, ACancelEndsTheRunAtOnce) {
    CancelFlag cancel;
    RunLimits limits;
    limits.cancel = &cancel;
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel.raise();
    });
    const auto start = std::chrono::steady_clock::now();
    ProcessOutcome outcome = RunProbe({"sleep", "20000"}, Scn_Process::kHidden, limits);
    const auto took = std::chrono::steady_clock::now() - start;
    raiser.join();
    EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::Cancelled);
    EXPECT_LT(took, std::chrono::seconds(10));

    // Raised before the start: nothing starts.
    EXPECT_EQ(RunProbe({"exit", "0"}, Scn_Process::kHidden, limits).kind,
              ProcessOutcome::Kind::Cancelled);
}

// The program is born in its job where the system takes the job list (Windows 10 and later, and
// Wine), so no kill between start and assignment can leave it suspended outside any job.
TEST(WindowsProcessRunner, StartsAProgramInsideItsJob) {
    win::Handle job(win::MakeToolJob());
    ASSERT_TRUE(job.valid());
    win::Handle nothing(
        ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    win::ToolLaunch launch;
    launch.line = L"\"" + testsupport::Native(Probe()).wstring() + L"\" exit 7";
    launch.flags = CREATE_NO_WINDOW;
    launch.inherited = {nothing.get()};
    launch.job = job.get();
    launch.jobRequired = true;
    PROCESS_INFORMATION started{};
    win::JobEntry entry = win::JobEntry::None;
    ASSERT_EQ(win::StartInJob(launch, started, entry), DWORD{ERROR_SUCCESS});
    win::Handle process(started.hProcess);
    win::Handle thread(started.hThread);
    BOOL inJob = FALSE;
    EXPECT_TRUE(::IsProcessInJob(process.get(), job.get(), &inJob) && inJob);
    EXPECT_NE(entry, win::JobEntry::None);
    if (UnderWine()) {
        EXPECT_EQ(entry, win::JobEntry::AtBirth) << "Wine 8 takes the job list";
    }
    ASSERT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(::GetExitCodeProcess(process.get(), &code));
    EXPECT_EQ(code, 7u);
}

TEST(WindowsProcessRunner, FallsBackToASuspendedStartOnlyWhereTheJobListIsRefused) {
    using win::JobEntry;
    const std::vector<std::tuple<JobEntry, DWORD, JobEntry>> cases = {
        {JobEntry::AtBirth, ERROR_INVALID_PARAMETER, JobEntry::AfterStart}, // unknown attribute
        {JobEntry::AtBirth, ERROR_NOT_SUPPORTED, JobEntry::AfterStart},
        {JobEntry::AtBirth, ERROR_ACCESS_DENIED, JobEntry::AfterStart}, // job cannot nest
        {JobEntry::AtBirth, ERROR_FILE_NOT_FOUND, JobEntry::None},      // the program's fault
        {JobEntry::AtBirth, ERROR_BAD_EXE_FORMAT, JobEntry::None},
        {JobEntry::AfterStart, ERROR_INVALID_PARAMETER, JobEntry::None},
    };
    for (const auto& [tried, error, next] : cases) {
        EXPECT_EQ(win::JobEntryAfter(tried, error), next) << error;
    }
}

// Unlike a work copy's path, the tool's own places go as they are where no short form helps:
// a Unicode tool still finds them.
TEST(WindowsProcessRunner, HandsTheToolItsPlacesAsTheyAreWhereNoShortFormHelps) {
    const std::wstring cyrillic = L"C:\\\u0418\u0433\u0440\u044b\\decrypt.exe";
    auto noShortNames = [](const std::wstring& path) { return path; };
    EXPECT_EQ(win::ToolPathForm(cyrillic, 1252, noShortNames), cyrillic);
    EXPECT_EQ(win::AnsiOpenableForm(cyrillic, 1252, noShortNames), L"");
}

// Under Wine, as on a volume with 8.3 names: a tool in a folder whose name is outside the code
// page is started, and runs in its folder, by their short forms.
TEST(WindowsProcessRunner, StartsAToolInAFolderOutsideTheCodePageByItsShortForm) {
    TempDir dir;
    const std::string folder = dir / "\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B"; // Cyrillic
    ASSERT_TRUE(::CreateDirectoryW(win::Wide(folder).c_str(), nullptr));
    const std::string probe = folder + "\\probe.exe";
    ASSERT_TRUE(::CopyFileW(testsupport::Native(Probe()).c_str(), win::Wide(probe).c_str(), TRUE));
    const std::wstring shortFolder = win::ShortPathOf(win::Wide(folder));
    if (::GetACP() == CP_UTF8 || shortFolder == win::Wide(folder)) {
        GTEST_SKIP() << "the code page takes every character, or the volume has no short names";
    }
    RunLimits limits;
    limits.workingFolder = folder;
    ProcessOutcome outcome =
        Scn_Process().Run_Process(CommandLine{probe, {"place"}}, Scn_Process::kHidden, limits);
    ASSERT_TRUE(outcome.succeeded()) << outcome.phrase().English();
    const std::string shown = outcome.output.substr(0, outcome.output.find('\n'));
    EXPECT_EQ(win::Wide(shown), shortFolder);
    outcome = Scn_Process().Run_Process(CommandLine{probe, {"commandline"}}, Scn_Process::kHidden,
                                        limits);
    EXPECT_EQ(outcome.output.find("\xD0\x98"), std::string::npos) << outcome.output;
}
