// The file system on Windows: attributes, sharing, long paths, the folder lock.

#include "TestSupport.h"
#include "system/FileSystem.h"
#include "system/MoveFolder.h"
#include "system/Paths.h"
#include "system/windows/ReplaceRules.h"
#include "system/windows/WindowsText.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <thread>
#include <windows.h>
#undef SetCurrentDirectory // the program's own function

using namespace ostrapel;
using testsupport::Native;
using testsupport::ReadFile;
using testsupport::SortedNames;
using testsupport::TempDir;
using testsupport::Utf8;
using testsupport::WriteFile;

namespace {

constexpr DWORD kShareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

// Holds a file open as another program may for a moment, and lets it go from another thread.
class HeldForAMoment {
public:
    HeldForAMoment(const std::string& path, DWORD share, DWORD milliseconds)
        : handle_(::CreateFileW(Native(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr)), // a folder too
          closer_([this, milliseconds] {
              ::Sleep(milliseconds);
              ::CloseHandle(handle_);
          }) {}
    ~HeldForAMoment() { closer_.join(); }
    HeldForAMoment(const HeldForAMoment&) = delete;
    HeldForAMoment& operator=(const HeldForAMoment&) = delete;
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
    std::thread closer_;
};

// Makes a symbolic link. Wine's CreateSymbolicLinkW makes none; there the link is made on the
// Unix side, where Wine follows it.
bool MakeSymbolicLink(const std::string& link, const std::string& target) {
    using UnixName = char*(__cdecl*)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (unixName == nullptr) {
        return ::CreateSymbolicLinkW(Native(link).make_preferred().c_str(),
                                     Native(target).make_preferred().c_str(),
                                     SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE;
    }
    auto unixPath = [&](const std::string& path) {
        char* name = unixName(Native(path).make_preferred().c_str());
        std::string text = name != nullptr ? name : "";
        ::HeapFree(::GetProcessHeap(), 0, name);
        return std::wstring(text.begin(), text.end());
    };
    std::wstring line = L"/bin/ln -s " + unixPath(target) + L" " +
                        unixPath(ParentOf(Utf8(Native(link).make_preferred()))) + L"/" +
                        Native(link).filename().wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(L"/bin/ln", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return false;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // A Unix process's handle does not tell when it ends: the link's arrival does.
    for (int i = 0; i < 500 && Attributes(link) == INVALID_FILE_ATTRIBUTES; ++i) {
        ::Sleep(10);
    }
    return Attributes(link) != INVALID_FILE_ATTRIBUTES;
}

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

// On FAT and exFAT a replacement cut short between the save's removal and the rename leaves
// only its temporary, which holds the save as converted: it stays until its save is back.
TEST(WindowsReplace, ATemporaryWhoseSaveIsGoneIsKept) {
    TempDir dir;
    WriteFile(dir / "a.sav", "a");
    const std::string ofA = NewTemporaryNameFor("a.sav");
    const std::string ofB = NewTemporaryNameFor("b.sav");
    const std::string plain = NewTemporaryName();
    const std::string tooLong = NewTemporaryNameFor(std::string(250, 'x'));
    for (const std::string& name : {ofA, ofB, plain, tooLong, std::string(".ostrapel-notes.tmp")}) {
        WriteFile(dir / name, "converted");
    }
    EXPECT_EQ(SaveOfTemporary(ofB), "b.sav");
    EXPECT_TRUE(IsTemporaryName(ofB));
    EXPECT_EQ(SaveOfTemporary(plain), "");
    EXPECT_EQ(SaveOfTemporary(tooLong), "") << "the plain form where the name would be too long";

    ASSERT_TRUE(RemoveTemporaries(dir.path()).ok());
    EXPECT_EQ(SortedNames(dir.path()),
              (std::vector<std::string>{ofB, ".ostrapel-notes.tmp", "a.sav"}));
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

// A game that keeps its save open with delete sharing and rewrites it at the same size moves
// no time the identity shows until it closes (here it even puts the times back): while it
// holds the save, neither the copy nor the replacement may go ahead on the identity alone.
TEST(WindowsSharing, ASaveRewrittenByAWriterThatKeepsItOpenIsInUse) {
    const std::vector<std::string> steps = {"copy", "replacement"};
    for (const std::string& step : steps) {
        TempDir dir;
        WriteFile(dir / "new", "new content");
        WriteFile(dir / "save", "old content");
        const auto before = IdentityOf(dir / "save");
        HANDLE game = ::CreateFileW(Native(dir / "save").c_str(), GENERIC_READ | GENERIC_WRITE,
                                    kShareEverything, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(game, INVALID_HANDLE_VALUE);
        FILETIME created{};
        FILETIME accessed{};
        FILETIME written{};
        ASSERT_TRUE(::GetFileTime(game, &created, &accessed, &written));
        const std::string rewritten = "its rewrite";
        DWORD put = 0;
        ASSERT_TRUE(::WriteFile(game, rewritten.data(), static_cast<DWORD>(rewritten.size()), &put,
                                nullptr));
        ASSERT_TRUE(::SetFileTime(game, &created, &accessed, &written));
        ASSERT_EQ(IdentityOf(dir / "save"), before) << "the rewrite shows in the identity";

        std::string reason;
        if (step == "copy") {
            reason = CopyFileTo(dir / "save", dir / "copy").reason();
        } else {
            ReplaceResult result = ReplaceFileAtomically(dir / "new", dir / "save", before);
            EXPECT_EQ(result.outcome, ReplaceOutcome::Failed) << step;
            reason = result.status.reason();
        }
        ::CloseHandle(game);
        EXPECT_EQ(reason, "in use by another program (is the game running?)") << step;
        EXPECT_EQ(ReadFile(dir / "save"), rewritten) << step;
        EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new", "save"})) << step;
    }
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

TEST(WindowsSharing, AFileHeldForAMomentIsWaitedFor) {
    struct Case {
        const char* what;
        DWORD share; // of the other program's handle on "held"
        std::function<bool(const TempDir&)> operation;
        const char* expected; // content of "held" afterwards
    };
    const std::vector<Case> cases = {
        {"copy-in", 0,
         [](const TempDir& dir) { return CopyFileTo(dir / "held", dir / "copy").ok(); }, "old"},
        {"replacement", FILE_SHARE_READ | FILE_SHARE_WRITE,
         [](const TempDir& dir) {
             return ReplaceFileAtomically(dir / "new", dir / "held", IdentityOf(dir / "held"))
                        .outcome == ReplaceOutcome::Replaced;
         },
         "new"},
        {"replacement, held with delete sharing", kShareEverything,
         [](const TempDir& dir) {
             return ReplaceFileAtomically(dir / "new", dir / "held", IdentityOf(dir / "held"))
                        .outcome == ReplaceOutcome::Replaced;
         },
         "new"},
        {"manifest", FILE_SHARE_READ,
         [](const TempDir& dir) { return WriteFileAtomically(dir / "held", "new").ok(); }, "new"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "held", "old");
        WriteFile(dir / "new", "new");
        bool done = false;
        {
            HeldForAMoment scanner(dir / "held", c.share, 500);
            ASSERT_TRUE(scanner.held());
            done = c.operation(dir);
        }
        EXPECT_TRUE(done);
        EXPECT_EQ(ReadFile(dir / "held"), c.expected);
        std::vector<std::string> left = SortedNames(dir.path());
        std::erase(left, "copy");
        EXPECT_EQ(left, (std::vector<std::string>{"held", "new"}));
    }
}

// While the replacement waits for a program that keeps the save from being renamed, the game can
// still write its save: the save is held for each try, not across the pauses. The game's write
// is then kept.
TEST(WindowsSharing, TheGameCanWriteItsSaveWhileTheReplacementWaits) {
    TempDir dir;
    const std::string save = dir / "save";
    WriteFile(dir / "new", "new content");
    WriteFile(save, "old content");
    const auto before = IdentityOf(save);
    std::atomic<bool> wrote{false};
    ReplaceResult result;
    {
        // Shares no deleting: the rename is refused until it lets go.
        HeldForAMoment scanner(save, FILE_SHARE_READ | FILE_SHARE_WRITE, 1000);
        ASSERT_TRUE(scanner.held());
        std::thread game([&] {
            bool refused = false; // once the replacement holds the save
            for (int i = 0; i < 400 && !wrote; ++i, ::Sleep(2)) {
                HANDLE file = ::CreateFileW(Native(save).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr);
                if (file == INVALID_HANDLE_VALUE) {
                    refused = true;
                    continue;
                }
                if (refused) {
                    const std::string written = "the game's newer save";
                    DWORD put = 0;
                    wrote = ::WriteFile(file, written.data(), static_cast<DWORD>(written.size()),
                                        &put, nullptr) != FALSE;
                }
                ::CloseHandle(file);
            }
        });
        result = ReplaceFileAtomically(dir / "new", save, before);
        game.join();
    }
    EXPECT_TRUE(wrote);
    EXPECT_EQ(result.outcome, ReplaceOutcome::TargetChanged);
    EXPECT_EQ(ReadFile(save), "the game's newer save");
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"new", "save"}));
}

// A scanner or indexer looking into a job's folder just made keeps it from being renamed for a
// moment: the rename is waited for like any write, and never merges into a folder already
// there.
TEST(WindowsSharing, AFolderHeldForAMomentIsMovedOnceLetGo) {
    TempDir dir;
    testsupport::MakeDir(dir / "building");
    WriteFile(dir / "building/decrypt.exe", "tool");
    Status moved = Status::Ok();
    {
        HeldForAMoment scanner(dir / "building", FILE_SHARE_READ | FILE_SHARE_WRITE, 500);
        ASSERT_TRUE(scanner.held());
        moved = MoveFolder(dir / "building", dir / "job");
    }
    EXPECT_TRUE(moved.ok()) << moved.reason();
    EXPECT_EQ(ReadFile(dir / "job/decrypt.exe"), "tool");
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"job"}));

