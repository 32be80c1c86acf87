// Faults around a batch: folders and saves that cannot be written, a full disk, a cipher tool
// that is no program, and a tool outliving the batch that started it. Each must leave every
// save byte for byte as it was and name the file, or refuse the batch.

#include "Report.h"
#include "TestSupport.h"
#include "conversion/BackupManifest.h"
#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "conversion/SaveFolder.h"
#include "system/Cancel.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::LeftInWorkFolder;
using testsupport::ReadFile;
using testsupport::ReadLines;
using testsupport::ScopedEnv;
using testsupport::SortedNames;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSaveSize = 40000;
constexpr int kCannotSetUp = 77;

enum class ChildResult { Passed, Failed, CannotSetUp };

// Runs checks in a forked child that first calls setUp (which returns false when the child
// cannot be made as needed). The child prints its own failures and reports them by exit status.
ChildResult InChild(const std::function<bool()>& setUp, const std::function<void()>& checks) {
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (!setUp()) {
            std::fflush(stderr);
            ::_exit(kCannotSetUp);
        }
        checks();
        std::fflush(stdout);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotSetUp) {
        return ChildResult::CannotSetUp;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildResult::Passed
                                                         : ChildResult::Failed;
}

// Root ignores permission bits, so permission faults are tried as an unprivileged user.
constexpr uid_t kNobody = 65534;

// Gives a tree to the unprivileged user the checks run as, when running as root.
void HandOver(const std::string& tree) {
    if (::geteuid() != 0) {
        return;
    }
    ASSERT_EQ(::lchown(tree.c_str(), kNobody, kNobody), 0);
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
        ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0) << entry.path();
    }
}

bool DropPrivileges() {
    if (::geteuid() != 0) {
        return true; // permission bits apply already
    }
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
        std::fprintf(stderr, "cannot become uid %u: %s\n", kNobody, std::strerror(errno));
        return false;
    }
    return true;
}

// A mount namespace of the child's own, so a test may mount a small tmpfs.
bool PrivateMounts() {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::fprintf(stderr, "cannot make a private mount namespace: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

void MountTmpfs(const std::string& folder, const char* size) {
    const std::string options = std::string("size=") + size + ",mode=0755";
    ASSERT_EQ(::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()), 0)
        << std::strerror(errno);
}

// Fills the file system of folder, then frees about leave bytes again.
void FillLeaving(const std::string& folder, std::size_t leave) {
    const std::string filler = folder + "/.filler";
    int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'f');
    off_t size = 0;
    for (ssize_t put; (put = ::write(fd, block.data(), block.size())) > 0;) {
        size += put;
    }
    ASSERT_EQ(errno, ENOSPC);
    ASSERT_GT(size, static_cast<off_t>(leave));
    ASSERT_EQ(::ftruncate(fd, size - static_cast<off_t>(leave)), 0);
    ::close(fd);
}

class FaultTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    void AddSave(const std::string& name) {
        WriteFile(saves + "/" + name, Original(name));
        names.push_back(name);
    }
    void AddSaves() {
        for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
            AddSave(name);
        }
    }
    unsigned Seed(const std::string& name) const { return static_cast<unsigned>(name[0]); }
    std::string Original(const std::string& name) const {
        return EncipheredSave(kSaveSize, Seed(name));
    }
    std::string Converted(const std::string& name) const {
        return ConvertedSave(kSaveSize, Seed(name), 200);
    }
    std::string Save(const std::string& name) const { return ReadFile(saves + "/" + name); }

    BatchResult Run(BatchObserver* observer = nullptr, std::size_t jobs = DefaultJobs()) {
        Scn_Process runner;
        BatchRequest request{saves, names, appDir, "200"};
        request.jobs = jobs;
        return ConvertSaves(request, runner, observer);
    }

    // Every save as it was, each named with the reason, nothing left behind.
    void ExpectNothingChanged(const BatchResult& result, const std::string& reason) {
        EXPECT_EQ(result.changedCount, 0u);
        ASSERT_EQ(result.files.size(), names.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_TRUE(Save(names[i]) == Original(names[i])) << names[i];
            EXPECT_EQ(result.files[i].reason, reason) << names[i];
            EXPECT_NE(FullReport(result).find("\n" + names[i] + ": " + reason), std::string::npos)
                << FullReport(result);
        }
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end());
        std::vector<std::string> present = SortedNames(saves);
        present.erase(std::remove(present.begin(), present.end(), ".filler"), present.end());
        EXPECT_EQ(present, expected) << "a temporary was left in the save folder";
    }

    // Marks the test skipped (callers then return) when the child could not be set up.
    void ExpectPassedAs(ChildResult result, const char* why) {
        if (result == ChildResult::CannotSetUp) {
            GTEST_SKIP() << why;
        }
        EXPECT_EQ(result, ChildResult::Passed) << "the checks in the child failed (see above)";
    }

    std::vector<std::string> names;
};

constexpr const char* kNeedsAnotherUser =
    "permission bits need an unprivileged user, and this run can neither be one nor become one";
