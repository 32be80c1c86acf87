// Replacing a file atomically: a save through a temporary given its security, times and
// attributes, a whole file by rename; and flushing to disk.

#include "FileSystemWindowsInternal.h"
#include "ReplaceRules.h"
#include "WindowsText.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <aclapi.h>
#include <algorithm>
#include <cstring>
#include <windows.h>

namespace ostrapel {

using win::AttributesOf;
using win::CopyContents;
using win::FinalPathOf;
using win::FolderOf;
using win::Handle;
using win::IdentityOfHandle;
using win::InUse;
using win::kShareAll;
using win::OpenExisting;
using win::OpenToLookAt;
using win::Retrying;
using win::WriteFailure;

namespace {

// Why the rename over target failed: refused on access where another program holds the target
// open (the classic rename cannot replace an open file) is "in use" too; otherwise what the
// target tells: being deleted, or kept by its own access list.
Status RenameFailure(DWORD error, const std::wstring& target, const std::wstring& folder) {
    win::RefusalFacts facts;
    if (error == ERROR_ACCESS_DENIED) {
        Handle probe(::CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
        if (!probe.valid()) {
            const DWORD failed = ::GetLastError();
            facts.deletePending = failed == ERROR_ACCESS_DENIED && win::DeletePending();
            if (InUse(failed)) {
                error = ERROR_SHARING_VIOLATION;
            }
        }
        // Only where both access lists could be read: a file system without them keeps nothing.
        facts.saveForbidsDelete = !facts.deletePending && error == ERROR_ACCESS_DENIED &&
                                  win::AccessListGrants(target, DELETE) == false &&
                                  win::AccessListGrants(folder, FILE_DELETE_CHILD) == false;
    }
    return WriteFailure(error, folder, facts);
}

// FILE_RENAME_INFO with its Flags member (Windows 10 1607 and later); the same layout.
struct RenameInformation {
    DWORD flags;
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[1];
};
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;

} // namespace

namespace win {

RenameWay RenameWayAfter(RenameWay tried, unsigned long error) {
    if (tried != RenameWay::PosixSemantics) {
        return RenameWay::None;
    }
    // Systems before Windows 10 1709 do not know the class, file systems without POSIX
    // semantics (FAT, some network shares) refuse it: the classic rename instead.
    switch (error) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return RenameWay::Classic;
    default:
        return RenameWay::None;
    }
}

SecurityToKeep SecurityToKeepFor(unsigned short control, bool sameOwner) {
    SecurityToKeep keep;
    // Without a DACL present there is nothing to copy (a file system without ACLs).
    if ((control & SE_DACL_PRESENT) != 0) {
        // A protected DACL stays as it is; an inheriting one takes the folder's inherited entries
        // anew, beside its own.
        keep.dacl = DACL_SECURITY_INFORMATION |
                    ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
    }
    keep.owner = !sameOwner;
    return keep;
}

constexpr DWORD kRecallOnOpen = 0x00040000;
constexpr DWORD kRecallOnDataAccess = 0x00400000;

bool IsOnlineOnlyAttributes(unsigned long attributes) {
    return (attributes & (kRecallOnOpen | kRecallOnDataAccess | FILE_ATTRIBUTE_OFFLINE)) != 0;
}

ReplacementBasics ReplacementBasicsFor(unsigned long saveAttributes, long long saveCreationTime) {
    constexpr DWORD kNotCarriedOver = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_COMPRESSED |
                                      FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_SPARSE_FILE |
                                      FILE_ATTRIBUTE_OFFLINE | kRecallOnOpen | kRecallOnDataAccess;
    ReplacementBasics basics;
    basics.attributes = saveAttributes & ~kNotCarriedOver;
    if (basics.attributes == 0) {
        basics.attributes = FILE_ATTRIBUTE_NORMAL;
    }
    basics.creationTime = saveCreationTime;
    return basics;
}

} // namespace win

namespace {

using win::RenameWay;

// Renames the file open as handle (with DELETE access) over target. POSIX semantics replace
// a target that others hold open with delete sharing, as scanners and indexers do; the classic
// rename cannot, so held (this program's own open of the target, when given) is let go before
// it. Returns 0 or the error code.
DWORD RenameOver(HANDLE handle, const std::wstring& target, Handle* held = nullptr) {
    const std::size_t bytes = target.size() * sizeof(WCHAR);
    std::vector<unsigned char> buffer(sizeof(RenameInformation) + bytes, 0);
    auto* info = reinterpret_cast<RenameInformation*>(buffer.data());
    info->fileNameLength = static_cast<DWORD>(bytes);
    std::memcpy(info->fileName, target.c_str(), bytes);
    for (RenameWay way = RenameWay::PosixSemantics; way != RenameWay::None;) {
        const bool posix = way == RenameWay::PosixSemantics;
        if (!posix && held != nullptr) {
            held->reset();
        }
        // Classic: the first byte is ReplaceIfExists, the rest of the member is ignored.
        info->flags = posix ? kRenameReplaceIfExists | kRenamePosixSemantics : TRUE;
        if (::SetFileInformationByHandle(handle, posix ? kFileRenameInfoEx : FileRenameInfo,
                                         buffer.data(), static_cast<DWORD>(buffer.size()))) {
            return 0;
        }
        const DWORD error = ::GetLastError();
        way = RenameWayAfter(way, error);
        if (way == RenameWay::None) {
            return error;
        }
    }
    return ERROR_INVALID_FUNCTION;
}

// A save's security descriptor, as the replacement is to keep it.
class SavedSecurity {
public:
    explicit SavedSecurity(HANDLE file) {
        // The integrity label (in the SACL) with the rest: a save a low-integrity game wrote stays
        // writable by it.
        read_ = ::GetSecurityInfo(file, SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                      DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                  &owner_, &group_, &dacl_, &label_, &descriptor_) == ERROR_SUCCESS;
        if (!read_) {
            label_ = nullptr;
            read_ =
                ::GetSecurityInfo(file, SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                      DACL_SECURITY_INFORMATION,
                                  &owner_, &group_, &dacl_, nullptr, &descriptor_) == ERROR_SUCCESS;
        }
    }
    ~SavedSecurity() {
        if (descriptor_ != nullptr) {
            ::LocalFree(descriptor_);
        }
    }
    SavedSecurity(const SavedSecurity&) = delete;
    SavedSecurity& operator=(const SavedSecurity&) = delete;

