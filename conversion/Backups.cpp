#include "conversion/Backups.h"

#include "conversion/DlcVersion.h"
#include "system/Paths.h"
#include "system/Sha256.h"
#include "system/UserFolders.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace ostrapel {

namespace {

constexpr const char* kManifestName = "manifest";
// Sets are named by their number, so names sort as they were made.
constexpr std::size_t kSetNameDigits = 10;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Folders made for backups and locks are private to the user.
Status MakeDirectories(const std::string& path) {
    if (MakePrivateDirectory(path)) {
        return Status::Ok();
    }
    const std::string parent = ParentOf(path);
    if (parent == path || KindOf(parent) != EntryKind::Missing) {
        return MakePrivateDirectory(path);
    }
    if (Status made = MakeDirectories(parent); !made) {
        return made;
    }
    return MakePrivateDirectory(path);
}

// The path resolved as far as it exists, with the rest of it appended as it is: where a folder
// would be once created.
std::string ResolvedAsFarAsItExists(const std::string& path) {
#ifdef _WIN32
    constexpr const char* kSeparators = "\\/";
#else
    constexpr const char* kSeparators = "/";
#endif
    std::string at = path;
    std::string rest;
    for (;;) {
        if (std::string real = ResolvedPath(at); !real.empty()) {
            return rest.empty() ? real : JoinPath(real, rest);
        }
        const auto end = at.find_last_not_of(kSeparators);
        const auto slash = end == std::string::npos ? end : at.find_last_of(kSeparators, end);
        if (slash == std::string::npos) {
            return path;
        }
        const std::string name = at.substr(slash + 1, end - slash);
        rest = rest.empty() ? name : JoinPath(name, rest);
        at = at.substr(0, slash + 1);
    }
}

// Why an entry of the backups must be left alone ("the folder PATH is a symbolic link"); empty
// when it is this user's own.
std::string NotOwn(const std::string& path, EntryKind kind) {
    Status own = CheckOwnEntry(path, kind);
    return own ? std::string() : path + " " + own.reason();
}

// A key for a save folder: a hash of its resolved path, in the form that every spelling the
// platform takes for that path shares (on Windows, whatever its case).
std::string FolderKey(const std::string& resolvedFolder) {
    return Sha256Hex(NamesKeyText(resolvedFolder)).substr(0, 32);
}

// The folder of one save folder's sets, named by its key; the one named by a hash of the path as
// it is, where such a set folder was made before the key ignored case and no other is there.
std::string SetsFolderOf(const std::string& backupFolder, const std::string& resolvedFolder) {
    const std::string sets = JoinPath(backupFolder, FolderKey(resolvedFolder));
    const std::string earlier = JoinPath(backupFolder, Sha256Hex(resolvedFolder).substr(0, 32));
    if (earlier != sets && KindOf(sets) == EntryKind::Missing && !IsSymbolicLink(sets) &&
        (KindOf(earlier) != EntryKind::Missing || IsSymbolicLink(earlier))) {
        return earlier;
    }
    return sets;
}

std::string SetName(std::uint64_t number) {
    std::string digits = std::to_string(number);
    return std::string(kSetNameDigits - std::min(kSetNameDigits, digits.size()), '0') + digits;
}

// Numbers of the entries named as sets, in ascending order: whatever they are, so that a new
// set never takes the name of a link or file there.
std::vector<std::uint64_t> SetNumbers(const std::string& setsFolder, Status* status = nullptr) {
    ListingResult listing = ListDirectory(setsFolder);
    if (status != nullptr) {
        *status = listing.status;
    }
    std::vector<std::uint64_t> numbers;
    for (const DirectoryEntry& entry : listing.entries) {
        if (entry.name.size() == kSetNameDigits &&
            entry.name.find_first_not_of("0123456789") == std::string::npos) {
            numbers.push_back(std::stoull(entry.name));
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// A set that is a link or another user's is left alone.
void RemoveSetFolder(const std::string& set) {
    (void)RemoveOwnFolder(set);
}

// Whether a manifest entry is there at all, a link to nowhere included.
bool HasManifest(const std::string& set) {
    const std::string manifest = JoinPath(set, kManifestName);
    return KindOf(manifest) != EntryKind::Missing || IsSymbolicLink(manifest);
}

// Reads a file together with its identity, unchanged from before to after the reading.
Status ReadSteadily(const std::string& path, std::string& content, FileIdentity& identity) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto before = IdentityOf(path);
        if (!before) {
            return Status::Fail("cannot be looked at");
        }
        if (Status read = ReadWholeFile(path, content); !read) {
            return read;
        }
        if (auto after = IdentityOf(path); after && *after == *before) {
            identity = *before;
            return Status::Ok();
        }
    }
    return Status::Fail("keeps changing");
}

std::string DescribeValue(int value) {
    for (const DlcVersion& row : DlcVersionTable::kRows) {
        if (row.value == value) {
            return "version " + std::string(row.label);
        }
    }
    return "value " + std::to_string(value);
}

BackupSet ReadSet(const std::string& set, const std::string& resolvedFolder) {
    BackupSet read{set, Status::Ok(), {}};
    const std::string path = JoinPath(set, kManifestName);
    if (Status own = CheckOwnEntry(path, EntryKind::File); !own) {
        read.status = Status::Fail("its manifest " + own.reason() + "; it is left alone");
        return read;
    }
    auto size = SizeOf(path);
    std::string text;
    if (size && static_cast<std::uint64_t>(*size) > kManifestMaxBytes) {
        read.status = Status::Fail("its manifest is damaged: too large");
        return read;
    }
    if (Status loaded = ReadWholeFile(path, text); !loaded) {
        read.status = Status::Fail("its manifest cannot be read: " + loaded.reason());
        return read;
    }
    ManifestReading parsed = ParseManifest(text);
    if (!parsed.status) {
        read.status = Status::Fail("its manifest is damaged: " + parsed.status.reason());
        return read;
    }
    if (!SamePathText(parsed.manifest.folder, resolvedFolder)) {
        read.status = Status::Fail("it was made for another folder: " + parsed.manifest.folder);
        return read;
    }
    read.manifest = std::move(parsed.manifest);
    return read;
}

// Every original present and matching its recorded SHA-256.
Status CheckOriginals(const BackupSet& set) {
    for (const BackupManifest::Save& save : set.manifest.saves) {
        const std::string file = OriginalFileName(save.file);
        const std::string path = JoinPath(set.folder, file);
        if (KindOf(path) == EntryKind::Missing && !IsSymbolicLink(path)) {
            return Status::Fail("the original of " + save.name + " (" + file + ") is missing");
        }
        if (Status own = CheckOwnEntry(path, EntryKind::File); !own) {
            return Status::Fail("the original of " + save.name + " (" + file + ") " + own.reason());
        }
        std::string content;
        if (Status read = ReadWholeFile(path, content); !read) {
            return Status::Fail("the original of " + save.name + " (" + file +
                                ") cannot be read: " + read.reason());
        }
        if (Sha256Hex(content) != save.originalSha256) {
            return Status::Fail("the original of " + save.name + " (" + file +
                                ") does not match its recorded SHA-256");
        }
    }
    return Status::Ok();
}

Status MarkUndone(const BackupSet& set) {
    BackupManifest undone = set.manifest;
    undone.undone = Now();
    return WriteFileAtomically(JoinPath(set.folder, kManifestName), ComposeManifest(undone));
}

// Whether every save of a set still holds its original, read steadily.
bool NothingReplaced(const BackupSet& set, const std::string& folder) {
    for (const BackupManifest::Save& save : set.manifest.saves) {
        std::string content;
        FileIdentity identity;
        if (!ReadSteadily(JoinPath(folder, save.name), content, identity) ||
            Sha256Hex(content) != save.originalSha256) {
            return false;
        }
    }
    return true;
}

std::string Resolved(const std::string& folder) {
    return folder.empty() ? std::string() : ResolvedPath(folder);
}

} // namespace

std::string BackupFolderFor(const std::string& appDir) {
    if (const char* chosen = std::getenv(kBackupFolderVariable);
        chosen != nullptr && chosen[0] != '\0') {
        return chosen;
    }
    if (!appDir.empty()) {
        const std::string portable = JoinPath(appDir, kPortableBackupFolder);
        if (KindOf(portable) == EntryKind::Directory) {
            return portable;
        }
    }
    return DefaultBackupFolder();
}

SaveFolderLock::SaveFolderLock(const std::string& saveFolder) {
    const std::string data = DefaultBackupFolder();
    const std::string folder = Resolved(saveFolder);
    if (data.empty() || folder.empty()) {
        status_ =
            Status::Fail("Cannot lock the save folder " + saveFolder + ": no data folder is known");
        return;
    }
    const std::string locks = JoinPath(ParentOf(data), "locks");
    const std::string lockFolder = JoinPath(locks, FolderKey(folder));
    // Only taken, never written through: whoever made the folder, it serves as it is.
    if (Status made = MakeDirectories(lockFolder); !made) {
        status_ =
            Status::Fail("Cannot lock the save folder in " + lockFolder + ": " + made.reason());
        return;
    }
    // A cipher tool left running by a killed batch touches no save: it does not keep the lock.
    lock_ = std::make_unique<FolderLock>(lockFolder, false);
    if (!lock_->held()) {
        status_ = lock_->busy() ? Status::Fail(kSaveFolderBusy)
                                : Status::Fail("Cannot lock the save folder in " + lockFolder +
                                               ": " + lock_->status().reason());
        lock_.reset();
    }
}

SaveFolderLock::~SaveFolderLock() = default;

BackupWriter::BackupWriter(std::string backupFolder, std::string saveFolder, int value)
    : backupFolder_(std::move(backupFolder)), saveFolder_(std::move(saveFolder)), value_(value) {}

BackupWriter::~BackupWriter() = default;

std::vector<std::string> BackupWriter::keep(const std::vector<SaveToKeep>& saves) {
    std::vector<std::string> reasons(saves.size());
    if (saves.empty()) {
        return reasons;
    }
    if (Status written = writeSet(saves, reasons); !written) {
        removeSet();
        lock_.reset();
        const std::string where =
            backupFolder_.empty() ? std::string("the data folder") : backupFolder_;
        std::fill(reasons.begin(), reasons.end(),
                  "Cannot keep a backup in " + where + ": " + written.reason());
    }
    return reasons;
}

Status BackupWriter::writeSet(const std::vector<SaveToKeep>& saves,
                              std::vector<std::string>& reasons) {
    if (backupFolder_.empty()) {
        return Status::Fail("no folder for backups is known");
    }
    const std::string folder = Resolved(saveFolder_);
    if (folder.empty()) {
        return Status::Fail("the save folder cannot be resolved");
    }
    // Checked before anything is created: a refused folder is not made.
    const std::string root = WithTrailingSeparator(ResolvedAsFarAsItExists(backupFolder_));
    if (PathIsWithin(root, folder)) {
        return Status::Fail("it lies inside the save folder");
    }
    if (Status made = MakeDirectories(backupFolder_); !made) {
        return made;
    }
    if (PathIsWithin(WithTrailingSeparator(ResolvedPath(backupFolder_)), folder)) {
        return Status::Fail("it lies inside the save folder"); // a link made meanwhile
    }
    const std::string sets = SetsFolderOf(backupFolder_, folder);
    if (KindOf(sets) == EntryKind::Missing && !IsSymbolicLink(sets)) {
        if (Status made = MakePrivateDirectory(sets); !made) {
            return made;
        }
    }
    if (std::string notOwn = NotOwn(sets, EntryKind::Directory); !notOwn.empty()) {
        return Status::Fail("the folder " + notOwn + "; it is left alone");
    }
    lock_ = std::make_unique<FolderLock>(sets);
    if (!lock_->held()) {
        return lock_->busy() ? Status::Fail("another conversion or restore is using them")
                             : lock_->status();
    }
    // Sets without a manifest were left by a batch killed before it replaced anything.
    std::vector<std::uint64_t> numbers = SetNumbers(sets);
    for (std::uint64_t number : numbers) {
        const std::string set = JoinPath(sets, SetName(number));
        if (!HasManifest(set)) {
            RemoveSetFolder(set);
        }
    }
    setFolder_ = JoinPath(sets, SetName(numbers.empty() ? 1 : numbers.back() + 1));
    if (KindOf(setFolder_) != EntryKind::Missing) {
        return Status::Fail("the set " + setFolder_ + " is there already");
    }
    if (Status made = MakePrivateDirectory(setFolder_); !made) {
        setFolder_.clear();
        return made;
    }
    if (Status synced = SyncDirectory(sets); !synced) {
        return synced;
    }

    manifest_ = BackupManifest{folder, Now(), value_, {}, false, std::nullopt};
    for (std::size_t i = 0; i < saves.size(); ++i) {
        const SaveToKeep& save = saves[i];
        const std::string original = JoinPath(setFolder_, OriginalFileName(i + 1));
        const std::string savePath = JoinPath(folder, save.name);
        FileIdentity identity;
        std::string content;
        Status copied = CopyFileTo(savePath, original, {&identity, &content, true});
        if (!copied || identity != save.identity) {
            (void)RemoveFile(original);
            // A save the game wrote, removed or holds open meanwhile is left to it; the batch
            // would not replace it either. Only a backup that cannot be written fails the set.
            if (KindOf(savePath) != EntryKind::File || (copied && identity != save.identity) ||
                copied.reason() == "changed while being copied") {
                reasons[i] = "changed on disk during conversion";
                continue;
            }
            if (Status readable = ReadWholeFile(savePath, content); !readable) {
                reasons[i] = "copy failed: " + readable.reason();
                continue;
            }
            return copied;
        }
        manifest_.saves.push_back({i + 1, save.name, Sha256Hex(content), save.resultSha256});
    }
    if (manifest_.saves.empty()) {
        removeSet();
        return Status::Ok();
    }
    if (Status synced = SyncDirectory(setFolder_); !synced) {
        return synced;
    }
    return WriteFileAtomically(JoinPath(setFolder_, kManifestName), ComposeManifest(manifest_));
}

void BackupWriter::removeSet() {
    if (setFolder_.empty()) {
        return;
    }
    // The manifest first: a set without one is known to hold nothing of use.
    (void)RemoveFile(JoinPath(setFolder_, kManifestName));
    RemoveSetFolder(setFolder_);
    setFolder_.clear();
}

Status BackupWriter::finish(const std::vector<bool>& replaced) {
    if (setFolder_.empty()) {
        return Status::Ok();
    }
    BackupManifest done = manifest_;
    done.complete = true;
    done.saves.clear();
    std::vector<std::size_t> dropped;
    for (const BackupManifest::Save& save : manifest_.saves) {
        // Files are numbered after the saves' places in keep().
        if (save.file - 1 < replaced.size() && replaced[save.file - 1]) {
            done.saves.push_back(save);
        } else {
            dropped.push_back(save.file);
        }
    }
    Status finished = Status::Ok();
    if (done.saves.empty()) {
        removeSet();
    } else if (finished =
                   WriteFileAtomically(JoinPath(setFolder_, kManifestName), ComposeManifest(done));
               finished) {
        manifest_ = std::move(done);
        for (std::size_t file : dropped) {
            (void)RemoveFile(JoinPath(setFolder_, OriginalFileName(file)));
        }
        // A set is kept for each of the newest batches, undone or not.
        const std::string sets = ParentOf(setFolder_);
        std::vector<std::uint64_t> numbers = SetNumbers(sets);
        for (std::size_t i = 0; i + kBackupSetsKept < numbers.size(); ++i) {
            RemoveSetFolder(JoinPath(sets, SetName(numbers[i])));
        }
    }
    lock_.reset();
    return finished;
}

std::string BackupNote(const std::string& setFolder, const std::string& saveFolder,
                       FrontEnd reader) {
    return "The originals are kept in " + setFolder + "; to put them back, " +
           (reader == FrontEnd::Window ? "right-click the file list, or press Shift+F10"
                                       : "run ostrapel-cli --restore " + saveFolder);
}

BackupSetListing ListBackupSets(const std::string& backupFolder, const std::string& saveFolder) {
    BackupSetListing listing;
    const std::string folder = Resolved(saveFolder);
    if (backupFolder.empty() || folder.empty()) {
        return listing;
    }
    const std::string sets = SetsFolderOf(backupFolder, folder);
    if (KindOf(sets) == EntryKind::Missing && !IsSymbolicLink(sets)) {
        return listing;
    }
    if (std::string notOwn = NotOwn(sets, EntryKind::Directory); !notOwn.empty()) {
        listing.status = Status::Fail("the folder " + notOwn + "; it is left alone");
        return listing;
    }
    std::vector<std::uint64_t> numbers = SetNumbers(sets, &listing.status);
    for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
        const std::string set = JoinPath(sets, SetName(*it));
        if (Status own = CheckOwnEntry(set, EntryKind::Directory); !own) {
            listing.sets.push_back(
                {set, Status::Fail("it " + own.reason() + "; it is left alone"), {}});
        } else if (HasManifest(set)) {
            listing.sets.push_back(ReadSet(set, folder));
        }
    }
    return listing;
}