constexpr const char* kNeedsTmpfs =
    "a full disk needs a small tmpfs, and this run may not mount one (needs CAP_SYS_ADMIN)";

} // namespace

TEST_F(FaultTest, ASaveFolderThatCannotBeWrittenKeepsEverySave) {
    AddSaves();
    HandOver(root.path());
    ASSERT_EQ(::chmod(saves.c_str(), 0555), 0);
    ExpectPassedAs(InChild(DropPrivileges,
                           [&] {
                               ExpectNothingChanged(Run(), "copy failed: Permission denied");
                               EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
                           }),
                   kNeedsAnotherUser);
}

TEST_F(FaultTest, AReadOnlySaveIsLeftAsItIsAndNamed) {
    AddSaves();
    HandOver(root.path());
    ASSERT_EQ(::chmod((saves + "/b.sav").c_str(), 0444), 0);
    auto checks = [&] {
        BatchResult result = Run();
        EXPECT_TRUE(Save("b.sav") == Original("b.sav"));
        EXPECT_EQ(result.files[1].reason, "is read-only");
        EXPECT_TRUE(Save("a.sav") == Converted("a.sav"));
        EXPECT_TRUE(Save("c.sav") == Converted("c.sav"));
        EXPECT_EQ(result.changedCount, 2u);
        // Its tool runs are spared too.
        EXPECT_EQ(ReadFile(log).find("b.sav"), std::string::npos);
    };
    ExpectPassedAs(InChild(DropPrivileges, checks), kNeedsAnotherUser);
    if (IsSkipped()) {
        return;
    }
    // The same for a user whom the permission bits do not stop, with backups of its own (it
    // leaves the other user's alone).
    testsupport::RemoveTree(backups);
    WriteFile(log, "");
    for (const std::string& name : names) {
        WriteFile(saves + "/" + name, Original(name));
    }
    checks();
}

TEST_F(FaultTest, ASaveMadeReadOnlyDuringTheBatchIsNotReplaced) {
    AddSaves();
    struct MarkReadOnly : BatchObserver {
        std::string path;
        std::size_t moves = 0;
        void cursorMoved(std::size_t) override {
            if (++moves == 4) { // the second pass begins
                ::chmod(path.c_str(), 0444);
            }
        }
    } observer;
    observer.path = saves + "/b.sav";
    BatchResult result = Run(&observer);
    EXPECT_TRUE(Save("b.sav") == Original("b.sav"));
    EXPECT_EQ(result.files[1].reason, "copy failed: is read-only");
    EXPECT_EQ(result.changedCount, 2u);
}

TEST_F(FaultTest, AWorkFolderThatCannotBeWrittenChangesNothing) {
    AddSaves();
    HandOver(root.path());
    const std::string work = WorkFolderOf(appDir);
    ASSERT_EQ(::chmod(work.c_str(), 0555), 0);
    ExpectPassedAs(InChild(DropPrivileges,
                           [&] {
                               BatchResult result = Run();
                               EXPECT_EQ(result.refusal, "Work folder unavailable: " + work +
                                                             ".scratch: Permission denied");
                               EXPECT_EQ(result.changedCount, 0u);
                               for (const std::string& name : names) {
                                   EXPECT_TRUE(Save(name) == Original(name));
                               }
                           }),
                   kNeedsAnotherUser);
    if (IsSkipped()) {
        return;
    }

    // A missing work folder that cannot be made refuses the batch.
    ASSERT_EQ(::rmdir(work.c_str()), 0);
    ASSERT_EQ(::chmod((appDir + "Decrypt").c_str(), 0555), 0);
    ExpectPassedAs(InChild(DropPrivileges,
                           [&] {
                               BatchResult result = Run();
                               EXPECT_EQ(result.refusal, "Work folder unavailable: " + work +
                                                             ": Permission denied");
                               EXPECT_EQ(result.changedCount, 0u);
                               for (const std::string& name : names) {
                                   EXPECT_TRUE(Save(name) == Original(name));
                               }
                           }),
                   kNeedsAnotherUser);
}

// Backups that cannot be written: the batch replaces nothing, and says where and why.
TEST_F(FaultTest, ABackupFolderThatCannotBeWrittenReplacesNothing) {
    AddSaves();
    testsupport::MakeDir(backups);
    HandOver(root.path());
    ASSERT_EQ(::chmod(backups.c_str(), 0555), 0);
    ExpectPassedAs(InChild(DropPrivileges,
                           [&] {
                               ExpectNothingChanged(Run(), "Cannot keep a backup in " + backups +
                                                               ": Permission denied");
                               EXPECT_TRUE(SortedNames(backups).empty());
                               EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
                           }),
                   kNeedsAnotherUser);
}

TEST_F(FaultTest, ADiskFullForTheBackupsReplacesNothing) {
    ExpectPassedAs(InChild(PrivateMounts,
                           [&] {
                               testsupport::MakeDir(backups);
                               // Room for about two of the three originals.
                               ASSERT_NO_FATAL_FAILURE(MountTmpfs(backups, "96k"));
                               AddSaves();
                               BatchResult result = Run();
                               ExpectNothingChanged(result, "Cannot keep a backup in " + backups +
                                                                ": No space left on device");
                               EXPECT_TRUE(result.backupSet.empty());
                               // Nothing of the failed set is left.
                               for (const std::string& folder : SortedNames(backups)) {
                                   EXPECT_TRUE(SortedNames(backups + "/" + folder).empty())
                                       << folder;
                               }
                           }),
                   kNeedsTmpfs);
}

