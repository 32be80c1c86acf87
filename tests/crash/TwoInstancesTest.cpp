// Two ostrapel-cli processes in one program folder at once: the second must neither convert
// nor clear the work folder under the first's batch, and must touch none of its saves.

#include "TestSupport.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSaveSize = 2000;

struct Cli {
    pid_t pid = -1;
    std::string output;
};

// Starts ostrapel-cli --dlc label folder, its output going to outPath.
Cli Start(const std::string& cli, const std::string& label, const std::string& folder,
          const std::string& outPath, const char* faults) {
    Cli run;
    run.output = outPath;
    run.pid = ::fork();
    if (run.pid == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        if (faults != nullptr) {
            ::setenv("STAND_IN_CIPHER_FAULTS", faults, 1);
        }
        // Two jobs on any machine, so the tool runs from the jobs' copies.
        ::execl(cli.c_str(), cli.c_str(), "--jobs", "2", "--dlc", label.c_str(), folder.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return run;
}

// Waits for the end and gives the exit status (-1 when it did not exit).
int Finish(const Cli& run) {
    int status = 0;
    ::waitpid(run.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(TwoInstances, TheSecondTouchesNothingWhileTheFirstConverts) {
    TempDir root;
    const std::string app = testsupport::MakeProgramFolder(root);
    const std::string cli = app + "ostrapel-cli";
    fs::copy_file(OSTRAPEL_CLI_PATH, cli);
    const std::string work = app + "Decrypt/temp/";
    const std::string log = root / "tool.log";
    testsupport::ScopedEnv logEnv("STAND_IN_CIPHER_LOG", log);

    const std::string first = root / "first";
    const std::string second = root / "second";
    testsupport::MakeDir(first);
    testsupport::MakeDir(second);
    for (unsigned i = 0; i < 3; ++i) {
        WriteFile(first + "/a" + std::to_string(i) + ".sav", EncipheredSave(kSaveSize, i));
        WriteFile(second + "/b" + std::to_string(i) + ".sav", EncipheredSave(kSaveSize, 10 + i));
    }

    // The first is slowed down so that the second starts inside its batch.
    Cli one = Start(cli, "2.00", first, root / "one.txt", "any:sleep=150:*");
    for (int i = 0; i < 500 && !testsupport::Exists(log); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(testsupport::Exists(log)) << "the first instance never ran the tool";

    // The first's copy of the tool for its first job, which every later batch reuses.
    const std::string copy = work + ".jobs/0/Decrypt/decrypt.exe";
    const auto copyId = [&copy] {
        struct stat st {};
        return ::stat(copy.c_str(), &st) == 0 ? st.st_ino : ino_t{0};
    };
    for (int i = 0; i < 500 && copyId() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const ino_t made = copyId();
    EXPECT_NE(made, ino_t{0}) << "the first instance made no copy of the tool";

    Cli two = Start(cli, "4.00", second, root / "two.txt", nullptr);
    EXPECT_EQ(Finish(two), 1);
    const std::string said = ReadFile(two.output);
    EXPECT_NE(said.find("Changed versions DLC in 0 files\n\nAnother conversion is using the work "
                        "folder"),
              std::string::npos)
        << said;
    // The first's work copies are still there, and none of the second's saves changed.
    EXPECT_FALSE(testsupport::LeftInWorkFolder(work).empty());
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_TRUE(ReadFile(second + "/b" + std::to_string(i) + ".sav") ==
                    EncipheredSave(kSaveSize, 10 + i));
    }

    EXPECT_EQ(Finish(one), 0) << ReadFile(one.output);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_TRUE(ReadFile(first + "/a" + std::to_string(i) + ".sav") ==
                    ConvertedSave(kSaveSize, i, 200));
    }
    EXPECT_TRUE(testsupport::LeftInWorkFolder(work).empty());

    // Once the first is done, the second goes through.
    EXPECT_EQ(Finish(Start(cli, "4.00", second, root / "two.txt", nullptr)), 0);
    EXPECT_EQ(copyId(), made) << "the copy was made again";
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_TRUE(ReadFile(second + "/b" + std::to_string(i) + ".sav") ==
                    ConvertedSave(kSaveSize, 10 + i, 400));
    }
}
