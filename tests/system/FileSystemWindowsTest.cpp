// The file system on Windows: attributes, sharing, long paths, the folder lock.

#include "TestSupport.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <gtest/gtest.h>
#include <map>
#include <windows.h>

using namespace ostrapel;
using testsupport::Native;
using testsupport::ReadFile;
using testsupport::SortedNames;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

DWORD Attributes(const std::string& path) {
    return ::GetFileAttributesW(Native(path).c_str());
}

void SetAttributes(const std::string& path, DWORD attributes) {
    ASSERT_TRUE(::SetFileAttributesW(Native(path).c_str(), attributes)) << path;
}

// Holds a file open the way a running game may: for writing, sharing nothing.
class HeldOpen {
public:
    explicit HeldOpen(const std::string& path)
        : handle_(::CreateFileW(Native(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr)) {}
    ~HeldOpen() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// A folder path well past the classic 260-character limit.
std::string LongFolder(const TempDir& dir) {
    std::string path = dir.path();
    for (int i = 0; i < 6; ++i) {
        path = JoinPath(path, std::string(60, static_cast<char>('a' + i)));
        EXPECT_TRUE(MakeDirectory(path).ok()) << path.size();
    }
    EXPECT_GT(path.size(), 300u);
    return path;
}

} // namespace

TEST(WindowsListing, HiddenAndSystemAttributesHideAnEntryAndADotDoesNot) {
    TempDir dir;
    for (const char* name : {"plain.sav", "hidden.sav", "system.sav", ".dotted"}) {
        WriteFile(dir / name, "");
    }
    testsupport::MakeDir(dir / "hidden folder");
    SetAttributes(dir / "hidden.sav", FILE_ATTRIBUTE_HIDDEN);
    SetAttributes(dir / "system.sav", FILE_ATTRIBUTE_SYSTEM);
    SetAttributes(dir / "hidden folder", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);

    ListingResult listing = ListDirectory(dir.path());
    ASSERT_TRUE(listing.status.ok()) << listing.status.reason();
    std::map<std::string, std::pair<EntryKind, bool>> seen;
    for (const DirectoryEntry& entry : listing.entries) {
        seen[entry.name] = {entry.kind, entry.hidden};
    }
    using Seen = std::map<std::string, std::pair<EntryKind, bool>>;
    EXPECT_EQ(seen, (Seen{{".dotted", {EntryKind::File, false}},
                          {"hidden folder", {EntryKind::Directory, true}},
                          {"hidden.sav", {EntryKind::File, true}},
                          {"plain.sav", {EntryKind::File, false}},
                          {"system.sav", {EntryKind::File, true}}}));
    EXPECT_FALSE(ListDirectory(dir / "missing").status.ok());
}

TEST(WindowsReplace, KeepsTheSavesAttributesAndLeavesNoTemporary) {
    TempDir dir;
    WriteFile(dir / "new", "new content");
    WriteFile(dir / "save", "old content");
    SetAttributes(dir / "save", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    ReplaceResult result =
        ReplaceFileAtomically(dir / "new", dir / "save", IdentityOf(dir / "save"));
    ASSERT_EQ(result.outcome, ReplaceOutcome::Replaced) << result.status.reason();
    EXPECT_EQ(ReadFile(dir / "save"), "new content");
    EXPECT_EQ(Attributes(dir / "save") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new", "save"}));
}

TEST(WindowsReplace, TheReadOnlyAttributeMeansReadOnly) {
    TempDir dir;
    WriteFile(dir / "new", "new content");
    WriteFile(dir / "save", "old content");
    SetAttributes(dir / "save", FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(IsReadOnly(dir / "save"));
    EXPECT_FALSE(IsReadOnly(dir / "new"));
    ReplaceResult result =
        ReplaceFileAtomically(dir / "new", dir / "save", IdentityOf(dir / "save"));
    EXPECT_EQ(result.outcome, ReplaceOutcome::Failed);
    EXPECT_EQ(result.status.reason(), "is read-only");
    EXPECT_EQ(ReadFile(dir / "save"), "old content");
    SetAttributes(dir / "save", FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsSharing, AFileHeldOpenWithoutSharingIsInUseAndLeftAlone) {
    TempDir dir;
    WriteFile(dir / "new", "new content");
    WriteFile(dir / "save", "old content");
    const auto before = IdentityOf(dir / "save");
    {
        HeldOpen game(dir / "save");
        ASSERT_TRUE(game.held());
        EXPECT_EQ(CopyFileTo(dir / "save", dir / "copy").reason(),
                  "in use by another program (is the game running?)");
        EXPECT_FALSE(testsupport::Exists(dir / "copy"));
        ReplaceResult result = ReplaceFileAtomically(dir / "new", dir / "save", before);
        EXPECT_EQ(result.outcome, ReplaceOutcome::Failed);
        EXPECT_EQ(result.status.reason(), "in use by another program (is the game running?)");
    }
    EXPECT_EQ(ReadFile(dir / "save"), "old content");
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new", "save"}));
}

TEST(WindowsCopy, CopiesAFileAndRefusesAFolder) {
    TempDir dir;
    const std::string content = testsupport::PlainSave(200000, 1);
    WriteFile(dir / "save", content);
    FileIdentity identity;
    ASSERT_TRUE(CopyFileTo(dir / "save", dir / "copy", &identity).ok());
    EXPECT_EQ(ReadFile(dir / "copy"), content);
    EXPECT_EQ(identity, IdentityOf(dir / "save"));
    testsupport::MakeDir(dir / "folder");
    EXPECT_EQ(CopyFileTo(dir / "folder", dir / "copy2").reason(), "is a folder");
    EXPECT_EQ(CopyFileTo(dir / "missing", dir / "copy3").reason(), "No such file or directory");
    EXPECT_EQ(CopyFileTo(dir / "save", dir / "copy").reason(), "File exists");
}

TEST(WindowsPaths, PathsLongerThanTheClassicLimitWork) {
    TempDir dir;
    const std::string folder = LongFolder(dir);
    const std::string save = JoinPath(folder, "slot 1.sav");
    WriteFile(dir / "new", "new content");
    ASSERT_TRUE(CopyFileTo(dir / "new", save).ok());
    EXPECT_EQ(KindOf(save), EntryKind::File);
    EXPECT_EQ(SizeOf(save), 11);
    ASSERT_TRUE(WriteBytesAt(save, 4, "NEW").ok());
    ASSERT_TRUE(CopyFileTo(save, dir / "back").ok());
    EXPECT_EQ(ReadFile(dir / "back"), "new NEWtent");

    WriteFile(dir / "newer", "newer content");
    ReplaceResult result = ReplaceFileAtomically(dir / "newer", save, IdentityOf(save));
    ASSERT_EQ(result.outcome, ReplaceOutcome::Replaced) << result.status.reason();
    ListingResult listing = ListDirectory(folder);
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].name, "slot 1.sav");
    EXPECT_TRUE(RemoveFilesIn(folder).ok());
    EXPECT_EQ(KindOf(save), EntryKind::Missing);
    EXPECT_FALSE(ResolvedPath(folder).empty());
}

TEST(WindowsFolderLock, OneHolderAtATimeAndTheFolderStaysEmpty) {
    TempDir dir;
    const std::string work = dir / "temp";
    testsupport::MakeDir(work);
    {
        FolderLock first(work);
        ASSERT_TRUE(first.held()) << first.status().reason();
        FolderLock second(work);
        EXPECT_FALSE(second.held());
        EXPECT_TRUE(second.busy());
    }
    FolderLock again(work);
    EXPECT_TRUE(again.held());
    EXPECT_TRUE(SortedNames(work).empty());

    FolderLock missing(dir / "missing");
    EXPECT_FALSE(missing.held());
    EXPECT_FALSE(missing.busy());
}