TEST_F(FaultTest, ACipherToolThatIsNoProgramIsReported) {
    AddSaves();
    // What a tool built for another system looks like here.
    const char foreign[] = "MZ\x90\0\3\0\0\0\4\0\0\0\xff\xff";
    WriteFile(CipherToolOf(appDir), std::string(foreign, sizeof foreign - 1));
    ASSERT_EQ(::chmod(CipherToolOf(appDir).c_str(), 0755), 0);
    ExpectNothingChanged(Run(), "cipher tool could not be started: Exec format error");

    ASSERT_EQ(::unlink(CipherToolOf(appDir).c_str()), 0);
    testsupport::MakeDir(CipherToolOf(appDir));
    BatchResult result = Run();
    EXPECT_EQ(result.refusal, "Cipher tool not found: " + CipherToolOf(appDir));
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Original(name));
    }
}

TEST_F(FaultTest, ADiskFullWhileReplacingLeavesEverySaveWhole) {
    ExpectPassedAs(InChild(PrivateMounts,
                           [&] {
                               ASSERT_NO_FATAL_FAILURE(MountTmpfs(saves, "512k"));
                               AddSaves();
                               // Room for the work, not for a second copy of any save.
                               ASSERT_NO_FATAL_FAILURE(FillLeaving(saves, kSaveSize / 2));
                               ExpectNothingChanged(Run(), "copy failed: No space left on device");
                               EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
                           }),
                   kNeedsTmpfs);
}

TEST_F(FaultTest, ADiskFullInTheWorkFolderLeavesEverySaveWhole) {
    ExpectPassedAs(InChild(PrivateMounts,
                           [&] {
                               // Room for one work copy but not for the tool's side file beside it.
                               ASSERT_NO_FATAL_FAILURE(MountTmpfs(WorkFolderOf(appDir), "64k"));
                               AddSaves();
                               BatchResult result = Run();
                               EXPECT_EQ(result.changedCount, 0u);
                               for (std::size_t i = 0; i < names.size(); ++i) {
                                   EXPECT_TRUE(Save(names[i]) == Original(names[i]));
                                   EXPECT_NE(FullReport(result).find("\n" + names[i] + ": "),
                                             std::string::npos);
                               }
                               EXPECT_EQ(
                                   result.files[0].reason,
                                   "cipher tool failed (exit code 73): cannot write the backup of "
                                   "a.sav");
                               EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
                               EXPECT_EQ(SortedNames(saves),
                                         (std::vector<std::string>{"a.sav", "b.sav", "c.sav"}));
                           }),
                   kNeedsTmpfs);
}

namespace {

// Processes whose command line is exactly args.
std::vector<pid_t> ProcessesRunning(const std::vector<std::string>& args) {
    std::string wanted;
    for (const std::string& arg : args) {
        wanted += arg;
        wanted.push_back('\0');
    }
    std::vector<pid_t> found;
    for (const auto& [pid, cmdline] : testsupport::ProcessCommandLines()) {
        if (cmdline == wanted) {
            found.push_back(static_cast<pid_t>(pid));
        }
    }
    return found;
}

} // namespace

// A program killed while its cipher tool runs leaves the tool running on a work copy; a next
// batch must not clear the work folder and copy saves into it while that tool may still write.
TEST_F(FaultTest, AToolOutlivingItsKilledBatchKeepsTheNextBatchOff) {
    AddSaves();
    // The run that hangs enciphers b.sav's plain form to confirm it by its save.
    const std::vector<std::string> toolRun = {
        Join({WorkFolderOf(appDir), kJobsFolder, "0", "Decrypt", "decrypt.exe"}),
        "/encrypt:" + JoinPath(WorkFolderOf(appDir) + kScratchFolder, "b.sav")};
    pid_t batch = ::fork();
    if (batch == 0) {
        ::setenv("STAND_IN_CIPHER_FAULTS", "encrypt:hang=60000:b.sav", 1);
        Run(nullptr, 1); // one job: no other run is starting when the batch is killed
        ::_exit(0);
    }
    std::vector<pid_t> tool;
    for (int i = 0; i < 1000 && tool.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        tool = ProcessesRunning(toolRun);
    }
    ::kill(batch, SIGKILL);
    ::waitpid(batch, nullptr, 0);
    ASSERT_EQ(tool.size(), 1u) << "the hanging tool run was not seen";
    struct Killer {
        pid_t pid;
        ~Killer() { ::kill(pid, SIGKILL); }
    } killer{tool[0]};

    // The refusal says what holds the folder, so the user can end it.
    const std::string holder = std::string(kToolStillRunning) + ", and keeps the work folder " +
                               WorkFolderOf(appDir) + " in use (process " +
                               std::to_string(tool[0]) + ")";
    BatchResult refused = Run();
    EXPECT_EQ(refused.refusal.English().rfind(holder, 0), 0u) << refused.refusal.English();
    EXPECT_EQ(ClearWorkFolder(appDir).reason().rfind(holder, 0), 0u);
    EXPECT_TRUE(testsupport::Exists(WorkFolderOf(appDir) + "b.sav"));
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Original(name));
    }

    ::kill(tool[0], SIGKILL);
    bool released = false;
    for (int i = 0; i < 500 && !released; ++i) {
        released = FolderLock(WorkFolderOf(appDir)).held();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(released) << "the work folder stayed locked after the tool ended";
    EXPECT_TRUE(Run().allChanged());
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Converted(name));
    }
}

