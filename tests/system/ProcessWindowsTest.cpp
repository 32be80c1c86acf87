// The process runner on Windows, driven through a probe program.

#include "system/windows/ProcessWindows.h"

#include "TestSupport.h"
#include "system/Cancel.h"
#include "system/Process.h"
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
    EXPECT_EQ(failed.describe(), "exit code 3");

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
    EXPECT_EQ(missing.describe(), "could not be started: No such file or directory");

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
    ASSERT_TRUE(outcome.succeeded()) << outcome.describe();
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

// A tool's narrow output is in the ANSI code page unless it is UTF-8 already.
TEST(WindowsProcessRunner, AToolsOutputBecomesUtf8) {
    const std::vector<std::tuple<std::string, unsigned, std::string>> cases = {
        {"plain", 1252, "plain"},
        {"caf\xC3\xA9", 1252, "caf\xC3\xA9"}, // UTF-8 already
        {"caf\xE9", 1252, "caf\xC3\xA9"},     // Western European
        {"\xCF\xF0\xE8\xE2\xE5\xF2", 1251,
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"}, // Cyrillic
    };
    for (const auto& [bytes, codePage, text] : cases) {
        EXPECT_EQ(win::ToolOutputText(bytes, codePage), text) << bytes;
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
    EXPECT_EQ(outcome.describe(), "did not finish within 300 ms");
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