    // Gives it to the new file, open as file at path: its DACL, its integrity label, and its owner
    // and group where this user may set them. Each is set by name, through a handle of its own
    // asking for what it needs, so the file's own handle asks for no WRITE_DAC; a refusal leaves
    // the new file's own (the folder's inherited) access list, as for the owner. Returns 0 or the
    // error code.
    DWORD giveTo(HANDLE file, const std::wstring& path) const {
        if (!read_) {
            return 0; // nothing readable to keep (a file system without security)
        }
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!::GetSecurityDescriptorControl(descriptor_, &control, &revision)) {
            return 0;
        }
        PSID owner = nullptr;
        PSID group = nullptr;
        PSECURITY_DESCRIPTOR current = nullptr;
        bool sameOwner = true;
        if (::GetSecurityInfo(file, SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, &owner,
                              &group, nullptr, nullptr, &current) == ERROR_SUCCESS) {
            sameOwner = Same(owner, owner_) && Same(group, group_);
            ::LocalFree(current);
        }
        const win::SecurityToKeep keep = win::SecurityToKeepFor(control, sameOwner);
        std::wstring name = path;
        if (keep.dacl != 0) {
            const DWORD error = ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, keep.dacl,
                                                        nullptr, nullptr, dacl_, nullptr);
            if (error != ERROR_SUCCESS && error != ERROR_NOT_SUPPORTED &&
                error != ERROR_INVALID_FUNCTION && error != ERROR_ACCESS_DENIED) {
                return error;
            }
        }
        if (label_ != nullptr && label_->AceCount > 0) {
            (void)::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION,
                                          nullptr, nullptr, nullptr, label_);
        }
        if (keep.owner) {
            // Another owner takes a privilege most users lack; then the file stays theirs, as
            // with ReplaceFileW.
            (void)::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                                          owner_, group_, nullptr, nullptr);
        }
        return 0;
    }

private:
    static bool Same(PSID a, PSID b) {
        return a == nullptr || b == nullptr ? a == b : ::EqualSid(a, b) != FALSE;
    }

    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    PSID owner_ = nullptr;
    PSID group_ = nullptr;
    PACL dacl_ = nullptr;
    PACL label_ = nullptr;
    bool read_ = false;
};

} // namespace