// A batch killed after it kept the originals but before it replaced any save leaves a set that
// undoes nothing: the restore passes over it, marked undone, and undoes the batch before.
TEST_F(FaultTest, ARestorePassesOverTheSetOfABatchKilledBeforeItReplacedAnything) {
    AddSaves();
    BatchResult first = Run();
    ASSERT_TRUE(first.allChanged()) << FullReport(first);
    pid_t batch = ::fork();
    if (batch == 0) {
        struct Kill : BatchObserver {
            std::size_t moves = 0;
            void cursorMoved(std::size_t) override {
                if (++moves == 11) { // the replacement pass begins: the originals are kept
                    ::kill(::getpid(), SIGKILL);
                }
            }
        } kill;
        Scn_Process runner;
        BatchRequest request{saves, names, appDir, "100"};
        request.jobs = 1;
        ConvertSaves(request, runner, &kill);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(batch, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    BackupSetListing listing = ListBackupSets(backups, saves);
    ASSERT_EQ(listing.sets.size(), 2u);
    const std::string killed = listing.sets[0].folder;
    ASSERT_FALSE(listing.sets[0].manifest.complete);

    RestoreResult restored = RestoreLastConversion(backups, saves);
    EXPECT_TRUE(restored.allRestored()) << FullReport(restored);
    EXPECT_EQ(restored.setFolder, first.backupSet);
    EXPECT_EQ(FullReport(restored),
              "Passed over the backup set " + killed +
                  ": its conversion was stopped before it changed any save; it "
                  "is marked undone\n\nRestored 3 files");
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Original(name)) << name;
    }
    EXPECT_EQ(NewestNotUndone(ListBackupSets(backups, saves)), nullptr);
}

// The program folder and everything in it, the work folder first, is never a save folder:
// the work folder is emptied at the start of a batch, and the program's own files would be
// rewritten by a tool that accepts anything.
TEST_F(FaultTest, ASaveFolderInsideTheProgramFolderIsRefusedBeforeAnythingIsTouched) {
    ScopedEnv lenient("STAND_IN_CIPHER_FAULTS", "any:lenient:*");
    const std::string work = WorkFolderOf(appDir);
    const std::string program = appDir + "ostrapel";
    WriteFile(program, std::string(2000, 'P'));
    WriteFile(work + "slot1.sav", Original("slot1.sav"));
    testsupport::MakeDir(appDir + "saves");
    WriteFile(appDir + "saves/slot2.sav", Original("slot2.sav"));
    ASSERT_EQ(::symlink(appDir.c_str(), (root / "shortcut").c_str()), 0);

    for (const std::string& folder :
         {appDir, appDir.substr(0, appDir.size() - 1), work, appDir + "saves", root / "shortcut",
          root / "shortcut/Decrypt/../saves"}) {
        Scn_Process runner;
        const std::vector<std::string> listed = ListSaveFolder(folder);
        BatchResult result = ConvertSaves({folder, listed, appDir, "200"}, runner);
        EXPECT_EQ(result.refusal, "The save folder is inside the program folder: " + folder);
        EXPECT_EQ(CheckSaveFolder(folder, appDir).reason(), result.refusal);
        EXPECT_EQ(result.changedCount, 0u);
    }
    EXPECT_EQ(ReadFile(program), std::string(2000, 'P'));
    EXPECT_TRUE(ReadFile(work + "slot1.sav") == Original("slot1.sav"));
    EXPECT_TRUE(ReadFile(appDir + "saves/slot2.sav") == Original("slot2.sav"));
    EXPECT_FALSE(testsupport::Exists(log));

    // A folder whose name merely starts with the program folder's is not inside it.
    const std::string beside = appDir.substr(0, appDir.size() - 1) + "-saves";
    testsupport::MakeDir(beside);
    EXPECT_TRUE(CheckSaveFolder(beside, appDir).ok());
}

// A run that exits 0 but leaves the file as it was has not done its work: the field would be
// written into enciphered bytes, or plain bytes would go back as the save.
TEST_F(FaultTest, AToolRunThatChangesNothingIsAFailedRun) {
    AddSaves();
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "decrypt:noop:a.sav;encrypt:noop:b.sav");
    BatchResult result = Run();
    EXPECT_EQ(result.files[0].reason, "cipher tool changed nothing");
    EXPECT_EQ(result.files[1].reason, "cipher tool changed nothing");
    EXPECT_TRUE(Save("a.sav") == Original("a.sav"));
    EXPECT_TRUE(Save("b.sav") == Original("b.sav"));
    EXPECT_TRUE(Save("c.sav") == Converted("c.sav"));
    EXPECT_EQ(result.changedCount, 1u);
}

