#include "system/FileSystem.h"

#include "TestSupport.h"
#include "system/MoveFolder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#endif

using namespace ostrapel;
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::SortedNames;
using testsupport::TempDir;
using testsupport::WriteFile;

#ifndef _WIN32 // links, pipes and permission bits; the Windows cases are in FileSystemWindowsTest

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(ListDirectory, TellsFilesFromFoldersThroughLinks) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    testsupport::MakeDir(dir / "folder");
    ASSERT_EQ(::symlink("folder", (dir / "link-to-folder").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);

    ListingResult listing = ListDirectory(dir.path());
    ASSERT_TRUE(listing.status.ok());
    std::map<std::string, EntryKind> kinds;
    for (const DirectoryEntry& entry : listing.entries) {
        kinds[entry.name] = entry.kind;
    }
    EXPECT_EQ(kinds, (std::map<std::string, EntryKind>{{"file", EntryKind::File},
                                                       {"folder", EntryKind::Directory},
                                                       {"link-to-folder", EntryKind::Directory},
                                                       {"dangling", EntryKind::Missing},
                                                       {"pipe", EntryKind::Other}}));
    EXPECT_FALSE(ListDirectory(dir / "missing").status.ok());
}

TEST(CopyFileTo, CopiesARegularFileAndRefusesTheRest) {
    TempDir dir;
    const std::string content = testsupport::PlainSave(200000, 1);
    WriteFile(dir / "save", content);
    FileIdentity identity;
    ASSERT_TRUE(CopyFileTo(dir / "save", dir / "copy", &identity).ok());
    EXPECT_EQ(ReadFile(dir / "copy"), content);
    EXPECT_EQ(identity, IdentityOf(dir / "save"));

    testsupport::MakeDir(dir / "folder");
    EXPECT_EQ(CopyFileTo(dir / "folder", dir / "copy2").reason(), "is a folder");
    // A pipe with no writer would block an ordinary open for ever.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(CopyFileTo(dir / "pipe", dir / "copy3").reason(), "is not a regular file");
    EXPECT_FALSE(CopyFileTo(dir / "missing", dir / "copy4").ok());
    EXPECT_FALSE(Exists(dir / "copy2") || Exists(dir / "copy3") || Exists(dir / "copy4"));
}

TEST(CopyFileTo, DoesNotWriteThroughALinkAtTheTarget) {
    TempDir dir;
    WriteFile(dir / "save", "new");
    WriteFile(dir / "victim", "keep me");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "copy").c_str()), 0);
    EXPECT_FALSE(CopyFileTo(dir / "save", dir / "copy").ok());
    EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
}

#endif

class ReplaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "new", "new content");
        WriteFile(dir / "save", "old content");
    }
    TempDir dir;
};

#ifndef _WIN32
TEST_F(ReplaceTest, ReplacesAndKeepsPermissionBits) {
    ASSERT_EQ(::chmod((dir / "save").c_str(), 0640), 0);
    auto before = IdentityOf(dir / "save");
    ReplaceResult result = ReplaceFileAtomically(dir / "new", dir / "save", before);
    ASSERT_EQ(result.outcome, ReplaceOutcome::Replaced) << result.status.reason();
    EXPECT_EQ(ReadFile(dir / "save"), "new content");
    EXPECT_EQ(ModeOf(dir / "save"), 0640u);
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new", "save"}));
}

TEST_F(ReplaceTest, WritesThroughASymbolicLink) {
    testsupport::MakeDir(dir / "real");
    WriteFile(dir / "real/target", "old content");
    ASSERT_EQ(::unlink((dir / "save").c_str()), 0);
    ASSERT_EQ(::symlink("real/target", (dir / "save").c_str()), 0);
    auto before = IdentityOf(dir / "save");
    ASSERT_EQ(ReplaceFileAtomically(dir / "new", dir / "save", before).outcome,
              ReplaceOutcome::Replaced);
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "save").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(dir / "real/target"), "new content");
    EXPECT_EQ(SortedNames(dir / "real"), (std::vector<std::string>{"target"}));
}

#endif

// A rewrite at the same size that leaves the last-write time (FAT keeps it to 2 s; a write
// through a mapped view may not move it) shows only in the bytes.
TEST_F(ReplaceTest, LeavesATargetRewrittenWithoutAnyChangeToItsIdentity) {
    const std::string save = dir / "save";
    const auto before = IdentityOf(save);
    testsupport::RewriteKeepingTime(save, "its content");
    ASSERT_EQ(IdentityOf(save), before) << "the rewrite shows in the identity";
    const Sha256Digest read = Sha256Of("old content");
    EXPECT_EQ(ReplaceFileAtomically(dir / "new", save, before, nullptr, &read).outcome,
              ReplaceOutcome::TargetChanged);
    EXPECT_EQ(ReadFile(save), "its content");
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new", "save"}));

    const Sha256Digest now = Sha256Of("its content");
    EXPECT_EQ(ReplaceFileAtomically(dir / "new", save, before, nullptr, &now).outcome,
              ReplaceOutcome::Replaced);
    EXPECT_EQ(ReadFile(save), "new content");
}

