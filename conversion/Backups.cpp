#include "conversion/Backups.h"

#include "conversion/BackupSets.h"
#include "conversion/DlcVersion.h"
#include "system/Paths.h"
#include "system/Sha256.h"
#include "system/UserFolders.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace ostrapel {

using namespace backups;

namespace {

BackupSet ReadSet(const std::string& set, const std::string& resolvedFolder) {
    BackupSet read{set, Status::Ok(), {}};
    const std::string path = JoinPath(set, kManifestName);
    if (Status own = CheckOwnEntry(path, EntryKind::File); !own) {
        read.status = Status::Fail(NotOwnManifest(own));
        return read;
    }
    auto size = SizeOf(path);
    std::string text;
    if (size && static_cast<std::uint64_t>(*size) > kManifestMaxBytes) {
        read.status = Status::Fail(N_("its manifest is damaged: too large"));
        return read;
    }
    if (Status loaded = ReadWholeFile(path, text); !loaded) {
        read.status = Status::Fail(
            Phrase(N_("its manifest cannot be read: {reason}")).With("reason", loaded.phrase()));
        return read;
    }
    ManifestReading parsed = ParseManifest(text);
    if (!parsed.status) {
        read.status = Status::Fail(
            Phrase(N_("its manifest is damaged: {reason}")).With("reason", parsed.status.phrase()));
        return read;
    }
    if (!SamePathText(parsed.manifest.folder, resolvedFolder)) {
        read.status = Status::Fail(Phrase(N_("it was made for another folder: {path}"))
                                       .With("path", parsed.manifest.folder));
        return read;
    }
    read.manifest = std::move(parsed.manifest);
    return read;
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
            Status::Fail(Phrase(N_("Cannot lock the save folder {path}: no data folder is known"))
                             .With("path", saveFolder));
        return;
    }
    const std::string locks = JoinPath(ParentOf(data), "locks");
    const std::string lockFolder = JoinPath(locks, FolderKey(folder));
    // Only taken, never written through: whoever made the folder, it serves as it is.
    if (Status made = MakeDirectories(lockFolder); !made) {
        status_ = Status::Fail(Phrase(N_("Cannot lock the save folder in {path}: {reason}"))
                                   .With("path", lockFolder)
                                   .With("reason", made.phrase()));
        return;
    }
    // A cipher tool left running by a killed batch touches no save: it does not keep the lock.
    lock_ = std::make_unique<FolderLock>(lockFolder, false);
    if (!lock_->held()) {
        status_ = lock_->busy()
                      ? Status::Fail(kSaveFolderBusy)
                      : Status::Fail(Phrase(N_("Cannot lock the save folder in {path}: {reason}"))
                                         .With("path", lockFolder)
                                         .With("reason", lock_->status().phrase()));
        lock_.reset();
    }
}

SaveFolderLock::~SaveFolderLock() = default;

BackupWriter::BackupWriter(std::string backupFolder, std::string saveFolder, int value)
    : backupFolder_(std::move(backupFolder)), saveFolder_(std::move(saveFolder)), value_(value) {}

BackupWriter::~BackupWriter() = default;

std::vector<Phrase> BackupWriter::keep(const std::vector<SaveToKeep>& saves) {
    std::vector<Phrase> reasons(saves.size());
    if (saves.empty()) {
        return reasons;
    }
    if (Status written = writeSet(saves, reasons); !written) {
        removeSet();
        lock_.reset();
        const Phrase why = backupFolder_.empty()
                               ? Phrase(N_("Cannot keep a backup in the data folder: {reason}"))
                                     .With("reason", written.phrase())
                               : Phrase(N_("Cannot keep a backup in {path}: {reason}"))
                                     .With("path", backupFolder_)
                                     .With("reason", written.phrase());
        std::fill(reasons.begin(), reasons.end(), why);
    }
    return reasons;
}

Status BackupWriter::writeSet(const std::vector<SaveToKeep>& saves, std::vector<Phrase>& reasons) {
    if (backupFolder_.empty()) {
        return Status::Fail(N_("no folder for backups is known"));
    }
    const std::string folder = Resolved(saveFolder_);
    if (folder.empty()) {
        return Status::Fail(N_("the save folder cannot be resolved"));
    }
    // Checked before anything is created: a refused folder is not made.
    const std::string root = WithTrailingSeparator(ResolvedAsFarAsItExists(backupFolder_));
    if (PathIsWithin(root, folder)) {
        return Status::Fail(N_("it lies inside the save folder"));
    }
    if (Status made = MakeDirectories(backupFolder_); !made) {
        return made;
    }
    if (PathIsWithin(WithTrailingSeparator(ResolvedPath(backupFolder_)), folder)) {
        return Status::Fail(N_("it lies inside the save folder")); // a link made meanwhile
    }
    const std::string sets = SetsFolderOf(backupFolder_, folder);
    if (KindOf(sets) == EntryKind::Missing && !IsSymbolicLink(sets)) {
        if (Status made = MakePrivateDirectory(sets); !made) {
            return made;
        }
    }
    if (Status own = CheckOwnEntry(sets, EntryKind::Directory); !own) {
        return Status::Fail(NotOwnFolder(sets, own));
    }
    lock_ = std::make_unique<FolderLock>(sets);
    if (!lock_->held()) {
        return lock_->busy() ? Status::Fail(N_("another conversion or restore is using them"))
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
        return Status::Fail(Phrase(N_("the set {path} is there already")).With("path", setFolder_));
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
        // By its bytes too: a rewrite may leave size and last-write time as they were.
        const bool same = copied && identity == save.identity && Sha256Of(content) == save.original;
        if (!same) {
            (void)RemoveFile(original);
            // A save the game wrote, removed or holds open meanwhile is left to it; the batch
            // would not replace it either. Only a backup that cannot be written fails the set.
            if (KindOf(savePath) != EntryKind::File || copied ||
                copied.reason() == "changed while being copied") {
                reasons[i] = N_("changed on disk during conversion");
                continue;
            }
            if (Status readable = ReadWholeFile(savePath, content); !readable) {
                reasons[i] = Phrase(N_("copy failed: {reason}")).With("reason", readable.phrase());
                continue;
            }
            return copied;
        }
        manifest_.saves.push_back(
            {i + 1, save.name, Sha256Hex(content), save.resultSha256, save.before});
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
    if (Status own = CheckOwnEntry(sets, EntryKind::Directory); !own) {
        listing.status = Status::Fail(NotOwnFolder(sets, own));
        return listing;
    }
    std::vector<std::uint64_t> numbers = SetNumbers(sets, &listing.status);
    for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
        const std::string set = JoinPath(sets, SetName(*it));
        if (Status own = CheckOwnEntry(set, EntryKind::Directory); !own) {
            listing.sets.push_back({set, Status::Fail(NotOwnSet(own)), {}});
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

} // namespace ostrapel