    testsupport::MakeDir(dir / "other");
    EXPECT_FALSE(MoveFolder(dir / "other", dir / "job").ok());
    EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"job", "other"}));
}

TEST(WindowsPaths, NamesEndingInADotOrASpaceAreTakenExactly) {
    for (const char* odd : {"abc.", "abc ", "abc.."}) {
        SCOPED_TRACE(std::string("\"") + odd + "\"");
        TempDir dir;
        ASSERT_TRUE(WriteNewFile(dir / "abc", "plain").ok());
        ASSERT_TRUE(WriteNewFile(dir / odd, "odd").ok());
        ASSERT_TRUE(WriteNewFile(dir / "new", "new").ok());
        std::string content;
        ASSERT_TRUE(ReadWholeFile(dir / odd, content).ok());
        EXPECT_EQ(content, "odd");
        EXPECT_EQ(SizeOf(dir / odd), 3);
        ASSERT_TRUE(CopyFileTo(dir / odd, dir / "copy").ok());
        ReplaceResult replaced =
            ReplaceFileAtomically(dir / "new", dir / odd, IdentityOf(dir / odd));
        EXPECT_EQ(replaced.outcome, ReplaceOutcome::Replaced) << replaced.status.reason();
        ASSERT_TRUE(ReadWholeFile(dir / odd, content).ok());
        EXPECT_EQ(content, "new");
        ASSERT_TRUE(ReadWholeFile(dir / "abc", content).ok());
        EXPECT_EQ(content, "plain");
        EXPECT_EQ(SortedNames(dir.path()), (std::vector<std::string>{"abc", odd, "copy", "new"}));
        ASSERT_TRUE(RemoveFile(dir / odd).ok());
        EXPECT_EQ(KindOf(dir / odd), EntryKind::Missing);
        EXPECT_EQ(KindOf(dir / "abc"), EntryKind::File);
    }
}