// Every enciphered result is deciphered again in a scratch copy and must give back the
// patched save byte for byte before it may replace anything.
TEST_F(FaultTest, ADamagedEncipheredResultNeverReplacesTheSave) {
    AddSaves();
    // The first encipher of each is its witness, the second the result; with one job a failed
    // run is not tried again.
    testsupport::MakeDir(root / "state");
    ScopedEnv state("STAND_IN_CIPHER_STATE", root / "state");
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS",
                     "encrypt:truncate=100:a.sav#2;encrypt:corrupt:b.sav#2");
    BatchResult result = Run(nullptr, 1);
    const std::string why = "the enciphered result does not decipher back to the patched save";
    EXPECT_EQ(result.files[0].reason, why);
    EXPECT_EQ(result.files[1].reason, why);
    EXPECT_TRUE(Save("a.sav") == Original("a.sav"));
    EXPECT_TRUE(Save("b.sav") == Original("b.sav"));
    EXPECT_TRUE(Save("c.sav") == Converted("c.sav"));
    EXPECT_EQ(SortedNames(saves), (std::vector<std::string>{"a.sav", "b.sav", "c.sav"}));
    EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
}

TEST_F(FaultTest, ScratchCopiesNeverMeetAnotherSavesWorkCopy) {
    // Names a scratch or kept copy could take if they lived beside the work copies.
    for (const char* name : {"a.sav", "a.sav.check", "a.sav.patched", "scratch", "patched"}) {
        AddSave(name);
    }
    BatchResult result = Run();
    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Converted(name)) << name;
    }
}

// The game may need the save's owner and group; a user who cannot give them to the
// replacement leaves the save alone.
TEST_F(FaultTest, AReplacedSaveKeepsItsOwnerAndGroup) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to set up saves of another owner and group";
    }
    constexpr gid_t kGames = 60;
    AddSaves();
    HandOver(root.path());
    ASSERT_EQ(::chmod(saves.c_str(), 0777), 0);
    // a.sav: the user's own, in a group the user belongs to but whose primary group it isn't.
    ASSERT_EQ(::chown((saves + "/a.sav").c_str(), kNobody, kGames), 0);
    // b.sav: another user's, writable by all.
    ASSERT_EQ(::chown((saves + "/b.sav").c_str(), 0, kGames), 0);
    ASSERT_EQ(::chmod((saves + "/b.sav").c_str(), 0666), 0);
    auto becomeGamer = [] {
        const gid_t groups[] = {kGames};
        return ::setgroups(1, groups) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
    };
    ExpectPassedAs(InChild(becomeGamer,
                           [&] {
                               BatchResult result = Run();
                               EXPECT_TRUE(result.files[0].changed) << FullReport(result);
                               EXPECT_EQ(result.files[1].reason, "owned by another user");
                               EXPECT_TRUE(result.files[2].changed) << FullReport(result);
                           }),
                   kNeedsAnotherUser);
    struct stat a {};
    struct stat b {};
    ASSERT_EQ(::stat((saves + "/a.sav").c_str(), &a), 0);
    ASSERT_EQ(::stat((saves + "/b.sav").c_str(), &b), 0);
    EXPECT_EQ(a.st_uid, kNobody);
    EXPECT_EQ(a.st_gid, kGames);
    EXPECT_TRUE(Save("a.sav") == Converted("a.sav"));
    EXPECT_EQ(b.st_uid, 0u);
    EXPECT_EQ(b.st_gid, kGames);
    EXPECT_TRUE(Save("b.sav") == Original("b.sav"));
    EXPECT_EQ(SortedNames(saves), (std::vector<std::string>{"a.sav", "b.sav", "c.sav"}));
}

TEST_F(FaultTest, AHungToolIsEndedAtItsTimeLimitAndTheBatchGoesOn) {
    AddSaves();
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "decrypt:hang:b.sav");
    Scn_Process runner;
    BatchRequest request{saves, names, appDir, "200"};
    // Long enough for the other saves' runs on a busy machine.
    request.toolTimeLimit = std::chrono::seconds(2 * testsupport::kTimeFactor);
    BatchResult result = ConvertSaves(request, runner);
    EXPECT_EQ(result.files[1].reason, "cipher tool did not finish within " +
                                          std::to_string(2 * testsupport::kTimeFactor) + " s");
    EXPECT_TRUE(Save("a.sav") == Converted("a.sav"));
    EXPECT_TRUE(Save("b.sav") == Original("b.sav"));
    EXPECT_TRUE(Save("c.sav") == Converted("c.sav"));
    EXPECT_TRUE(
        ProcessesRunning({CipherToolOf(appDir), "/decrypt:" + WorkFolderOf(appDir) + "b.sav"})
            .empty());
    EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
}

