#include "conversion/BackupSets.h"
#include "conversion/Backups.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <algorithm>

namespace ostrapel {

using namespace backups;

namespace {

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

} // namespace

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
    // No batch or restore of another copy of the program works on the save folder meanwhile. Taken
    // first: a batch that has not kept its originals yet is at work, not absent.
    SaveFolderLock saveLock(folder);
    if (!saveLock.status()) {
        return refuse(saveLock.status().reason());
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
            report = note->English() + "\n\n" + report;
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
            result.report += "\n\n" + result.notMarked.English();
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

std::string NotRestoredLines(const std::vector<RestoreOutcome>& files) {
    std::string lines;
    for (const RestoreOutcome& file : files) {
        if (!file.restored) {
            lines += (lines.empty() ? "" : "\n") + file.name + ": " + file.fullReason().English();
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

} // namespace ostrapel