TEST_F(ReplaceTest, LeavesATargetThatChangedSinceItWasRead) {
    auto before = IdentityOf(dir / "save");
    WriteFile(dir / "save", "the game wrote this");
    ReplaceResult result = ReplaceFileAtomically(dir / "new", dir / "save", before);
    EXPECT_EQ(result.outcome, ReplaceOutcome::TargetChanged);
    EXPECT_EQ(ReadFile(dir / "save"), "the game wrote this");

    ASSERT_EQ(::unlink((dir / "save").c_str()), 0);
    EXPECT_EQ(ReplaceFileAtomically(dir / "new", dir / "save", before).outcome,
              ReplaceOutcome::TargetChanged);
    EXPECT_FALSE(Exists(dir / "save"));
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new"}));
}

TEST_F(ReplaceTest, AFailedReplaceLeavesTheTargetAndNoTemporary) {
    ReplaceResult result =
        ReplaceFileAtomically(dir / "missing", dir / "save", IdentityOf(dir / "save"));
    EXPECT_EQ(result.outcome, ReplaceOutcome::Failed);
    EXPECT_FALSE(result.status.ok());
    EXPECT_EQ(ReadFile(dir / "save"), "old content");
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new", "save"}));
}

#ifndef _WIN32
// Without /proc an unnamed temporary cannot be given a name; a named one takes its place.
TEST_F(ReplaceTest, ReplacesWithoutProc) {
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("none", "/proc", "tmpfs", 0, "size=64k") != 0) {
            ::_exit(77); // no private mounts here
        }
        ReplaceResult result =
            ReplaceFileAtomically(dir / "new", dir / "save", IdentityOf(dir / "save"));
        ::_exit(result.outcome == ReplaceOutcome::Replaced ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "needs CAP_SYS_ADMIN to hide /proc";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(dir / "save"), "new content");
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new", "save"}));
}
#endif

TEST(ReadWholeFile, ReadsFilesAndComparesThem) {
    TempDir dir;
    const std::string big(200000, 'x');
    WriteFile(dir / "a", big);
    WriteFile(dir / "b", big);
    WriteFile(dir / "c", big.substr(1) + "y");
    std::string content;
    ASSERT_TRUE(ReadWholeFile(dir / "a", content).ok());
    EXPECT_EQ(content, big);
    EXPECT_TRUE(CompareFiles(dir / "a", dir / "b").same);
    EXPECT_FALSE(CompareFiles(dir / "a", dir / "c").same);
    ComparisonResult missing = CompareFiles(dir / "a", dir / "missing");
    EXPECT_FALSE(missing.status.ok());
    EXPECT_FALSE(ReadWholeFile(dir.path(), content).ok());
}

TEST(TemporaryName, OnlyTheExactFormIsTheProgramsOwn) {
    const std::string made = NewTemporaryName();
    EXPECT_TRUE(IsTemporaryName(made)) << made;
    EXPECT_NE(made, NewTemporaryName());
    EXPECT_TRUE(IsTemporaryName(".ostrapel-1-0123456789.tmp"));
    for (const char* name : {".ostrapel-notes", ".ostrapel-left.tmp", ".ostrapel-12-abcdefghij",
                             ".ostrapel--abcdefghij.tmp", ".ostrapel-12-abcdefghi.tmp",
                             ".ostrapel-12-abcdefghijk.tmp", ".ostrapel-12-abcdEfghij.tmp",
                             ".ostrapel-1x-abcdefghij.tmp", ".ostrapel-12-abcde-ghij.tmp",
                             "x.ostrapel-12-abcdefghij.tmp", ".ostrapel-12-abcdefghij.tmp.sav"}) {
        EXPECT_FALSE(IsTemporaryName(name)) << name;
    }
#ifdef _WIN32
    EXPECT_TRUE(IsHiddenName(made));
    EXPECT_FALSE(IsHiddenName(".ostrapel-notes"));
#endif
}

TEST(RemoveFiles, KeepsFoldersAndOtherNames) {
    TempDir dir;
    WriteFile(dir / "a", "");
    WriteFile(dir / NewTemporaryName(), "");
    WriteFile(dir / ".ostrapel-notes", "");
    WriteFile(dir / "keep.ostrapel-", "");
    testsupport::MakeDir(dir / "sub");
    WriteFile(dir / "sub/inner", "");
#ifdef _WIN32
    WriteFile(dir / "link", ""); // stands for the link, gone after the second removal too
#else
    ASSERT_EQ(::symlink("sub", (dir / "link").c_str()), 0);
#endif

    EXPECT_TRUE(RemoveTemporaries(dir.path()).ok());
    EXPECT_EQ(SortedNames(dir.path()),
              (std::vector<std::string>{".ostrapel-notes", "a", "keep.ostrapel-", "link", "sub"}));
    EXPECT_TRUE(RemoveFilesIn(dir.path()).ok());
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"sub"}));
    EXPECT_TRUE(Exists(dir / "sub/inner"));
    EXPECT_FALSE(RemoveFilesIn(dir / "missing").ok());
}