TEST(WindowsPaths, RelativeAndDottedPathsNameTheirFile) {
    TempDir dir;
    testsupport::MakeDir(dir / "sub");
    WriteFile(dir / "save", "content");
    const std::string before = CurrentDirectory();
    ASSERT_TRUE(SetCurrentDirectory(dir / "sub").ok());
    for (const char* path : {"..\\save", "../save", ".\\..\\sub\\..\\save", "..\\.\\save"}) {
        EXPECT_EQ(SizeOf(path), 7) << path;
    }
    const std::string drive = dir.path().substr(0, 2); // "C:"
    EXPECT_EQ(SizeOf(drive + "..\\save"), 7);
    EXPECT_EQ(SizeOf(dir.path().substr(2) + "\\save"), 7); // from the drive's root
    ASSERT_TRUE(SetCurrentDirectory(before).ok());
}

TEST(WindowsPaths, ResolvedPathsAreAsOnDiskWhateverCaseTheyAreTypedIn) {
    TempDir dir;
    const std::string longFolder = LongFolder(dir); // named by hand, not from a handle
    for (const std::string& folder : {dir.path(), longFolder}) {
        SCOPED_TRACE(folder.size());
        const std::string resolved = ResolvedPath(folder);
        ASSERT_FALSE(resolved.empty());
        std::string upper = folder;
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(ResolvedPath(upper), resolved);
        EXPECT_TRUE(SamePathText(resolved, upper));
        EXPECT_TRUE(PathIsWithin(upper, resolved));
        EXPECT_FALSE(PathIsWithin(ResolvedPath(JoinPath(folder, "..")), resolved));
    }
}