// Cancelling lets a replacement under way finish, starts no new step, and leaves every save
// not yet replaced as it was; with one job as with several.
TEST_F(FaultTest, ACancelInAnyPassLeavesEverySaveNotYetReplacedAsItWas) {
    struct CancelAt : BatchObserver {
        CancelFlag flag;
        std::size_t at = 0;
        std::size_t moves = 0;
        void cursorMoved(std::size_t) override {
            if (++moves == at) {
                flag.raise();
            }
        }
    };
    AddSaves();
    // Cursor moves 1-3 are the decipher pass, 4 the choice of the witness, 5-7 the witnesses,
    // 8-10 the encipher pass, 11-13 the replacements.
    for (std::size_t jobs : {1u, 3u})
        for (std::size_t at : {2u, 6u, 9u, 12u}) {
            for (const std::string& name : names) {
                WriteFile(saves + "/" + name, Original(name));
            }
            WriteFile(log, "");
            CancelAt observer;
            observer.at = at;
            Scn_Process runner;
            BatchRequest request{saves, names, appDir, "200"};
            request.cancel = &observer.flag;
            request.jobs = jobs;
            BatchResult result = ConvertSaves(request, runner, &observer);

            EXPECT_TRUE(result.cancelled);
            EXPECT_NE(FullReport(result).find("\nCancelled"), std::string::npos)
                << FullReport(result);
            const std::size_t replaced = at == 12u ? 1u : 0u;
            EXPECT_EQ(result.changedCount, replaced) << "cancelled at " << at;
            for (std::size_t i = 0; i < names.size(); ++i) {
                EXPECT_TRUE(Save(names[i]) ==
                            (i < replaced ? Converted(names[i]) : Original(names[i])))
                    << names[i] << ", cancelled at " << at;
                if (i >= replaced) {
                    EXPECT_EQ(result.files[i].reason, "cancelled");
                }
            }
            // Runs before the cancel: one per save in the first pass, one to choose the witness
            // (the first save's), one per other save for the witness, two per save in the
            // encipher pass. Several jobs may have started the runs of the saves before the
            // cursor's.
            const std::size_t runs = at == 2u ? 1u : at == 6u ? 4u : at == 9u ? 8u : 12u;
            if (jobs == 1) {
                EXPECT_EQ(ReadLines(log).size(), runs) << "cancelled at " << at;
            } else {
                EXPECT_LE(ReadLines(log).size(), runs) << "cancelled at " << at;
            }
            EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
        }
}

// A save waiting for its try alone when the batch is cancelled is finished as it failed: the
// observer hears of every save once.
TEST_F(FaultTest, ACancelBeforeATryAloneStillFinishesEverySaveOnce) {
    struct CancelAt : BatchObserver {
        CancelFlag flag;
        std::size_t moves = 0;
        std::vector<int> finished = std::vector<int>(3, 0);
        void cursorMoved(std::size_t) override {
            if (++moves == 7) { // c.sav's witness, after b.sav's disagreed
                flag.raise();
            }
        }
        void fileFinished(std::size_t index, const FileOutcome&) override { ++finished[index]; }
    };
    AddSaves();
    testsupport::MakeDir(root / "state");
    ScopedEnv state("STAND_IN_CIPHER_STATE", root / "state");
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "decrypt:truncate=1000:b.sav#1");
    CancelAt observer;
    Scn_Process runner;
    BatchRequest request{saves, names, appDir, "200"};
    request.cancel = &observer.flag;
    request.jobs = 1;
    BatchResult result = ConvertSaves(request, runner, &observer);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.files[1].reason, kTwoResults);
    EXPECT_EQ(observer.finished, (std::vector<int>{1, 1, 1}));
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Original(name)) << name;
    }
}

TEST_F(FaultTest, ACancelEndsAToolRunUnderWay) {
    AddSaves();
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "encrypt:hang:b.sav");
    CancelFlag cancel;
    std::thread canceller([&] {
        for (int i = 0; i < 2000 && ReadLines(log).size() < 6; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        cancel.raise();
    });
    Scn_Process runner;
    BatchRequest request{saves, names, appDir, "200"};
    request.cancel = &cancel;
    BatchResult result = ConvertSaves(request, runner);
    canceller.join();
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.changedCount, 0u);
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Original(name)) << name;
    }
    EXPECT_TRUE(
        ProcessesRunning({CipherToolOf(appDir), "/encrypt:" + WorkFolderOf(appDir) + "b.sav"})
            .empty());
    EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
}

// A tool that leaves a helper running must not keep the next batch off once its own batch
// has ended normally.
TEST_F(FaultTest, AHelperLeftByTheToolDoesNotBlockTheNextBatch) {
    AddSaves();
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "any:linger=5000:*");
    EXPECT_TRUE(Run().allChanged());
    for (const std::string& name : names) {
        WriteFile(saves + "/" + name, Original(name));
    }
    BatchResult again = Run();
    EXPECT_TRUE(again.allChanged()) << FullReport(again);
    EXPECT_TRUE(ProgramsUsing(ResolvedPath(WorkFolderOf(appDir))).empty());
}