const BackupSet* NewestNotUndone(const BackupSetListing& listing) {
    for (const BackupSet& set : listing.sets) {
        if (!set.status || !set.manifest.undone) {
            return &set;
        }
    }
    return nullptr;
}

std::string PassedOverNote(const std::string& setFolder) {
    return "Passed over the backup set " + setFolder +
           ": its conversion was stopped before it changed any save; it is marked undone";
}

std::string NothingToUndo(const std::string& saveFolder) {
    return "No conversion of " + saveFolder + " to undo";
}

RestoreResult RestoreLastConversion(const std::string& backupFolder, const std::string& saveFolder,
                                    RestoreObserver* observer) {
    RestoreResult result;
    auto refuse = [&](const std::string& why) {
        result.status = Status::Fail(why);
        result.report = why;
        return result;
    };
    const std::string folder = Resolved(saveFolder);
    if (folder.empty() || KindOf(folder) != EntryKind::Directory) {
        return refuse("Not a folder: " + saveFolder);
    }
    const std::string sets = SetsFolderOf(backupFolder, folder);
    auto nothing = [&] {
        result.nothingToUndo = true;
        result.report = NothingToUndo(saveFolder);
        return result;
    };
    if (backupFolder.empty() || (KindOf(sets) == EntryKind::Missing && !IsSymbolicLink(sets))) {
        return nothing();
    }
    if (std::string notOwn = NotOwn(sets, EntryKind::Directory); !notOwn.empty()) {
        return refuse("Cannot use the backups in " + sets + ": the folder " + notOwn +
                      "; it is left alone. Nothing was restored");
    }
    // No batch or restore of another copy of the program works on the save folder meanwhile.
    SaveFolderLock saveLock(folder);
    if (!saveLock.status()) {
        return refuse(saveLock.status().reason());
    }
    // Kept for the whole restore: no batch keeps or prunes sets meanwhile.
    FolderLock lock(sets);
    if (!lock.held()) {
        return refuse(lock.busy()
                          ? "Another conversion or restore is using the backups of " + saveFolder
                          : "Cannot use the backups in " + sets + ": " + lock.status().reason());
    }
    BackupSetListing listing = ListBackupSets(backupFolder, folder);
    if (!listing.status) {
        return refuse("Cannot read the backups in " + sets + ": " + listing.status.reason());
    }
    // A set whose batch was stopped before it replaced any save undoes nothing: it is marked
    // undone and the restore goes on to the newest set that changed something.
    const BackupSet* found = nullptr;
    for (const BackupSet& set : listing.sets) {
        if (set.status && set.manifest.undone) {
            continue;
        }
        if (!set.status || set.manifest.complete || !NothingReplaced(set, folder)) {
            found = &set;
            break;
        }
        if (Status marked = MarkUndone(set); !marked) {
            return refuse("Cannot mark the backup set " + set.folder +
                          " undone: " + marked.reason() + ". Nothing was restored");
        }
        result.passedOver.push_back(PassedOverNote(set.folder));
    }
    auto withNote = [&result](std::string report) {
        for (auto note = result.passedOver.rbegin(); note != result.passedOver.rend(); ++note) {
            report = *note + "\n\n" + report;
        }
        return report;
    };
    if (found == nullptr) {
        nothing();
        result.report = withNote(result.report);
        return result;
    }
    const BackupSet& set = *found;
    result.setFolder = set.folder;
    Status usable = set.status ? CheckOriginals(set) : set.status;
    if (!usable) {
        return refuse("The backup set " + set.folder + " cannot be used: " + usable.reason() +
                      ". Nothing was restored");
    }

    bool settled = true; // every save restored or known to be written since
    bool replacedAny = false;
    for (std::size_t i = 0; i < set.manifest.saves.size(); ++i) {
        const BackupManifest::Save& save = set.manifest.saves[i];
        const std::string path = JoinPath(folder, save.name);
        const std::string original = JoinPath(set.folder, OriginalFileName(save.file));
        RestoreOutcome outcome{save.name, false, {}, {}};
        std::string content;
        FileIdentity identity;
        if (KindOf(path) == EntryKind::Missing) {
            outcome.reason = "removed since the conversion";
            outcome.original = original;
        } else if (Status read = ReadSteadily(path, content, identity); !read) {
            outcome.reason = "cannot be read: " + read.reason();
            settled = false;
        } else if (const std::string hash = Sha256Hex(content); hash == save.originalSha256) {
            outcome.restored = true;
        } else if (hash != save.writtenSha256) {
            outcome.reason = "changed since the conversion";
            outcome.original = original;
        } else {
            ReplaceResult replaced = ReplaceFileAtomically(original, path, identity);
            switch (replaced.outcome) {
            case ReplaceOutcome::Replaced:
                outcome.restored = true;
                replacedAny = true;
                break;
            case ReplaceOutcome::TargetChanged:
                outcome.reason = "changed since the conversion";
                outcome.original = original;
                break;
            case ReplaceOutcome::OwnerNotKept:
            case ReplaceOutcome::Failed:
                outcome.reason = "could not be put back: " + replaced.status.reason();
                settled = false;
                break;
            }
        }
        result.restoredCount += outcome.restored ? 1 : 0;
        result.files.push_back(std::move(outcome));
        if (observer != nullptr) {
            observer->fileRestored(i, result.files.back());
        }
    }
    if (replacedAny) {
        (void)SyncDirectory(folder);
    }
    result.report = withNote(ComposeRestoreReport(result.files));
    if (settled) {
        if (Status marked = MarkUndone(set); !marked) {
            // Unmarked, the next restore would undo this batch again instead of the one before.
            result.notMarked =
                "Cannot mark the backup set " + set.folder + " undone: " + marked.reason();
            result.report += "\n\n" + result.notMarked;
        }
    }
    return result;
}

