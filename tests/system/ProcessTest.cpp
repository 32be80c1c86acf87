#include "system/Process.h"

#include "TestSupport.h"
#include "system/Cancel.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace ostrapel;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

ProcessOutcome Shell(const std::string& script, std::vector<std::string> extra = {}) {
    CommandLine command{"/bin/sh", {"-c", script, "sh"}};
    command.arguments.insert(command.arguments.end(), extra.begin(), extra.end());
    return Scn_Process().Run_Process(command, Scn_Process::kHidden);
}

} // namespace

TEST(ProcessRunner, ReportsHowTheProgramEnded) {
    ProcessOutcome ok = Shell("exit 0");
    EXPECT_EQ(ok.kind, ProcessOutcome::Kind::Exited);
    EXPECT_TRUE(ok.succeeded());

    ProcessOutcome failed = Shell("exit 3");
    EXPECT_EQ(failed.kind, ProcessOutcome::Kind::Exited);
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_FALSE(failed.succeeded());
    EXPECT_EQ(failed.phrase().English(), "exit code 3");

    ProcessOutcome killed = Shell("kill -9 $$");
    EXPECT_EQ(killed.kind, ProcessOutcome::Kind::Signaled);
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_FALSE(killed.succeeded());
    EXPECT_EQ(killed.phrase().English().rfind("killed by signal 9", 0), 0u)
        << killed.phrase().English();
}

TEST(ProcessRunner, GivesTheProgramTheWorkingAndTemporaryFolderOfItsRun) {
    TempDir dir;
    RunLimits limits;
    limits.workingFolder = dir.path();
    limits.temporaryFolder = dir / "temp";
    const CommandLine place{"/bin/sh", {"-c", "pwd -P; printf %s \"$TMPDIR\""}};
    EXPECT_EQ(Scn_Process().Run_Process(place, Scn_Process::kHidden, limits).output,
              testsupport::Utf8(std::filesystem::canonical(dir.path())) + "\n" + dir / "temp");
    const std::string own = Scn_Process().Run_Process(place, Scn_Process::kHidden).output;
    EXPECT_EQ(own.find(dir.path()), std::string::npos) << own;
}

TEST(ProcessRunner, ReportsAProgramThatCannotStart) {
    TempDir dir;
    ProcessOutcome missing = Scn_Process().Run_Process(CommandLine{dir / "no-such-tool", {}});
    EXPECT_EQ(missing.kind, ProcessOutcome::Kind::NotStarted);
    EXPECT_FALSE(missing.succeeded());
    EXPECT_EQ(missing.phrase().English(), "could not be started: No such file or directory");

    testsupport::WriteFile(dir / "not-executable", "#!/bin/sh\nexit 0\n");
    ProcessOutcome denied = Scn_Process().Run_Process(CommandLine{dir / "not-executable", {}});
    EXPECT_EQ(denied.kind, ProcessOutcome::Kind::NotStarted);
    EXPECT_EQ(denied.error, "Permission denied");
}

TEST(ProcessRunner, KeepsTheTailOfWhatTheProgramPrinted) {
    ProcessOutcome said = Shell("echo first; echo 'the last words' >&2");
    EXPECT_EQ(said.output, "first\nthe last words\n");
    EXPECT_EQ(said.lastOutputLine(), "the last words");

    ProcessOutcome chatty = Shell("i=0; while [ $i -lt 2000 ]; do echo line$i; i=$((i+1)); done");
    EXPECT_EQ(chatty.output.size(), ProcessOutcome::kOutputKept);
    EXPECT_EQ(chatty.lastOutputLine(), "line1999");
}

TEST(ProcessRunner, GivesTheProgramNoInputToWaitFor) {
    ProcessOutcome outcome = Shell("if read line; then echo got; else echo eof; fi");
    EXPECT_EQ(outcome.output, "eof\n");
}

TEST(ProcessRunner, PassesEveryArgumentExactly) {
    const std::vector<std::string> arguments = {
        "with space", "quote\"d", "back\\slash", "-dash", "Ünïcödé", "", "new\nline", "$HOME", "*",
    };
    ProcessOutcome outcome = Shell("for a; do printf '[%s]' \"$a\"; done", arguments);
    std::string expected;
    for (const std::string& a : arguments) {
        expected += "[" + a + "]";
    }
    EXPECT_EQ(outcome.output, expected);
}