// A restore that cannot mark its set undone says so and does not count as complete: the next
// restore would otherwise undo the same batch again instead of walking back.
TEST_F(FaultTest, ARestoreThatCannotMarkItsSetUndoneSaysSo) {
    AddSaves();
    BatchResult converted = Run();
    ASSERT_TRUE(converted.allChanged()) << FullReport(converted);
    HandOver(root.path());
    ASSERT_EQ(::chmod(converted.backupSet.c_str(), 0555), 0);
    ExpectPassedAs(InChild(DropPrivileges,
                           [&] {
                               RestoreResult restored = RestoreLastConversion(backups, saves);
                               EXPECT_EQ(restored.restoredCount, 3u);
                               EXPECT_FALSE(restored.allRestored());
                               EXPECT_EQ(restored.notMarked, "Cannot mark the backup set " +
                                                                 converted.backupSet +
                                                                 " undone: Permission denied");
                               EXPECT_TRUE(FullReport(restored).ends_with(
                                   "\n\n" + restored.notMarked.English()));
                               for (const std::string& name : names) {
                                   EXPECT_TRUE(Save(name) == Original(name)) << name;
                               }
                           }),
                   kNeedsAnotherUser);
}

// Nothing under the backup folder is entered through a link or used when another user made
// it: a planted set, or a planted folder for the save folder's sets, is refused and left
// alone, and whatever lies behind it stays. A set planted to put its bytes into a.sav (its
// manifest names a.sav's present SHA-256 as what the batch wrote) is never restored.
class PlantedBackupsTest : public FaultTest {
protected:
    // The rows whose plant is another user's, or those whose plant is a link.
    void ExpectLeftAlone(bool byAnotherUser);
};

TEST_F(PlantedBackupsTest, ThroughALink) {
    ExpectLeftAlone(false);
}

TEST_F(PlantedBackupsTest, FromAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can make folders that belong to another user";
    }
    ExpectLeftAlone(true);
}

