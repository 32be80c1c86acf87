#include "conversion/BackupSets.h"
#include "conversion/Backups.h"
#include "system/MoveFolder.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <algorithm>
#include <utility>

namespace ostrapel {

using namespace backups;

namespace {

// Why a save's original in a set is not used, a whole sentence a cause.
Phrase NotOwnOriginal(const std::string& name, const std::string& file, const Status& own) {
    Phrase why;
    switch (CauseOf(own)) {
    case NotOwnCause::Link:
        why = N_("the original of {name} ({file}) is a symbolic link");
        break;
    case NotOwnCause::WrongKind:
        why = N_("the original of {name} ({file}) is not a regular file");
        break;
    case NotOwnCause::OtherUser:
        why = N_("the original of {name} ({file}) belongs to another user");
        break;
    case NotOwnCause::Unchecked:
        why = Phrase(N_("the original of {name} ({file}) cannot be checked: {reason}"))
                  .With("reason", own.phrase());
        break;
    }
    return std::move(why).With("name", name).With("file", file);
}

// Every original present and matching its recorded SHA-256.
Status CheckOriginals(const BackupSet& set) {
    for (const BackupManifest::Save& save : set.manifest.saves) {
        const std::string file = OriginalFileName(save.file);
        const std::string path = JoinPath(set.folder, file);
        if (KindOf(path) == EntryKind::Missing && !IsSymbolicLink(path)) {
            return Status::Fail(Phrase(N_("the original of {name} ({file}) is missing"))
                                    .With("name", save.name)
                                    .With("file", file));
        }
        if (Status own = CheckOwnEntry(path, EntryKind::File); !own) {
            return Status::Fail(NotOwnOriginal(save.name, file, own));
        }
        std::string content;
        if (Status read = ReadWholeFile(path, content); !read) {
            return Status::Fail(
                Phrase(N_("the original of {name} ({file}) cannot be read: {reason}"))
                    .With("name", save.name)
                    .With("file", file)
                    .With("reason", read.phrase()));
        }
        if (Sha256Hex(content) != save.originalSha256) {
            return Status::Fail(
                Phrase(N_("the original of {name} ({file}) does not match its recorded SHA-256"))
                    .With("name", save.name)
                    .With("file", file));
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

// A replacement cut short where the rename is not atomic (FAT, exFAT) leaves the save gone and
// its hidden temporary beside it, holding the save as converted or, from a restore, its original:
// such a temporary is put back in the save's place, so the save is restored as usual. Whether one
// was.
bool ReturnKeptTemporary(const std::string& folder, const BackupManifest::Save& save) {
    for (const DirectoryEntry& entry : ListDirectory(folder).entries) {
        if (entry.kind != EntryKind::File || !IsTemporaryName(entry.name) ||
            SaveOfTemporary(entry.name) != save.name) {
            continue;
        }
        const std::string temporary = JoinPath(folder, entry.name);
        std::string content;
        if (!ReadWholeFile(temporary, content)) {
            continue;
        }
        const std::string hash = Sha256Hex(content);
        // Never over a save that came back meanwhile: the move refuses an existing name.
        if ((hash == save.writtenSha256 || hash == save.originalSha256) &&
            MoveFolder(temporary, JoinPath(folder, save.name))) {
            return true;
        }
    }
    return false;
}

} // namespace

Phrase PassedOverNote(const std::string& setFolder) {
    return Phrase(N_("Passed over the backup set {path}: its conversion was stopped before it "
                     "changed any save; it is marked undone"))
        .With("path", setFolder);
}

Phrase NothingToUndo(const std::string& saveFolder) {
    return Phrase(N_("No conversion of {path} to undo")).With("path", saveFolder);
}

RestoreResult RestoreLastConversion(const std::string& backupFolder, const std::string& saveFolder,
                                    RestoreObserver* observer) {
    RestoreResult result;
    result.saveFolder = saveFolder;
    auto refuse = [&](Phrase why) {
        result.status = Status::Fail(std::move(why));
        return result;
    };
    const std::string folder = Resolved(saveFolder);
    if (folder.empty() || KindOf(folder) != EntryKind::Directory) {
        return refuse(Phrase(N_("Not a folder: {path}")).With("path", saveFolder));
    }
    // No batch or restore of another copy of the program works on the save folder meanwhile. Taken
    // first: a batch that has not kept its originals yet is at work, not absent.
    SaveFolderLock saveLock(folder);
    if (!saveLock.status()) {
        return refuse(saveLock.status().phrase());
    }
    const std::string sets = SetsFolderOf(backupFolder, folder);
    auto nothing = [&] {
        result.nothingToUndo = true;
        return result;
    };
    if (backupFolder.empty() || (KindOf(sets) == EntryKind::Missing && !IsSymbolicLink(sets))) {
        return nothing();
    }
    if (Status own = CheckOwnEntry(sets, EntryKind::Directory); !own) {
        return refuse(Phrase(N_("Cannot use the backups in {path}: {reason}. Nothing was restored"))
                          .With("path", sets)
                          .With("reason", NotOwnFolder(sets, own)));
    }
    // Kept for the whole restore: no batch keeps or prunes sets meanwhile.
    FolderLock lock(sets);
    if (!lock.held()) {
        return refuse(
            lock.busy() ? Phrase(N_("Another conversion or restore is using the backups of {path}"))
                              .With("path", saveFolder)
                        : Phrase(N_("Cannot use the backups in {path}: {reason}"))
                              .With("path", sets)
                              .With("reason", lock.status().phrase()));
    }
    BackupSetListing listing = ListBackupSets(backupFolder, folder);
    if (!listing.status) {
        return refuse(Phrase(N_("Cannot read the backups in {path}: {reason}"))
                          .With("path", sets)
                          .With("reason", listing.status.phrase()));
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
            return refuse(
                Phrase(N_("Cannot mark the backup set {path} undone: {reason}. Nothing was "
                          "restored"))
                    .With("path", set.folder)
                    .With("reason", marked.phrase()));
        }
        result.passedOver.push_back(PassedOverNote(set.folder));
    }
    if (found == nullptr) {
        return nothing();
    }
    const BackupSet& set = *found;
    result.setFolder = set.folder;
    Status usable = set.status ? CheckOriginals(set) : set.status;
    if (!usable) {
        return refuse(
            Phrase(N_("The backup set {path} cannot be used: {reason}. Nothing was restored"))
                .With("path", set.folder)
                .With("reason", usable.phrase()));
    }

    bool settled = true; // every save restored or known to be written since
    bool replacedAny = false;
    for (std::size_t i = 0; i < set.manifest.saves.size(); ++i) {
        const BackupManifest::Save& save = set.manifest.saves[i];
        const std::string path = JoinPath(folder, save.name);
        const std::string original = JoinPath(set.folder, OriginalFileName(save.file));
        RestoreOutcome outcome{save.name, false, {}, {}, save.before};
        std::string content;
        FileIdentity identity;
        const bool returned =
            KindOf(path) == EntryKind::Missing && ReturnKeptTemporary(folder, save);
        if (KindOf(path) == EntryKind::Missing) {
            outcome.reason = N_("removed since the conversion");
            outcome.original = original;
        } else if (Status read = ReadSteadily(path, content, identity); !read) {
            outcome.reason = Phrase(N_("cannot be read: {reason}")).With("reason", read.phrase());
            settled = false;
        } else if (const std::string hash = Sha256Hex(content); hash == save.originalSha256) {
            outcome.restored = true;
        } else if (hash != save.writtenSha256) {
            outcome.reason = N_("changed since the conversion");
            outcome.original = original;
        } else {
            ReplaceResult replaced = ReplaceFileAtomically(original, path, identity);
            switch (replaced.outcome) {
            case ReplaceOutcome::Replaced:
                outcome.restored = true;
                replacedAny = true;
                break;
            case ReplaceOutcome::TargetChanged:
                outcome.reason = N_("changed since the conversion");
                outcome.original = original;
                break;
            case ReplaceOutcome::OwnerNotKept:
            case ReplaceOutcome::Failed:
                outcome.reason = Phrase(N_("could not be put back: {reason}"))
                                     .With("reason", replaced.status.phrase());
                settled = false;
                break;
            }
        }
        if (returned && outcome.restored) {
            outcome.reason = N_("restored from its backup; the conversion had been cut short and "
                                "left only a hidden temporary of it, now removed");
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
    if (settled) {
        if (Status marked = MarkUndone(set); !marked) {
            // Unmarked, the next restore would undo this batch again instead of the one before.
            result.notMarked = Phrase(N_("Cannot mark the backup set {path} undone: {reason}"))
                                   .With("path", set.folder)
                                   .With("reason", marked.phrase());
        }
    }
    return result;
}

Phrase RestoreOutcome::fullReason() const {
    if (original.empty()) {
        return reason;
    }
    return Phrase(N_("{reason}; its original is kept at {path}"))
        .With("reason", reason)
        .With("path", original);
}

} // namespace ostrapel