ReplaceResult ReplaceFileAtomically(const std::string& source, const std::string& target,
                                    const std::optional<FileIdentity>& expected,
                                    const Sha256Digest* content,
                                    const Sha256Digest* targetContent) {
    auto fail = [](DWORD error) {
        return ReplaceResult{ReplaceOutcome::Failed, win::ErrorStatus(error)};
    };
    auto changed = [] {
        return ReplaceResult{ReplaceOutcome::TargetChanged, Status::Fail("changed on disk")};
    };

    DWORD attributes = AttributesOf(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        const bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return gone && expected ? changed() : fail(error);
    }
    // The file the save is: a symbolic link is written through and stays a link. (Wine shows
    // a link as a plain file; its final path still leads to the target.)
    Handle save(OpenToLookAt(target));
    if (!save.valid()) {
        const DWORD error = ::GetLastError();
        const bool gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return gone && expected ? changed() : fail(error);
    }
    // The final path counts only where it leads back to the same file: Wine names a file
    // whose name DOS could not hold ("abc.") by another name.
    std::wstring real = FinalPathOf(save.get(), VOLUME_NAME_DOS);
    if (real.empty()) {
        real = FinalPathOf(save.get(), VOLUME_NAME_GUID);
    }
    if (!real.empty()) {
        Handle there(::CreateFileW(real.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        const auto mine = IdentityOfHandle(save.get());
        const auto theirs = there.valid() ? IdentityOfHandle(there.get()) : std::nullopt;
        if (!mine || !theirs || !mine->sameFile(*theirs)) {
            real.clear();
        }
    }
    if (real.empty()) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return {ReplaceOutcome::Failed, Status::Fail("is a link whose target cannot be named")};
        }
        real = win::FilePath(target); // not a link: the save itself
    }
    attributes = ::GetFileAttributesW(real.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return fail(::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {ReplaceOutcome::Failed, Status::Fail("is not a regular file")};
    }
    if (expected && IdentityOfHandle(save.get()) != *expected) {
        return changed();
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return {ReplaceOutcome::Failed, Status::Fail("is read-only")};
    }
    FILE_BASIC_INFO saveTimes{};
    if (!::GetFileInformationByHandleEx(save.get(), FileBasicInfo, &saveTimes, sizeof saveTimes)) {
        return fail(::GetLastError());
    }
    Handle saveSecurity(
        ::CreateFileW(real.c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    SavedSecurity security(saveSecurity.get());
    saveSecurity.reset();
    save.reset();

    Handle in(OpenExisting(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           FILE_FLAG_SEQUENTIAL_SCAN));
    if (!in.valid()) {
        return fail(::GetLastError());
    }

    // Hidden while it is written, so a temporary left by a killed run stays out of listings.
    const std::wstring folder = real.substr(0, real.find_last_of(L'\\'));
    // Named for its save: where the rename is not atomic (FAT, exFAT), one left beside a save
    // that is gone holds the save as converted, and is kept until the save is back.
    const std::wstring temporary =
        folder + L"\\" + win::Wide(NewTemporaryNameFor(win::Utf8(real.substr(folder.size() + 1))));
    // Neither WRITE_OWNER nor WRITE_DAC: asking for what is not the creator's by right could
    // fail the create; the save's security is set afterwards.
    Handle out(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE | READ_CONTROL, 0, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!out.valid()) {
        return ReplaceResult{ReplaceOutcome::Failed, WriteFailure(::GetLastError(), folder)};
    }
    auto abandon = [&](DWORD error) {
        out.reset();
        ::DeleteFileW(temporary.c_str());
        return fail(error);
    };

    std::string copied;
    if (DWORD error = CopyContents(in.get(), out.get(), content != nullptr ? &copied : nullptr);
        error != 0) {
        return abandon(error);
    }
    if (content != nullptr && Sha256Of(copied) != *content) {
        out.reset();
        ::DeleteFileW(temporary.c_str());
        return {ReplaceOutcome::Failed, Status::Fail(kChangedAfterProof)};
    }
    // The replacement keeps the save's attributes (archive, hidden, system, ...), its creation
    // time and its security, as ReplaceFileW would.
    const win::ReplacementBasics basics =
        win::ReplacementBasicsFor(attributes, saveTimes.CreationTime.QuadPart);
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = basics.attributes;
    basic.CreationTime.QuadPart = basics.creationTime;
    if (!::SetFileInformationByHandle(out.get(), FileBasicInfo, &basic, sizeof basic)) {
        return abandon(::GetLastError());
    }
    if (DWORD error = security.giveTo(out.get(), temporary); error != 0) {
        return abandon(error);
    }
    if (!::FlushFileBuffers(out.get())) {
        return abandon(::GetLastError());
    }
    // A look before every try of the rename: a game that held its save while the rename was
    // refused may have written it before letting go, and keeps what it wrote. The save is held
    // without write sharing from that look to the rename: a writer that keeps it open (with
    // delete sharing even) moves its last-write time only when it closes, so while one has it
    // open the save counts as in use, and none can write between the look and the rename (but
    // for the classic rename, which must let go of it just before). The
    // look reads the save's bytes where their digest is given: the identity alone misses a
    // rewrite at the same size that left the last-write time (FAT keeps it to 2 s; a write
    // through a mapped view may not move it). The hold is let go before each pause, so the game
    // is never kept from its save while this waits.
    bool changedMeanwhile = false;
    Handle held;
    const DWORD error = Retrying(
        [&] {
            held.reset(::CreateFileW(real.c_str(), GENERIC_READ, win::kShareWithoutWriters, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            if (!held.valid()) {
                const DWORD failed = ::GetLastError();
                if (expected &&
                    (failed == ERROR_FILE_NOT_FOUND || failed == ERROR_PATH_NOT_FOUND)) {
                    changedMeanwhile = true;
                    return DWORD{0};
                }
                return failed;
            }
            if ((expected && IdentityOfHandle(held.get()) != *expected) ||
                (targetContent != nullptr && !win::Holds(held.get(), *targetContent))) {
                changedMeanwhile = true;
                return DWORD{0};
            }
            return RenameOver(out.get(), real, &held);
        },
        [&] { held.reset(); });
    held.reset();
    if (changedMeanwhile || error != 0) {
        out.reset();
        ::DeleteFileW(temporary.c_str());
        return changedMeanwhile
                   ? changed()
                   : ReplaceResult{ReplaceOutcome::Failed, RenameFailure(error, real, folder)};
    }
    // The rename on disk with the file's metadata; the save is replaced either way.
    (void)::FlushFileBuffers(out.get());
    out.reset();
    return {ReplaceOutcome::Replaced, Status::Ok()};
}

Status SyncDirectory(const std::string& folder) {
    // Every rename was flushed through its file's handle already.
    (void)folder;
    return Status::Ok();
}

Status SyncFile(const std::string& path) {
    Handle file(::CreateFileW(win::FilePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !::FlushFileBuffers(file.get())) {
        return win::LastErrorStatus();
    }
    return Status::Ok();
}

Status WriteFileAtomically(const std::string& path, std::string_view content) {
    const std::wstring temporary = win::FilePath(JoinPath(ParentOf(path), NewTemporaryName()));
    Handle out(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!out.valid()) {
        return WriteFailure(::GetLastError(), FolderOf(path));
    }
    DWORD error = 0;
    for (std::size_t at = 0; at < content.size() && error == 0;) {
        const DWORD piece =
            static_cast<DWORD>(std::min<std::size_t>(content.size() - at, 1u << 20));
        DWORD put = 0;
        if (!::WriteFile(out.get(), content.data() + at, piece, &put, nullptr) || put == 0) {
            error = put == 0 && ::GetLastError() == 0 ? ERROR_WRITE_FAULT : ::GetLastError();
        }
        at += put;
    }
    if (error == 0 && !::FlushFileBuffers(out.get())) {
        error = ::GetLastError();
    }
    if (error == 0) {
        // A reader holding the old file for a moment is waited for.
        const std::wstring target = win::FilePath(path);
        error = Retrying([&] { return RenameOver(out.get(), target); });
    }
    if (error != 0) {
        out.reset();
        ::DeleteFileW(temporary.c_str());
        return win::ErrorStatus(error);
    }
    (void)::FlushFileBuffers(out.get()); // the rename on disk; the file is in place either way
    return Status::Ok();
}

} // namespace ostrapel