TEST(WindowsReplace, ASymbolicLinkStaysALinkAndItsTargetIsReplaced) {
    TempDir dir;
    testsupport::MakeDir(dir / "saves");
    testsupport::MakeDir(dir / "synced");
    WriteFile(dir / "synced/slot.sav", "old");
    WriteFile(dir / "new", "new");
    const std::string link = dir / "saves/slot.sav";
    const std::string target = dir / "synced/slot.sav";
    if (!MakeSymbolicLink(link, target)) {
        GTEST_SKIP() << "no symbolic links here (Developer Mode off): " << ::GetLastError();
    }
    ASSERT_EQ(ResolvedPath(link), ResolvedPath(target));
    ReplaceResult result = ReplaceFileAtomically(dir / "new", link, IdentityOf(link));
    ASSERT_EQ(result.outcome, ReplaceOutcome::Replaced) << result.status.reason();
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(ResolvedPath(link), ResolvedPath(target)); // still a link
    EXPECT_EQ(SortedNames(dir / "saves"), (std::vector<std::string>{"slot.sav"}));
    EXPECT_EQ(SortedNames(dir / "synced"), (std::vector<std::string>{"slot.sav"}));
}

TEST(WindowsReplace, KeepsTheSavesCreationTime) {
    TempDir dir;
    WriteFile(dir / "new", "new");
    WriteFile(dir / "save", "old");
    HANDLE save = ::CreateFileW(Native(dir / "save").c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(save, INVALID_HANDLE_VALUE);
    const FILETIME created{0x12345600u, 0x01C00000u}; // 1999
    EXPECT_TRUE(::SetFileTime(save, &created, nullptr, nullptr));
    ::CloseHandle(save);
    auto creationTime = [](const std::string& path) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        EXPECT_TRUE(::GetFileAttributesExW(Native(path).c_str(), GetFileExInfoStandard, &data));
        return (static_cast<std::uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
               data.ftCreationTime.dwLowDateTime;
    };
    const std::uint64_t before = creationTime(dir / "save");
    if (before != ((std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime)) {
        GTEST_SKIP() << "creation times cannot be set here (Wine)";
    }

    ReplaceResult result =
        ReplaceFileAtomically(dir / "new", dir / "save", IdentityOf(dir / "save"));
    ASSERT_EQ(result.outcome, ReplaceOutcome::Replaced) << result.status.reason();
    EXPECT_EQ(ReadFile(dir / "save"), "new");
    EXPECT_EQ(creationTime(dir / "save"), before);
}

// What Wine cannot show: POSIX semantics unknown to older systems and to FAT, and which parts
// of a save's security a replacement is given.
TEST(WindowsReplaceRules, TheClassicRenameOnlyWherePosixSemanticsAreUnknown) {
    using ostrapel::win::RenameWay;
    using ostrapel::win::RenameWayAfter;
    const std::vector<std::tuple<RenameWay, DWORD, RenameWay>> cases = {
        {RenameWay::PosixSemantics, ERROR_INVALID_PARAMETER, RenameWay::Classic}, // before 1709
        {RenameWay::PosixSemantics, ERROR_NOT_SUPPORTED, RenameWay::Classic},     // FAT
        {RenameWay::PosixSemantics, ERROR_INVALID_FUNCTION, RenameWay::Classic},
        {RenameWay::PosixSemantics, ERROR_SHARING_VIOLATION, RenameWay::None}, // retried above
        {RenameWay::PosixSemantics, ERROR_ACCESS_DENIED, RenameWay::None},
        {RenameWay::Classic, ERROR_INVALID_PARAMETER, RenameWay::None},
    };
    for (const auto& [tried, error, next] : cases) {
        EXPECT_EQ(RenameWayAfter(tried, error), next) << static_cast<int>(tried) << " " << error;
    }
}

TEST(WindowsReplaceRules, TheDaclKeepsItsProtectionAndAnotherOwnerIsTried) {
    using ostrapel::win::SecurityToKeep;
    using ostrapel::win::SecurityToKeepFor;
    constexpr DWORD kInheriting = DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION;
    constexpr DWORD kProtected = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    const std::vector<std::tuple<SECURITY_DESCRIPTOR_CONTROL, bool, SecurityToKeep>> cases = {
        {SE_DACL_PRESENT, true, {kInheriting, false}},
        {SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED, false, {kInheriting, true}},
        {SE_DACL_PRESENT | SE_DACL_PROTECTED, true, {kProtected, false}},
        {0, false, {0, true}}, // no DACL to copy
    };
    for (const auto& [control, sameOwner, keep] : cases) {
        EXPECT_EQ(SecurityToKeepFor(control, sameOwner), keep) << control << " " << sameOwner;
    }
}

// Cloud files (OneDrive) and other storage are reparse points too: only a tag that stands for
// another name is a link.
TEST(WindowsReplaceRules, OnlyNameSurrogateReparseTagsAreLinks) {
    const std::vector<std::pair<DWORD, bool>> cases = {
        {IO_REPARSE_TAG_SYMLINK, true},
        {IO_REPARSE_TAG_MOUNT_POINT, true}, // junctions and mounted volumes
        {0xA000001B, true},                 // a name surrogate of another kind
        {0x9000001A, false},                // cloud file (OneDrive placeholder)
        {0x9000101A, false},                // cloud file, another variant
        {0x80000017, false},                // compressed by the system (WOF)
        {0x80000013, false},                // deduplicated
        {0x8000001B, false},                // app execution alias
        {0, false},
    };
    for (const auto& [tag, link] : cases) {
        EXPECT_EQ(win::IsLinkTag(tag), link) << std::hex << tag;
    }
}

// The replacement keeps the save's creation time and attributes, but none that describe how the
// old file was stored: an offline or cloud attribute would leave the new file looking absent.
TEST(WindowsReplaceRules, TheReplacementKeepsTheCreationTimeAndNoStorageAttributes) {
    using win::ReplacementBasics;
    constexpr long long k1999 = 0x01C0000012345600;
    const std::vector<std::tuple<DWORD, ReplacementBasics>> cases = {
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN,
         {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, k1999}},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_REPARSE_POINT |
             0x00400000 /* recall on data access */ | 0x00040000 /* recall on open */,
         {FILE_ATTRIBUTE_ARCHIVE, k1999}},
        {FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_ENCRYPTED,
         {FILE_ATTRIBUTE_NORMAL, k1999}},
        {FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED,
         {FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, k1999}},
    };
    for (const auto& [attributes, basics] : cases) {
        EXPECT_EQ(win::ReplacementBasicsFor(attributes, k1999), basics) << std::hex << attributes;
    }
}