TEST(ProcessRunner, RunsAWindowsCommandLineText) {
    ProcessOutcome outcome = Scn_Process().Run_Process("\"/bin/sh\" \"-c\" \"exit 5\" ");
    EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::Exited);
    EXPECT_EQ(outcome.exitCode, 5);
}

TEST(ProcessRunner, ReturnsWhenTheProgramEndsEvenIfAChildKeepsItsOutputOpen) {
    TempDir dir;
    const std::string pidFile = dir / "pid";
    ProcessOutcome outcome = Shell("sleep 30 & echo $! > \"$1\"; exit 0", {pidFile});
    EXPECT_TRUE(outcome.succeeded());
    const pid_t grandchild = static_cast<pid_t>(std::stol(ReadFile(pidFile)));
    // The runner came back while the grandchild, which holds the output pipe, still runs.
    EXPECT_EQ(::kill(grandchild, 0), 0);
    ::kill(grandchild, SIGKILL);
}

namespace {

// Whether a process of this id still runs (a zombie counts as ended).
bool Running(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const auto close = stat.rfind(')');
    return close != std::string::npos && stat.size() > close + 2 && stat[close + 2] != 'Z';
}

// Whether the process has ended, or does within a few seconds of being killed.
bool EndsSoon(pid_t pid) {
    for (int i = 0; i < 400 && Running(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !Running(pid);
}

ProcessOutcome ShellWith(const std::string& script, const RunLimits& limits) {
    return Scn_Process().Run_Process(CommandLine{"/bin/sh", {"-c", script}}, Scn_Process::kHidden,
                                     limits);
}

} // namespace

TEST(ProcessRunner, EndsAProgramThatOutrunsItsTimeLimitWithEverythingItStarted) {
    TempDir dir;
    const std::string pids = dir / "pids";
    // The program and a helper it started both write their ids, then wait for ever.
    ProcessOutcome outcome =
        ShellWith("sleep 600 & echo $! >" + pids + "; echo $$ >>" + pids + "; wait",
                  {std::chrono::milliseconds(1500), nullptr});
    EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::TimedOut);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(outcome.phrase().English(), "did not finish within 1500 ms");
    std::istringstream ids(ReadFile(pids));
    int count = 0;
    for (pid_t pid; ids >> pid; ++count) {
        EXPECT_TRUE(EndsSoon(pid)) << "process " << pid << " outlived the run";
    }
    EXPECT_EQ(count, 2);

    outcome.timeLimit = std::chrono::seconds(120);
    EXPECT_EQ(outcome.phrase().English(), "did not finish within 120 s");
}

TEST(ProcessRunner, EndsHelpersAProgramLeavesBehindWhenItEnds) {
    TempDir dir;
    const std::string pid = dir / "pid";
    ProcessOutcome outcome = ShellWith("sleep 600 >/dev/null 2>&1 & echo $! >" + pid, {});
    EXPECT_TRUE(outcome.succeeded());
    const pid_t helper = static_cast<pid_t>(std::stol(ReadFile(pid)));
    EXPECT_TRUE(EndsSoon(helper));
}

TEST(ProcessRunner, ACancelEndsTheRunAtOnceAndStartsNoOther) {
    CancelFlag cancel;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel.raise();
    });
    const auto start = std::chrono::steady_clock::now();
    ProcessOutcome outcome = ShellWith("sleep 600", {std::chrono::seconds(60), &cancel});
    const auto took = std::chrono::steady_clock::now() - start;
    canceller.join();
    EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::Cancelled);
    EXPECT_EQ(outcome.phrase().English(), "cancelled");
    EXPECT_LT(took, std::chrono::seconds(30));

    TempDir dir;
    ProcessOutcome after = ShellWith("touch " + dir / "ran", {{}, &cancel});
    EXPECT_EQ(after.kind, ProcessOutcome::Kind::Cancelled);
    EXPECT_FALSE(testsupport::Exists(dir / "ran"));
}

// Some launchers start programs with SIGCHLD ignored, which makes the system reap children
// by itself.
TEST(ProcessRunner, LearnsHowAProgramEndedEvenWhenStartedWithChildSignalsIgnored) {
    pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGCHLD, SIG_IGN);
        ProcessOutcome outcome = Shell("exit 4");
        ::_exit(outcome.kind == ProcessOutcome::Kind::Exited && outcome.exitCode == 4 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
