#include "conversion/Backups.h"
#include "system/Paths.h"
#include "system/Sha256.h"
#include "system/UserFolders.h"

#include <map>
#include <optional>

namespace ostrapel {

namespace {

// The sets not undone from the newest to setFolder's, or none when it is not one of them.
std::vector<const BackupSet*> SetsBackTo(const BackupSetListing& listing,
                                         const std::string& setFolder) {
    std::vector<const BackupSet*> sets;
    for (const BackupSet& set : listing.sets) {
        if (set.status && set.manifest.undone) {
            continue;
        }
        sets.push_back(&set);
        if (set.folder == setFolder) {
            return sets;
        }
    }
    return {};
}

bool IsUndone(const std::string& backupFolder, const std::string& saveFolder,
              const std::string& setFolder) {
    for (const BackupSet& set : ListBackupSets(backupFolder, saveFolder).sets) {
        if (set.folder == setFolder) {
            return set.status && set.manifest.undone.has_value();
        }
    }
    return false;
}

// Why a restore stopped the walk back: its refusal, or that it found nothing to undo.
Phrase StoppedBy(const RestoreResult& step, const std::string& saveFolder) {
    return step.status ? NothingToUndo(saveFolder) : step.status.phrase();
}

} // namespace

RestorePlan PlanRestoreBackTo(const BackupSetListing& listing, const std::string& setFolder,
                              const std::string& saveFolder) {
    RestorePlan plan;
    const std::vector<const BackupSet*> sets = SetsBackTo(listing, setFolder);
    if (sets.empty()) {
        return plan;
    }
    plan.newerSets = sets.size() - 1;
    // Each save's content as it would be after the newer restores: its digest, or none when it
    // is missing or cannot be read.
    std::map<std::string, std::optional<std::string>> now;
    std::map<std::string, bool> restored; // the last restore's word, by name
    std::vector<std::string> order;
    for (const BackupSet* set : sets) {
        for (const BackupManifest::Save& save : set->manifest.saves) {
            auto [at, added] = now.try_emplace(save.name);
            if (added) {
                order.push_back(save.name);
                std::string content;
                if (ReadWholeFile(JoinPath(saveFolder, save.name), content)) {
                    at->second = Sha256Hex(content);
                }
            }
            if (at->second == save.writtenSha256) {
                at->second = save.originalSha256;
                restored[save.name] = true;
            } else {
                restored[save.name] = at->second == save.originalSha256;
            }
        }
    }
    for (const std::string& name : order) {
        (restored[name] ? plan.restored : plan.writtenSince).push_back(name);
    }
    return plan;
}

RestoreResult RestoreBackTo(const std::string& backupFolder, const std::string& saveFolder,
                            const std::string& setFolder, RestoreObserver* observer) {
    RestoreResult merged;
    merged.saveFolder = saveFolder;
    if (SetsBackTo(ListBackupSets(backupFolder, saveFolder), setFolder).empty()) {
        // Undone meanwhile, or gone: nothing older is undone in its place.
        merged.nothingToUndo = true;
        return merged;
    }
    std::map<std::string, std::size_t> fileOf;
    bool first = true;
    while (true) {
        RestoreResult step = RestoreLastConversion(backupFolder, saveFolder, observer);
        if (first && (!step.status || step.nothingToUndo)) {
            return step;
        }
        merged.passedOver.insert(merged.passedOver.end(), step.passedOver.begin(),
                                 step.passedOver.end());
        if (!step.status || step.nothingToUndo) {
            // Newer sets were undone; this one stopped the walk.
            merged.notMarked = Phrase(N_("Stopped before the conversion chosen: {reason}"))
                                   .With("reason", StoppedBy(step, saveFolder));
            break;
        }
        first = false;
        merged.setFolder = step.setFolder;
        for (RestoreOutcome& file : step.files) {
            auto [at, added] = fileOf.try_emplace(file.name, merged.files.size());
            if (added) {
                merged.files.push_back(std::move(file));
            } else {
                merged.files[at->second] = std::move(file);
            }
        }
        if (!step.notMarked.empty()) {
            merged.notMarked = step.notMarked;
            break;
        }
        // Sets are numbered, their folders named by number with as many digits each.
        if (step.setFolder <= setFolder || IsUndone(backupFolder, saveFolder, setFolder)) {
            break;
        }
        if (!IsUndone(backupFolder, saveFolder, step.setFolder)) {
            merged.notMarked =
                Phrase(N_("Stopped before the conversion chosen: the backup set {path} is not "
                          "undone, a save of it could not be put back"))
                    .With("path", step.setFolder);
            break;
        }
    }
    for (const RestoreOutcome& file : merged.files) {
        merged.restoredCount += file.restored ? 1 : 0;
    }
    for (const BackupSet& set : ListBackupSets(backupFolder, saveFolder).sets) {
        if (set.folder == merged.setFolder && set.status) {
            merged.restoredTo = Phrase(N_("as they were before {time}"))
                                    .With("time", LocalTimeText(set.manifest.time));
        }
    }
    return merged;
}

} // namespace ostrapel
