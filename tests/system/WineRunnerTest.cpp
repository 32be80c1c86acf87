// The process runner with a Windows program: the cross-built stand-in cipher tool, run through
// Wine and the bridge. Runs in the test prefix the wine_prefix fixture sets up.

#include "StandInCipher.h"
#include "TestSupport.h"
#include "system/Cancel.h"
#include "system/Process.h"
#include "system/Wine.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>

using namespace ostrapel;
using namespace testsupport;
using namespace std::chrono_literals;

namespace {

// A folder holding the Windows stand-in tool, with blanks and non-ASCII letters in its path.
struct WindowsScene {
    WindowsScene() {
        MakeDir(folder);
        WriteFile(tool, ReadFile(OSTRAPEL_WINDOWS_TOOL));
        runner.UseWineBridge(OSTRAPEL_WINE_BRIDGE);
    }

    // A save enciphered by the stand-in, in the scene's folder.
    std::string save(const std::string& name, unsigned seed) {
        WriteFile(folder + "/" + name, EncipheredSave(1000, seed));
        return folder + "/" + name;
    }
    ProcessOutcome run(const std::string& direction, const std::string& file,
                       const RunLimits& limits = {}) {
        return runner.Run_Process(CommandLine{tool, {"/" + direction + ":" + file}},
                                  Scn_Process::kHidden, limits);
    }
    // Whether any process still runs with the scene's folder in its command line (Windows
    // processes under Wine show their Windows command line).
    bool toolsRunning() const {
        const std::string mark = root.path().substr(root.path().rfind('/') + 1);
        for (int attempt = 0; attempt < 200; ++attempt) {
            bool found = false;
            for (const auto& [pid, line] : ProcessCommandLines()) {
                found = found || (pid != ::getpid() && line.find(mark) != std::string::npos);
            }
            if (!found) {
                return false;
            }
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    TempDir root;
    std::string folder = root / "dossier à blancs";
    std::string tool = folder + "/decrypt.exe";
    Scn_Process runner;
    ScopedEnv strict{"STAND_IN_CIPHER_STRICT", "1"};
};

} // namespace

TEST(WineBridge, RunsTheWindowsToolWithTheExactCommandLine) {
    WindowsScene scene;
    ASSERT_TRUE(IsWindowsProgram(scene.tool));
    // The strict stand-in refuses (exit 64) anything but "TOOL" /decrypt:"PATH" with one blank
    // after each closing quote, and TOOL its own Windows path.
    for (const std::string name : {"plain.sav", "with blanks.sav", "sauvegarde é ü セーブ.sav"}) {
        const std::string save = scene.save(name, 7);
        ProcessOutcome deciphered = scene.run("decrypt", save);
        EXPECT_TRUE(deciphered.succeeded())
            << name << ": " << deciphered.phrase().English() << ": " << deciphered.output;
        EXPECT_EQ(ReadFile(save), PlainSave(1000, 7)) << name;
        EXPECT_TRUE(Exists(save + ".backup")) << name;
        ProcessOutcome enciphered = scene.run("encrypt", save);
        EXPECT_TRUE(enciphered.succeeded()) << name << ": " << enciphered.output;
        EXPECT_EQ(ReadFile(save), EncipheredSave(1000, 7)) << name;
    }
    // The same line through a Windows command-line text.
    const std::string save = scene.save("text line.sav", 3);
    ProcessOutcome fromText = scene.runner.Run_Process(
        "\"" + scene.tool + "\" /decrypt:\"" + save + "\" ", Scn_Process::kHidden);
    EXPECT_TRUE(fromText.succeeded()) << fromText.output;
    EXPECT_EQ(ReadFile(save), PlainSave(1000, 3));
}

TEST(WineBridge, ReportsExitCodesAndOutputAsForANativeProgram) {
    WindowsScene scene;
    const std::string save = scene.save("a.sav", 1);
    {
        ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "decrypt:exit=7:a.sav");
        ProcessOutcome failed = scene.run("decrypt", save);
        EXPECT_EQ(failed.kind, ProcessOutcome::Kind::Exited);
        EXPECT_EQ(failed.exitCode, 7);
        EXPECT_EQ(failed.lastOutputLine(), "stand-in: decrypt of a.sav failed on purpose");
        EXPECT_EQ(ReadFile(save), EncipheredSave(1000, 1));
    }
    // A file that is not enciphered: the tool's own complaint comes back.
    WriteFile(scene.folder + "/plain.sav", "not enciphered");
    ProcessOutcome refused = scene.run("decrypt", scene.folder + "/plain.sav");
    EXPECT_EQ(refused.exitCode, 65);
    EXPECT_EQ(refused.lastOutputLine(), "plain.sav is not enciphered");

    // A name that is not UTF-8 reaches the tool as the Windows name Wine gives that file;
    // a path with no Windows form leading back to it is never handed on.
    const std::string odd = scene.folder + "/odd\xb2name.sav";
    WriteFile(odd, EncipheredSave(1000, 2));
    ProcessOutcome mapped = scene.run("decrypt", odd);
    EXPECT_TRUE(mapped.succeeded()) << mapped.phrase().English() << ": " << mapped.output;
    EXPECT_EQ(ReadFile(odd), PlainSave(1000, 2));
    ProcessOutcome unmapped = scene.run("decrypt", scene.folder + "/missing\xb2name.sav");
    EXPECT_EQ(unmapped.kind, ProcessOutcome::Kind::NotStarted);
    EXPECT_NE(unmapped.error.English().find("no Windows form"), std::string::npos)
        << unmapped.error;

    // A crash is named; the runner goes on with the same bridge after all of these.
    {
        ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "decrypt:crash:a.sav");
        ProcessOutcome crashed = scene.run("decrypt", save);
        EXPECT_EQ(crashed.phrase().English(), "crashed (access violation, 0xC0000005)")
            << crashed.output;
        EXPECT_EQ(ReadFile(save), EncipheredSave(1000, 1));
    }
    EXPECT_TRUE(scene.run("decrypt", save).succeeded());
}

// Wine shows its crash dialog whatever the error mode, and with a display a crashing tool would
// wait behind it until its time limit. The bridge's programs run with Wine's debugger off, the
// user's own overrides kept; the prefix is left as it is.
TEST(WineBridge, RunsProgramsWithWinesDebuggerOff) {
    Scn_Process runner;
    runner.UseWineBridge(OSTRAPEL_WINE_BRIDGE);
    const CommandLine overrides{OSTRAPEL_WINDOWS_PROBE, {"env", "WINEDLLOVERRIDES"}};
    EXPECT_EQ(runner.Run_Process(overrides, Scn_Process::kHidden).output, "winedbg.exe=d");
    ScopedEnv own("WINEDLLOVERRIDES", "mscoree=d");
    EXPECT_EQ(runner.Run_Process(overrides, Scn_Process::kHidden).output,
              "mscoree=d;winedbg.exe=d");
}

// A run's own working folder and temporary folder reach the program, in their Windows form;
// without them it gets the bridge's own.
TEST(WineBridge, GivesAProgramTheWorkingAndTemporaryFolderOfItsRun) {
    WindowsScene scene;
    const std::string work = scene.folder + "/job 1";
    const std::string temp = work + "/temp";
    std::filesystem::create_directories(testsupport::Native(temp));
    const CommandLine place{OSTRAPEL_WINDOWS_PROBE, {"place"}};
    RunLimits limits;
    limits.workingFolder = work;
    limits.temporaryFolder = temp;
    std::string windowsWork = "Z:" + work;
    std::replace(windowsWork.begin(), windowsWork.end(), '/', '\\');
    const std::string windowsTemp = windowsWork + "\\temp";
    EXPECT_EQ(scene.runner.Run_Process(place, Scn_Process::kHidden, limits).output,
              windowsWork + "\n" + windowsTemp + "\n" + windowsTemp + "\n");
    const std::string own = scene.runner.Run_Process(place, Scn_Process::kHidden).output;
    EXPECT_EQ(own.find(windowsWork), std::string::npos) << own;
}

TEST(WineBridge, CollectsTheOutputTailOfAnyLengthWithAnEmptyInput) {
    WindowsScene scene;
    const std::string probe = scene.folder + "/probe.exe";
    WriteFile(probe, ReadFile(OSTRAPEL_WINDOWS_PROBE));
    auto run = [&](std::vector<std::string> arguments) {
        return scene.runner.Run_Process(CommandLine{probe, std::move(arguments)},
                                        Scn_Process::kHidden);
    };
    // Standard output and error, both.
    ProcessOutcome said = run({"say", "first", "the last words"});
    EXPECT_TRUE(said.succeeded()) << said.phrase().English();
    EXPECT_EQ(said.output, "first\nthe last words\n");
    // Far more than a pipe holds: the program is read while it runs, and the tail is kept.
    ProcessOutcome chatty = run({"lines", "30000"});
    EXPECT_TRUE(chatty.succeeded()) << chatty.phrase().English();
    EXPECT_EQ(chatty.output.size(), ProcessOutcome::kOutputKept);
    EXPECT_EQ(chatty.lastOutputLine(), "line29999");
    EXPECT_EQ(run({"stdin"}).output, "eof");
    // Nothing of one run's output is left for the next.
    EXPECT_EQ(run({"exit", "0"}).output, "");
    // Another program through the same bridge gets its own path as the program, then the
    // first its own again: the strict stand-in refuses any other.
    const std::string save = scene.save("between.sav", 6);
    ProcessOutcome other = scene.run("decrypt", save);
    EXPECT_TRUE(other.succeeded()) << other.phrase().English() << ": " << other.output;
    std::string windowsProbe = "Z:" + probe; // the test prefix maps / to Z:
    std::replace(windowsProbe.begin(), windowsProbe.end(), '/', '\\');
    ProcessOutcome again = run({"commandline"});
    EXPECT_TRUE(again.output.starts_with("\"" + windowsProbe + "\" ")) << again.output;
}