// A cloud file online-only, or a file moved to remote storage, is fetched when read; a file
// whose data is here (a cloud file kept on this computer too) is not marked so.
TEST(WindowsReplaceRules, AFileWhoseDataIsElsewhereIsOnlineOnly) {
    constexpr DWORD kRecallOnOpen = 0x00040000;
    constexpr DWORD kRecallOnDataAccess = 0x00400000;
    constexpr DWORD kPinned = 0x00080000;
    constexpr DWORD kUnpinned = 0x00100000;
    const std::map<DWORD, bool> cases = {
        {FILE_ATTRIBUTE_NORMAL, false},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, false},
        {FILE_ATTRIBUTE_REPARSE_POINT | kPinned, false}, // always kept here
        {FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_REPARSE_POINT, false},
        {kRecallOnDataAccess | FILE_ATTRIBUTE_REPARSE_POINT | kUnpinned, true},
        {kRecallOnOpen, true},
        {FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_ARCHIVE, true},
    };
    for (const auto& [attributes, online] : cases) {
        EXPECT_EQ(win::IsOnlineOnlyAttributes(attributes), online) << std::hex << attributes;
    }
}

// "In use" only where another program holds the file; a refusal is named by what is known of
// it, and where the access lists allow the write, by its likely causes.
TEST(WindowsReplaceRules, ARefusedWriteIsNamedByItsCause) {
    const std::string refused = "Windows refused to write there";
    const std::string shield = "ransomware protection such as Controlled folder access, which "
                               "must allow ostrapel.exe";
    const std::string inUse = "in use by another program (is the game running?)";
    using Facts = win::RefusalFacts;
    const Facts allows{.folderAllows = true};
    const std::vector<std::tuple<DWORD, Facts, std::string>> cases = {
        {ERROR_SHARING_VIOLATION, allows, inUse},
        {ERROR_LOCK_VIOLATION, Facts{}, inUse},
        {ERROR_ACCESS_DENIED, allows, refused + " (likely " + shield + ")"},
        {ERROR_ACCESS_DENIED, Facts{.folderAllows = true, .networkShare = true},
         refused + " (likely a share you may only read, or " + shield + ")"},
        {ERROR_ACCESS_DENIED, Facts{.folderAllows = true, .deletePending = true},
         refused + " (a file of that name is still being deleted: try again shortly)"},
        {ERROR_ACCESS_DENIED, Facts{.folderAllows = true, .saveForbidsDelete = true},
         refused + " (the save's permissions forbid replacing it)"},
        {ERROR_ACCESS_DENIED, Facts{}, "Permission denied"}, // the folder's own access list
        {ERROR_DISK_FULL, allows, "No space left on device"},
    };
    for (const auto& [error, facts, said] : cases) {
        EXPECT_EQ(win::WriteRefusal(error, facts).English(), said) << error;
    }
}

// A Windows without the English language pack still gives its own words, not a number.
TEST(WindowsErrorText, FallsBackToTheUsersLanguageThenToTheNumber) {
    static std::map<std::pair<unsigned long, unsigned long>, std::string> messages;
    messages = {
        {{1, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}, "Incorrect function.\r\n"},
        {{1, 0}, "Funci\xC3\xB3n incorrecta.\r\n"},
        {{225, 0}, "Die Datei enth\xC3\xA4lt einen Virus.\r\n"},
    };
    const auto lookup = [](unsigned long code, unsigned long language) {
        auto found = messages.find({code, language});
        return found != messages.end() ? found->second : std::string();
    };
    EXPECT_EQ(win::ErrorPhraseWith(1, lookup).English(), "Incorrect function");
    EXPECT_EQ(win::ErrorPhraseWith(225, lookup).English(), "Die Datei enth\xC3\xA4lt einen Virus");
    EXPECT_EQ(win::ErrorPhraseWith(1117, lookup).English(), "Windows error 1117");
    EXPECT_EQ(win::ErrorPhraseWith(ERROR_ACCESS_DENIED, lookup).English(), "Permission denied");
}
