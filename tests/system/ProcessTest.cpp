#include "system/Process.h"

#include "TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>

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
    EXPECT_EQ(failed.describe(), "exit code 3");

    ProcessOutcome killed = Shell("kill -9 $$");
    EXPECT_EQ(killed.kind, ProcessOutcome::Kind::Signaled);
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_FALSE(killed.succeeded());
    EXPECT_EQ(killed.describe().rfind("killed by signal 9", 0), 0u) << killed.describe();
}

TEST(ProcessRunner, ReportsAProgramThatCannotStart) {
    TempDir dir;
    ProcessOutcome missing = Scn_Process().Run_Process(CommandLine{dir / "no-such-tool", {}});
    EXPECT_EQ(missing.kind, ProcessOutcome::Kind::NotStarted);
    EXPECT_FALSE(missing.succeeded());
    EXPECT_EQ(missing.describe(), "could not be started: No such file or directory");

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