TEST(WineBridge, EndsAWindowsToolAtItsTimeLimitOrOnCancelWithWhatItStarted) {
    WindowsScene scene;
    const std::string save = scene.save("slow.sav", 4);
    ASSERT_TRUE(scene.run("decrypt", save).succeeded()); // the bridge is up
    {
        ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "any:linger=60000:*;any:hang:*");
        const auto start = std::chrono::steady_clock::now();
        ProcessOutcome outcome = scene.run("encrypt", save, {1500ms, nullptr});
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::TimedOut) << outcome.phrase().English();
        EXPECT_EQ(outcome.phrase().English(), "did not finish within 1500 ms");
        EXPECT_LT(took, 10s);
        EXPECT_FALSE(scene.toolsRunning());

        CancelFlag cancel;
        std::thread canceller([&] {
            std::this_thread::sleep_for(800ms);
            cancel.raise();
        });
        ProcessOutcome cancelled = scene.run("encrypt", save, {60s, &cancel});
        canceller.join();
        EXPECT_EQ(cancelled.kind, ProcessOutcome::Kind::Cancelled);
        EXPECT_FALSE(scene.toolsRunning());
        EXPECT_EQ(scene.run("encrypt", save, {60s, &cancel}).kind, ProcessOutcome::Kind::Cancelled);
    }
    // A helper the tool leaves behind is ended when the tool ends.
    {
        ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "any:linger=60000:*");
        EXPECT_TRUE(scene.run("encrypt", save).succeeded());
        EXPECT_FALSE(scene.toolsRunning());
    }
    EXPECT_TRUE(scene.run("decrypt", save).succeeded());
    EXPECT_EQ(ReadFile(save), PlainSave(1000, 4));
}

TEST(WineBridge, ServesConcurrentRunsFromSeveralThreads) {
    WindowsScene scene;
    constexpr int kThreads = 3;
    constexpr int kRuns = 4;
    std::vector<std::string> saves;
    for (int t = 0; t < kThreads; ++t) {
        saves.push_back(scene.save("slot " + std::to_string(t) + ".sav", static_cast<unsigned>(t)));
    }
    std::vector<int> succeeded(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRuns; ++i) {
                const std::string& save = saves[static_cast<std::size_t>(t)];
                succeeded[static_cast<std::size_t>(t)] +=
                    scene.run(i % 2 == 0 ? "decrypt" : "encrypt", save).succeeded() ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // Its bridges end cleanly as soon as the runner goes, not after a wait for them.
    const auto start = std::chrono::steady_clock::now();
    { Scn_Process gone = std::move(scene.runner); }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(succeeded[static_cast<std::size_t>(t)], kRuns) << t;
        EXPECT_EQ(ReadFile(saves[static_cast<std::size_t>(t)]),
                  EncipheredSave(1000, static_cast<unsigned>(t)));
    }
}

TEST(WineBridge, SaysWhyAWindowsToolCannotRun) {
    WindowsScene scene;
    const std::string save = scene.save("a.sav", 5);
    {
        ScopedEnv path("PATH", scene.root / "nowhere");
        ScopedEnv wine("WINE", "");
        ProcessOutcome outcome = scene.run("decrypt", save);
        EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::NotStarted);
        EXPECT_EQ(outcome.error, kWineMissing);
    }
    {
        // A Wine that does not start anything.
        WriteFile(scene.root / "wine", "#!/bin/sh\nexit 1\n");
        ::chmod((scene.root / "wine").c_str(), 0755);
        ScopedEnv wine("WINE", scene.root / "wine");
        ProcessOutcome outcome = scene.run("decrypt", save);
        EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::NotStarted);
        EXPECT_NE(outcome.error.English().find("did not start"), std::string::npos)
            << outcome.error;
    }
    Scn_Process noBridge;
    noBridge.UseWineBridge(scene.root / "missing.exe");
    ProcessOutcome outcome =
        noBridge.Run_Process(CommandLine{scene.tool, {"/decrypt:" + save}}, Scn_Process::kHidden);
    EXPECT_EQ(outcome.kind, ProcessOutcome::Kind::NotStarted);
    EXPECT_NE(outcome.error.English().find(kWineBridgeName), std::string::npos) << outcome.error;
    EXPECT_EQ(ReadFile(save), EncipheredSave(1000, 5));
}