TEST(CopyFileTo, NeverReplacesAnExistingFile) {
    TempDir dir;
    WriteFile(dir / "save", "new");
    WriteFile(dir / "copy", "another save's work copy");
    EXPECT_EQ(CopyFileTo(dir / "save", dir / "copy").reason(), "File exists");
    EXPECT_EQ(ReadFile(dir / "copy"), "another save's work copy");
}

// A save that came back meanwhile is never replaced by a move to its name.
TEST(MoveFolder, MovesAFileButNeverOverAnExistingOne) {
    TempDir dir;
    WriteFile(dir / "kept", "the conversion");
    WriteFile(dir / "save", "the game's");
    EXPECT_FALSE(MoveFolder(dir / "kept", dir / "save").ok());
    EXPECT_EQ(ReadFile(dir / "save"), "the game's");
    EXPECT_EQ(ReadFile(dir / "kept"), "the conversion");
    EXPECT_TRUE(MoveFolder(dir / "kept", dir / "other").ok());
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"other", "save"}));
}

// What was copied comes back whole, beyond one read's buffer, and replaces what the string
// held; a flushed copy is the same copy.
TEST(CopyFileTo, KeepsWhatItCopiedWhenAsked) {
    TempDir dir;
    const std::string content = testsupport::PlainSave(200000, 2);
    WriteFile(dir / "save", content);
    FileIdentity identity;
    std::string kept = "left from before";
    ASSERT_TRUE(CopyFileTo(dir / "save", dir / "copy", {&identity, &kept, true}).ok());
    EXPECT_EQ(ReadFile(dir / "copy"), content);
    EXPECT_TRUE(kept == content);
    EXPECT_EQ(identity, IdentityOf(dir / "save"));

    WriteFile(dir / "empty", "");
    ASSERT_TRUE(CopyFileTo(dir / "empty", dir / "empty-copy", {nullptr, &kept}).ok());
    EXPECT_EQ(kept, "");
    EXPECT_EQ(ReadFile(dir / "empty-copy"), "");
    EXPECT_FALSE(CopyFileTo(dir / "missing", dir / "copy2", {nullptr, &kept, true}).ok());
    EXPECT_FALSE(Exists(dir / "copy2"));
}

TEST(WriteNewFile, WritesANewFileAndNeverAnExistingOne) {
    TempDir dir;
    const std::string content = testsupport::PlainSave(200000, 3) + std::string(3, '\0');
    ASSERT_TRUE(WriteNewFile(dir / "scratch", content).ok());
    EXPECT_TRUE(ReadFile(dir / "scratch") == content);
    ASSERT_TRUE(WriteNewFile(dir / "empty", "").ok());
    EXPECT_EQ(ReadFile(dir / "empty"), "");

    EXPECT_EQ(WriteNewFile(dir / "scratch", "other").reason(), "File exists");
    EXPECT_TRUE(ReadFile(dir / "scratch") == content);
    EXPECT_FALSE(WriteNewFile(dir / "missing-folder/scratch", "x").ok());
#ifndef _WIN32
    WriteFile(dir / "victim", "keep me");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "link").c_str()), 0);
    EXPECT_FALSE(WriteNewFile(dir / "link", "new").ok());
    EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
#endif
}

// The same file gets the new content, cut to its length; a missing file is not made.
TEST(OverwriteFile, WritesOverTheSameFileInPlace) {
    TempDir dir;
    WriteFile(dir / "copy", std::string(5000, 'e'));
    const auto before = IdentityOf(dir / "copy");
    ASSERT_TRUE(OverwriteFile(dir / "copy", "deciphered").ok());
    EXPECT_EQ(ReadFile(dir / "copy"), "deciphered");
    ASSERT_TRUE(before && IdentityOf(dir / "copy"));
    EXPECT_EQ(IdentityOf(dir / "copy")->inode, before->inode);
    EXPECT_FALSE(OverwriteFile(dir / "missing", "x").ok());
    EXPECT_FALSE(Exists(dir / "missing"));
#ifndef _WIN32
    WriteFile(dir / "victim", "keep me");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "link").c_str()), 0);
    EXPECT_FALSE(OverwriteFile(dir / "link", "new").ok());
    EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
#endif
}

#ifndef _WIN32
// A file that does not fit is not left behind partly written.
TEST(WriteNewFile, RemovesWhatDidNotFit) {
    TempDir dir;
    testsupport::MakeDir(dir / "small");
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", (dir / "small").c_str(), "tmpfs", 0, "size=64k") != 0) {
            ::_exit(77); // no private mounts here
        }
        Status written = WriteNewFile(dir / "small/scratch", std::string(200000, 's'));
        const bool gone = ::access((dir / "small/scratch").c_str(), F_OK) != 0;
        ::_exit(!written.ok() && written.reason() == "No space left on device" && gone ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "needs CAP_SYS_ADMIN to mount a small tmpfs";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif
