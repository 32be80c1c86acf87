#pragma once

#include "system/Sha256.h"
#include "system/Status.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// windows.h maps this name to SetCurrentDirectoryW; the program's own function keeps its name.
#ifdef SetCurrentDirectory
#undef SetCurrentDirectory
#endif

namespace ostrapel {

// Prefix of the files the program makes for itself (temporaries, lock files).
inline constexpr const char* kTemporaryPrefix = ".ostrapel-";

// A new name for a temporary file: ".ostrapel-PID-RANDOM.tmp", PID this process's id in
// decimal, RANDOM ten of a-z and 0-9.
std::string NewTemporaryName();

// A new name for a temporary that is to replace the file named save in its folder:
// ".ostrapel-PID-RANDOM-SAVE.tmp", so that one left by a replacement cut short where the
// rename is not atomic (FAT, exFAT: the save removed, the temporary not yet renamed) is known
// for its save's. NewTemporaryName's form where that name would be too long.
std::string NewTemporaryNameFor(std::string_view save);

// Whether a name has exactly a form NewTemporaryName or NewTemporaryNameFor gives: only such
// files are taken for the program's own, so a player's file that merely begins alike is never
// hidden or removed.
bool IsTemporaryName(std::string_view name);

// The save a temporary named by NewTemporaryNameFor was to replace; empty for other names.
std::string SaveOfTemporary(std::string_view name);

enum class EntryKind { Missing, File, Directory, Other };

struct DirectoryEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
    bool hidden = false; // a leading dot (POSIX); the hidden or system attribute (Windows)
};

// Whether an entry of this name is hidden by its name alone: a leading dot on POSIX; on
// Windows, where hiding is an attribute, only this program's own temporaries (IsTemporaryName).
bool IsHiddenName(const std::string& name);

// What a file looked like when it was read; two equal identities mean nobody wrote it since.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t inodeHigh = 0; // the upper half of a 128-bit file id (Windows, ReFS); else 0
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
    // Whether both are the same file, whatever it held then.
    bool sameFile(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && inodeHigh == other.inodeHigh;
    }
};

struct ListingResult {
    Status status = Status::Ok();
    std::vector<DirectoryEntry> entries; // in enumeration order, "." and ".." left out
};

// Entries of a folder in the order the platform yields them; symbolic links are followed
// to tell their kind.
ListingResult ListDirectory(const std::string& folder);

// Kind of the entry at a path, following symbolic links.
EntryKind KindOf(const std::string& path);

std::optional<std::int64_t> SizeOf(const std::string& path);

// Whether the file's data is not on this computer, so that reading it downloads it (a cloud
// file marked online-only on Windows, by the attributes its folder's listing gives); never on
// POSIX. Asking does not download it.
bool IsOnlineOnly(const std::string& path);

std::optional<FileIdentity> IdentityOf(const std::string& path);

// When the file's data or attributes last changed, in nanoseconds (POSIX ctime, the Windows
// ChangeTime): unlike the modification time, no program can set it back.
std::optional<std::int64_t> ChangeTimeOf(const std::string& path);

// The bytes free for this user on the volume of folder; empty when it cannot be told.
std::optional<std::uint64_t> FreeSpaceOf(const std::string& folder);

// The absolute path with every symbolic link and "." or ".." resolved; empty when the path
// cannot be resolved (it does not exist, or a folder on the way cannot be read).
std::string ResolvedPath(const std::string& path);

// Reads a whole file.
Status ReadWholeFile(const std::string& path, std::string& content);

// Whether two files hold the same bytes; a file that cannot be read fails.
struct ComparisonResult {
    Status status = Status::Ok();
    bool same = false;
};
ComparisonResult CompareFiles(const std::string& a, const std::string& b);

// Reads up to size bytes at offset into bytes: fewer where the file ends before.
Status ReadBytesAt(const std::string& path, std::int64_t offset, std::size_t size,
                   std::string& bytes);

// Opens path for reading and writing without truncating it (creating it when missing),
// writes bytes at offset when there are any, and closes it.
Status WriteBytesAt(const std::string& path, std::int64_t offset, std::string_view bytes);

// Whether a file is marked read-only (no write permission bit at all) or this process may not
// write it. Follows symbolic links; false when the file cannot be looked at.
bool IsReadOnly(const std::string& path);

// What a copy tells besides whether it was made, and how it is made.
struct CopyOptions {
    FileIdentity* sourceIdentity = nullptr; // set to the source's identity as it was read
    std::string* content = nullptr;         // set to the bytes copied
    bool flush = false;                     // the copy is on disk before the call returns
    bool keepMode = false; // the copy gets the source's permission bits (a program stays one)
};

// Copies a regular file to a new file at target, which must not exist yet (so two sources
// can never share one copy, not even on a file system that ignores case). Refuses folders,
// devices and pipes, and a source written while it is copied.
Status CopyFileTo(const std::string& source, const std::string& target, const CopyOptions& options);

// The same, reporting the source's identity as it was read.
Status CopyFileTo(const std::string& source, const std::string& target,
                  FileIdentity* sourceIdentity = nullptr);

// Writes content to a new file at path, which must not exist yet; a file left partly written
// is removed.
Status WriteNewFile(const std::string& path, std::string_view content);

// Writes content over the file at path in place: the same file, cut to the content's length,
// never through a symbolic link. Not removed and created again under its name, which a delete
// still pending refuses on FAT, exFAT and network shares. A missing file fails.
Status OverwriteFile(const std::string& path, std::string_view content);

// OwnerNotKept: the target's owner or group could not be given to the replacement, so it
// was left alone.
// Why a replacement whose content was not the one proven was not made.
inline constexpr const char* kChangedAfterProof = N_("changed after it was proven");

enum class ReplaceOutcome { Replaced, TargetChanged, OwnerNotKept, Failed };

struct ReplaceResult {
    ReplaceOutcome outcome = ReplaceOutcome::Failed;
    Status status = Status::Ok();
};

// Replaces target by the content of source at once: a temporary in the target's own folder
// (a link target's folder, when target is a symbolic link) is written, flushed and renamed
// over it. The target keeps its permission bits, owner and group. When expected is given and the
// target no longer matches it, nothing is written; nor when the target is read-only. The target is
// never left partly written. When content is given, the bytes copied must have that SHA-256:
// otherwise nothing is replaced (Failed, "changed after it was proven"). When targetContent is
// given, the target is read just before it is replaced and must still hold bytes of that
// SHA-256: a rewrite the identity cannot show (the same size and last-write time) is
// TargetChanged too.
ReplaceResult ReplaceFileAtomically(const std::string& source, const std::string& target,
                                    const std::optional<FileIdentity>& expected,
                                    const Sha256Digest* content = nullptr,
                                    const Sha256Digest* targetContent = nullptr);

// Flushes a folder's entries (renames into it) to disk.
Status SyncDirectory(const std::string& folder);

// Flushes a file's content to disk.
Status SyncFile(const std::string& path);

// Puts content at path at once: a temporary beside it is written, flushed and renamed over
// whatever was there, and the folder is flushed. Path is never left partly written.
Status WriteFileAtomically(const std::string& path, std::string_view content);

// Deletes a file; a missing file is not an error.
Status RemoveFile(const std::string& path);

// Deletes every entry of a folder that is not a folder. Sub-folders stay.
Status RemoveFilesIn(const std::string& folder);

// Deletes every file of a folder whose name IsTemporaryName, but a temporary whose save is
// missing: it may be all that is left of that save.
Status RemoveTemporaries(const std::string& folder);

// Creates a folder; an existing one is fine.
Status MakeDirectory(const std::string& path);

// Removes an empty folder; a missing one is fine.
Status RemoveEmptyDirectory(const std::string& path);

// An exclusive lock on a folder, held until the object goes; other holders are other
// programs or other locks of this one. Programs started while it is held hold it with it
// until they end, so a tool outliving a killed batch still keeps others off the folder. A
// process that dies lets go of it.
class FolderLock {
public:
    // Takes the lock at once or fails (status says why; busy() when another holds it). Not
    // sharedWithPrograms: programs started meanwhile do not hold it.
    explicit FolderLock(const std::string& folder, bool sharedWithPrograms = true);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool held() const { return handle_ != -1; }
    bool busy() const { return busy_; }
    const Status& status() const { return status_; }

private:
    std::intptr_t handle_ = -1; // a descriptor (POSIX) or a HANDLE (Windows)
    bool busy_ = false;
    Status status_ = Status::Ok();
};

// Whether the entry itself, a symbolic link not followed (on Windows any reparse point), is a
// folder (kind Directory) or a regular file (kind File) of this user's own. Fails with "is a
// symbolic link", "is not a folder", "is not a regular file" or "belongs to another user"
// (on Windows, where the folders in question are the user's own, ownership is not looked at),
// and for a missing entry with the system's reason.
Status CheckOwnEntry(const std::string& path, EntryKind kind);

// Whether the entry itself is a symbolic link (on Windows, any reparse point).
bool IsSymbolicLink(const std::string& path);

// Creates a folder only this user may use (0700 on POSIX); an existing one is fine as it is.
Status MakePrivateDirectory(const std::string& path);

// Deletes a folder of this user's own with the files in it, never through a symbolic link: a
// folder that is a link or belongs to another user is refused and left alone. A folder with
// sub-folders stays, with them. A missing folder is fine.
Status RemoveOwnFolder(const std::string& path);

// Makes the relative paths given in the environment (OSTRAPEL_BACKUP_DIR, WINEPREFIX) absolute
// against the current folder, once per process; SetCurrentDirectory does it before it first
// changes the folder, so such a path means the same before and after.
void ResolveEnvironmentPaths();

Status SetCurrentDirectory(const std::string& path);
std::string CurrentDirectory();

} // namespace ostrapel