void PlantedBackupsTest::ExpectLeftAlone(bool byAnotherUser) {
    AddSaves();
    const std::string victim = root / "victim";
    testsupport::MakeDir(victim);
    WriteFile(victim + "/keep.txt", "mine");
    const std::string sets = backups + "/" + Sha256Hex(ResolvedPath(saves)).substr(0, 32);
    const std::string planted = sets + "/0000000005";
    auto plantSet = [&](const std::string& set) {
        testsupport::MakeDir(set);
        WriteFile(set + "/original-1", "planted");
        const BackupManifest forged{
            ResolvedPath(saves),
            0,
            200,
            {{1, "a.sav", Sha256Hex("planted"), Sha256Hex(Save("a.sav")), {}}},
            true,
            std::nullopt};
        WriteFile(set + "/manifest", ComposeManifest(forged));
    };
    auto link = [&](const std::string& at) {
        testsupport::RemoveTree(at);
        ASSERT_EQ(::symlink(victim.c_str(), at.c_str()), 0);
    };
    const std::string keptIn = "Cannot keep a backup in " + backups + ": the folder " + sets;
    const std::string usedIn = "Cannot use the backups in " + sets + ": the folder " + sets;
    struct Case {
        const char* what;
        bool byAnotherUser;
        std::function<void()> plant; // after a batch to 200
        std::string batchRefusal;    // each save's reason in a batch to 300; empty: it goes on
        std::string restoreRefusal;  // of the restore after that batch's, if any
        std::string stays;           // what was planted
    };
    const Case cases[] = {
        {"a set that is a link", false, [&] { link(planted); }, "",
         "The backup set " + planted + " cannot be used: it is a symbolic link; it is left alone",
         planted},
        {"a set of another user", true,
         [&] {
             plantSet(planted);
             HandOver(planted);
         },
         "",
         "The backup set " + planted +
             " cannot be used: it belongs to another user; it is left alone",
         planted + "/manifest"},
        {"a sets folder that is a link", false, [&] { link(sets); },
         keptIn + " is a symbolic link; it is left alone",
         usedIn + " is a symbolic link; it is left alone", sets},
        {"a sets folder of another user", true,
         [&] {
             testsupport::RemoveTree(sets);
             plantSet(sets + "/0000000001");
             HandOver(sets);
         },
         keptIn + " belongs to another user; it is left alone",
         usedIn + " belongs to another user; it is left alone", sets + "/0000000001/manifest"},
    };
    for (const Case& c : cases) {
        if (c.byAnotherUser != byAnotherUser) {
            continue;
        }
        SCOPED_TRACE(c.what);
        testsupport::RemoveTree(backups);
        for (const std::string& name : names) {
            WriteFile(saves + "/" + name, Original(name));
        }
        ASSERT_TRUE(Run().allChanged());
        struct stat st {};
        ASSERT_EQ(::stat(sets.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << "the folder of the sets is private";
        c.plant();

        Scn_Process runner;
        BatchResult second = ConvertSaves({saves, names, appDir, "300"}, runner);
        if (c.batchRefusal.empty()) {
            EXPECT_TRUE(second.allChanged()) << FullReport(second);
            EXPECT_TRUE(RestoreLastConversion(backups, saves).allRestored());
        } else {
            for (const FileOutcome& file : second.files) {
                EXPECT_EQ(file.reason, c.batchRefusal);
            }
        }
        RestoreResult refused = RestoreLastConversion(backups, saves);
        EXPECT_EQ(refused.status.reason(), c.restoreRefusal + ". Nothing was restored");
        for (const std::string& name : names) {
            EXPECT_TRUE(Save(name) == Converted(name)) << name;
        }
        EXPECT_EQ(SortedNames(victim), std::vector<std::string>{"keep.txt"});
        EXPECT_EQ(ReadFile(victim + "/keep.txt"), "mine");
        EXPECT_TRUE(IsSymbolicLink(c.stays) || testsupport::Exists(c.stays));
    }
}

// A work folder that a link takes into the save folder, onto it or above it is refused before
// it is cleared, when reading versions as when converting.
TEST_F(FaultTest, AWorkFolderThatResolvesIntoTheSaveFolderIsRefusedBeforeItIsCleared) {
    AddSaves();
    WriteFile(saves + "/README", "not a save");
    testsupport::MakeDir(saves + "/sub");
    const std::string work = WorkFolderOf(appDir);
    const std::string workLink = work.substr(0, work.size() - 1);
    const struct {
        std::string target;
        const char* how;
    } cases[] = {{saves, "is the save folder"},
                 {saves + "/sub", "lies inside the save folder"},
                 {root.path(), "contains the save folder"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        testsupport::RemoveTree(workLink);
        ASSERT_EQ(::symlink(c.target.c_str(), workLink.c_str()), 0);
        const std::string refusal = "The work folder " + work + " " + c.how + " " + saves +
                                    " (symbolic links resolved); it is emptied at every batch, "
                                    "so nothing was done";
        Scn_Process runner;
        EXPECT_EQ(ReadSaveVersions({saves, names, appDir, ""}, runner).refusal, refusal);
        EXPECT_EQ(Run().refusal, refusal);
        EXPECT_EQ(ReadFile(saves + "/README"), "not a save");
        for (const std::string& name : names) {
            EXPECT_TRUE(Save(name) == Original(name)) << name;
        }
    }
}

// Two copies of the program, each with its own work and backup folders, never work on one
// save folder at once: while one converts, the other's batch and any restore are refused.
TEST_F(FaultTest, TwoProgramFoldersNeverWorkOnOneSaveFolderAtOnce) {
    AddSaves();
    Scn_Process runner;
    ASSERT_TRUE(ConvertSaves({saves, names, appDir, "100"}, runner).allChanged());
    TempDir other;
    const std::string otherApp = testsupport::MakeProgramFolder(other);
    struct Meanwhile : BatchObserver {
        std::function<void()> act;
        void cursorMoved(std::size_t) override {
            if (act) {
                std::exchange(act, nullptr)();
            }
        }
    } meanwhile;
    BatchResult second;
    RestoreResult restore;
    meanwhile.act = [&] {
        second = ConvertSaves(
            {saves, names, otherApp, "300", kDefaultToolTimeLimit, nullptr, other / "backups"},
            runner);
        restore = RestoreLastConversion(backups, saves);
    };
    EXPECT_TRUE(Run(&meanwhile).allChanged());
    EXPECT_EQ(second.refusal, kSaveFolderBusy);
    EXPECT_EQ(restore.status.reason(), kSaveFolderBusy);
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Converted(name)) << name;
    }
}

// A full disk when the set's manifest is rewritten after the replacements leaves the saves
// replaced and the first manifest in place: a warning, not success, and the batch can be undone.
TEST_F(FaultTest, ADiskFullWhileTheSetIsCompletedIsAWarningAndTheBatchCanBeUndone) {
    ExpectPassedAs(
        InChild(PrivateMounts,
                [&] {
                    testsupport::MakeDir(backups);
                    ASSERT_NO_FATAL_FAILURE(MountTmpfs(backups, "1m"));
                    AddSaves();
                    struct FillOnReplacement : BatchObserver {
                        std::string folder;
                        void fileFinished(std::size_t, const FileOutcome& outcome) override {
                            if (outcome.changed && !testsupport::Exists(folder + "/.filler")) {
                                FillLeaving(folder, 0);
                            }
                        }
                    } fill;
                    fill.folder = backups;
                    BatchResult result = Run(&fill);
                    EXPECT_EQ(result.changedCount, 3u);
                    EXPECT_EQ(result.warning, "the backup set could not be completed: No space "
                                              "left on device; --restore still works");
                    EXPECT_FALSE(result.allChanged());
                    EXPECT_NE(FullReport(result).find("\n\n" + result.warning.English()),
                              std::string::npos);
                    ASSERT_EQ(::unlink((backups + "/.filler").c_str()), 0);
                    RestoreResult restored = RestoreLastConversion(backups, saves);
                    EXPECT_TRUE(restored.allRestored()) << FullReport(restored);
                    for (const std::string& name : names) {
                        EXPECT_TRUE(Save(name) == Original(name)) << name;
                    }
                }),
        kNeedsTmpfs);
}