std::string RestoreOutcome::fullReason() const {
    return original.empty() ? reason : reason + "; its original is kept at " + original;
}

std::string NotRestoredLines(const std::vector<RestoreOutcome>& files) {
    std::string lines;
    for (const RestoreOutcome& file : files) {
        if (!file.restored) {
            lines += (lines.empty() ? "" : "\n") + file.name + ": " + file.fullReason();
        }
    }
    return lines;
}

std::string ComposeRestoreReport(const std::vector<RestoreOutcome>& files) {
    const auto restored = std::count_if(files.begin(), files.end(),
                                        [](const RestoreOutcome& file) { return file.restored; });
    std::string report =
        "Restored " + std::to_string(restored) + (restored == 1 ? " file" : " files");
    if (std::string notRestored = NotRestoredLines(files); !notRestored.empty()) {
        report += "\n\nNot restored:\n" + notRestored;
    }
    return report;
}

std::string DescribeBackupSet(const BackupSet& set) {
    if (!set.status) {
        return set.folder + ": cannot be used: " + set.status.reason();
    }
    const BackupManifest& manifest = set.manifest;
    std::string line = LocalTimeText(manifest.time) + ", " + std::to_string(manifest.saves.size()) +
                       " saves, " + DescribeValue(manifest.value) + ", " +
                       (manifest.undone ? "undone" : "not undone");
    if (!manifest.complete) {
        line += " (the conversion was interrupted)";
    }
    return line;
}

} // namespace ostrapel
