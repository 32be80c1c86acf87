#pragma once

#include "conversion/BackupManifest.h"
#include "system/FileSystem.h"
#include "system/Status.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ostrapel {

// The environment variable that, when set and not empty, names the backup folder.
inline constexpr const char* kBackupFolderVariable = "OSTRAPEL_BACKUP_DIR";
// A folder of this name beside the program holds the backups instead, when it exists
// (a portable installation).
inline constexpr const char* kPortableBackupFolder = "Backups";
// Sets kept per save folder; older ones are removed after a batch.
inline constexpr std::size_t kBackupSetsKept = 20;

// Where backup sets go: $OSTRAPEL_BACKUP_DIR when set; else the Backups folder beside the
// program when there is one; else the user's data folder (DefaultBackupFolder). Empty when
// none can be told.
std::string BackupFolderFor(const std::string& appDir);

// Said when another batch or restore, of this copy of the program or another, works on the
// save folder.
inline constexpr const char* kSaveFolderBusy =
    N_("Another conversion is working on this save folder");

// A lock on one save folder, held by a batch and a restore for their whole run, so that two
// copies of the program (each with a work and a backup folder of its own) never work on one
// save folder at once. Keyed by the folder's resolved path and kept in the user's data folder
// (beside the default backup folder), where every copy finds it; the save folder itself may be
// synced or read-only.
class SaveFolderLock {
public:
    explicit SaveFolderLock(const std::string& saveFolder);
    ~SaveFolderLock();
    SaveFolderLock(const SaveFolderLock&) = delete;
    SaveFolderLock& operator=(const SaveFolderLock&) = delete;

    // Ok when held; kSaveFolderBusy, or why the lock could not be taken.
    const Status& status() const { return status_; }

private:
    std::unique_ptr<FolderLock> lock_;
    Status status_ = Status::Ok();
};

// One save about to be replaced by a batch.
struct SaveToKeep {
    std::string name;                   // entry name in the save folder
    std::string resultSha256;           // of what is to replace it, as hex digits
    FileIdentity identity;              // the save as the batch read it
    Sha256Digest original{};            // the SHA-256 of the save as the batch read it
    std::optional<std::int16_t> before; // the value it holds
};

// The originals of one batch's saves, kept before any of them is replaced. Inside the backup
// folder each save folder has a folder of its own (named by a hash of its resolved path),
// holding one numbered set per batch: the originals and a manifest (BackupManifest). Holds
// the save folder's backups locked from keep() until finish() or its end.
class BackupWriter {
public:
    BackupWriter(std::string backupFolder, std::string saveFolder, int value);
    ~BackupWriter();
    BackupWriter(const BackupWriter&) = delete;
    BackupWriter& operator=(const BackupWriter&) = delete;

    // Copies the originals into a new set, flushes them, then writes the manifest with the
    // SHA-256 of each original (of the bytes copied) and of its result. One reason per save, empty
    // when it was kept: a save that changed since the batch read it is not kept and must not be
    // replaced; when the set cannot be written, each reason is "Cannot keep a backup in PATH:
    // REASON" and nothing of the set is left.
    std::vector<Phrase> keep(const std::vector<SaveToKeep>& saves);

    // After the replacements, which of the saves given to keep() (in the same order) were
    // replaced: the set then records just those, and goes when none was. Older sets beyond
    // kBackupSetsKept are removed. Fails when the manifest could not be rewritten; the set
    // then keeps its first manifest, which --restore can use.
    Status finish(const std::vector<bool>& replaced);

    // The set's folder while it holds originals; empty otherwise.
    const std::string& setFolder() const { return setFolder_; }

private:
    Status writeSet(const std::vector<SaveToKeep>& saves, std::vector<Phrase>& reasons);
    void removeSet();

    std::string backupFolder_;
    std::string saveFolder_;
    int value_;
    std::unique_ptr<FolderLock> lock_;
    std::string setFolder_;
    BackupManifest manifest_;
};

struct BackupSet {
    std::string folder;           // the set's folder
    Status status = Status::Ok(); // why it cannot be used, when it cannot
    BackupManifest manifest;      // when it can
};

struct BackupSetListing {
    Status status = Status::Ok(); // the backups could not be read
    std::vector<BackupSet> sets;  // newest first
};

// The sets kept for a save folder, newest first; a set whose manifest cannot be read is
// listed with the reason, and so is one that is a symbolic link or another user's, which is
// never read. The folder of the save folder's sets must be this user's own, not a link.
BackupSetListing ListBackupSets(const std::string& backupFolder, const std::string& saveFolder);

// The newest set of the listing not undone yet (one that cannot be read counts as such);
// null when there is none.
const BackupSet* NewestNotUndone(const BackupSetListing& listing);

struct RestoreOutcome {
    std::string name;
    bool restored = false;
    // Why not, when not restored: "changed since the conversion"; when restored, how, where that
    // is worth saying.
    Phrase reason;
    std::string original;               // where its original is kept, when the report names it
    std::optional<std::int16_t> before; // the value its original holds, when recorded

    // The reason with where the original is kept: "changed since the conversion; its original
    // is kept at PATH".
    Phrase fullReason() const;
};

struct RestoreResult {
    Status status = Status::Ok(); // refused before any save was touched
    bool nothingToUndo = false;
    std::string saveFolder; // as requested
    std::string setFolder;
    std::vector<RestoreOutcome> files;
    std::size_t restoredCount = 0;
    Phrase notMarked;               // why the set could not be marked undone, when it could not
    std::vector<Phrase> passedOver; // PassedOverNote of each set passed over
    // "as they were before TIME" when the set restored was chosen by its time; empty otherwise.
    Phrase restoredTo;

    bool allRestored() const {
        return status.ok() && !nothingToUndo && notMarked.empty() && restoredCount == files.size();
    }
};

class RestoreObserver {
public:
    virtual ~RestoreObserver() = default;
    virtual void fileRestored(std::size_t index, const RestoreOutcome& outcome) {
        (void)index;
        (void)outcome;
    }
};

// Undoes the newest batch on the save folder not undone yet, holding the SaveFolderLock. The
// set is checked first (this user's own and no link, as are its manifest and originals; every
// original there and matching its SHA-256); a set that fails is refused and nothing is touched.
// A newer set whose batch was stopped before it replaced any save (not complete, every save still
// its original) is marked undone and passed over, with its note before the report. Then per save:
// one holding what the batch wrote gets its original back by atomic replacement; one holding the
// original counts as restored; any other was written since and is left alone. The set is marked
// undone unless a save could not be put back for another reason (so that a second try can).
RestoreResult RestoreLastConversion(const std::string& backupFolder, const std::string& saveFolder,
                                    RestoreObserver* observer = nullptr);

// What restoring the saves back to one set would do, walking back from the newest set not undone
// as successive restores do: by name, the saves that would get an original back and those left
// because they were written (or removed) since. Reads each save once; nothing is changed.
struct RestorePlan {
    std::vector<std::string> restored;
    std::vector<std::string> writtenSince;
    std::size_t newerSets = 0; // sets not undone newer than the one chosen, undone first
};
RestorePlan PlanRestoreBackTo(const BackupSetListing& listing, const std::string& setFolder,
                              const std::string& saveFolder);

// Undoes the batches on the save folder back to and including setFolder's, newest first, each as
// RestoreLastConversion does. The result is the last restore's, with the outcomes of every save
// any of them touched (the oldest restore's word on each), every note passed over, and restoredTo
// naming the time of the last set restored. It stops at a restore that was refused or left its set
// not undone; why is then in notMarked. A set already undone gives nothing to undo.
RestoreResult RestoreBackTo(const std::string& backupFolder, const std::string& saveFolder,
                            const std::string& setFolder, RestoreObserver* observer = nullptr);

// "Passed over the backup set SET: its conversion was stopped before it changed any save; it is
// marked undone"
Phrase PassedOverNote(const std::string& setFolder);

// "No conversion of FOLDER to undo"
Phrase NothingToUndo(const std::string& saveFolder);

} // namespace ostrapel
