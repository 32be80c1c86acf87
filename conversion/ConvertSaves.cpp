#include "conversion/ConvertSaves.h"

#include "conversion/Backups.h"
#include "conversion/DecipheredSaves.h"
#include "conversion/DlcVersion.h"
#include "conversion/JobPlaces.h"
#include "conversion/Report.h"
#include "system/Cancel.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Sha256.h"
#include "system/Wine.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <system_error>
#include <thread>

namespace ostrapel {

namespace {

constexpr const char* kSideFileSuffix = ".backup";

// The cipher tool runs where it is: one run at a time.
constexpr std::size_t kAlone = static_cast<std::size_t>(-1);

// Per entry only what the passes hand on; paths are built when needed, so a large folder
// costs little more than its names.
struct FileState {
    FileIdentity identity;
    Sha256Digest original{};  // the save as copied in
    Sha256Digest plain{};     // the save deciphered, when deciphered is set
    bool deciphered = false;  // deciphered in the pass under way
    bool heldBack = false;    // held the value already: finished once no twin needs it again
    std::size_t job = kAlone; // whose place the cipher tool runs in: a job's, or its own
    Sha256Digest patched{};   // the patched save the enciphered result must decipher back to
    Sha256Digest result{};    // the enciphered result, which is to replace the save
    bool alive = true;
    bool ranTool = false; // the cipher tool has run for it in the step under way
    bool retry = false;   // failed beside other tool runs: to be tried once more alone
};

class Batch {
public:
    // readOnly: only read every save's field, in one pass, and change nothing.
    Batch(const BatchRequest& request, Scn_Process& runner, BatchObserver* observer,
          bool readOnly = false)
        : request_(request), runner_(runner), observer_(observer), readOnly_(readOnly) {}

    BatchResult run();

private:
    // Refuses entries whose names cannot safely stand for one save in both folders.
    void refuseUnsafeNames();
    // Settles the entries that are the same file as another entry, which alone is converted.
    void settleSameFiles();
    std::string savePath(std::size_t index) const {
        return JoinPath(request_.saveFolder, request_.names[index]);
    }
    std::string workCopy(std::size_t index) const {
        return JoinPath(workFolder_, request_.names[index]);
    }
    std::string scratchCopy(std::size_t index) const {
        return JoinPath(JoinPath(workFolder_, kScratchFolder), request_.names[index]);
    }
    // Entries whose saves differ yet decipher to the same bytes, among themselves or with the
    // kept deciphered saves, are deciphered again, alone, by again; then every entry held back
    // is finished.
    template <typename Step> void recheckTwins(Step again);
    // Copies the save in, deciphers the copy and reads it back; empty when the entry failed.
    std::optional<std::string> copyInAndDecipher(std::size_t index);
    void decipherAndPatch(std::size_t index);
    void decipherAndRead(std::size_t index);
    void encipherAndCheck(std::size_t index);
    // Tries an entry whose encipher step failed from the start: its work copy is gone.
    void decipherAndEncipher(std::size_t index);
    void copyBack(std::size_t index);
    // Keeps the originals of the saves about to be replaced; those it cannot keep fail.
    void keepOriginals(BackupWriter& backup);
    // Tells the set which saves were replaced.
    void finishBackup(BackupWriter& backup);
    // The deciphered save's field, kept in the outcome; empty when the entry failed.
    std::optional<std::int16_t> readField(std::size_t index, std::string_view deciphered);

    // Runs the cipher tool on a file and removes its side file; false when the entry failed.
    // Each caller then reads the file back and requires the run to have changed it: a tool
    // that leaves it as it was did not do its work.
    bool runTool(std::size_t index, const std::string& file, bool decipher);
    // Reads a work file whole after a tool run; false when the entry failed, the tool having
    // removed the file among the reasons.
    bool readBack(std::size_t index, const std::string& file, std::string& content);
    bool cancelled() const { return request_.cancel != nullptr && request_.cancel->raised(); }
    void fail(std::size_t index, std::string reason);
    // Ends an entry that is done with: read, already at the value, or replaced.
    void succeed(std::size_t index);
    // The observer hears of one entry at a time; mutex_ is held.
    void notifyFinished(std::size_t index) {
        if (observer_ != nullptr) {
            observer_->fileFinished(index, result_.files[index]);
        }
    }

    // Runs step on every entry still alive, in list order, with the cursor on it. With more
    // than one job, up to that many entries are worked on at once; the pass ends when all are,
    // after an entry that failed once the tool had run for it is tried again alone, by again.
    template <typename Step> void pass(Step step, Step again, bool parallel = true) {
        const std::size_t count = states_.size();
        std::size_t next = 0;
        auto work = [&](std::size_t job) {
            for (;;) {
                std::size_t index = 0;
                {
                    std::lock_guard lock(mutex_);
                    if (cancelled() || next >= count) {
                        return;
                    }
                    index = next++;
                    if (observer_ != nullptr) {
                        observer_->cursorMoved(index);
                    }
                    if (cancelled()) {
                        return;
                    }
                }
                if (states_[index].alive) {
                    states_[index].ranTool = false;
                    states_[index].job = job;
                    (this->*step)(index);
                }
            }
        };
        // One job runs the tool where it is; several run it each in a place of its own.
        const std::size_t workers =
            parallel && places_.size() > 1 ? std::min(places_.size(), count) : 1;
        deferring_ = workers > 1;
        std::vector<std::thread> helpers;
        try {
            for (std::size_t k = 1; k < workers; ++k) {
                helpers.emplace_back(work, k);
            }
        } catch (const std::system_error&) {
            // Fewer threads than asked for: the ones there share the work.
        }
        work(workers > 1 ? 0 : kAlone);
        for (std::thread& helper : helpers) {
            helper.join();
        }
        deferring_ = false;
        retryAlone(again);
    }

    // A tool that cannot share the machine with other runs of itself fails beside them and
    // works alone: such a failure costs time, not the save.
    template <typename Step> void retryAlone(Step again) {
        for (std::size_t index = 0; index < states_.size(); ++index) {
            FileState& state = states_[index];
            if (!state.retry) {
                continue;
            }
            state.retry = false;
            {
                std::lock_guard lock(mutex_);
                if (cancelled()) {
                    notifyFinished(index); // failed as it did
                    continue;
                }
                if (observer_ != nullptr) {
                    observer_->cursorMoved(index);
                }
            }
            redo(index, again);
        }
    }

    // Works on an entry again from the start, alone.
    template <typename Step> void redo(std::size_t index, Step again) {
        FileState& state = states_[index];
        for (const std::string& file : {workCopy(index), scratchCopy(index)}) {
            (void)RemoveFile(file);
            (void)RemoveFile(file + kSideFileSuffix);
        }
        state.alive = true;
        state.heldBack = false;
        state.deciphered = false;
        state.ranTool = false;
        state.job = kAlone;
        result_.files[index].reason.clear();
        result_.files[index].oldValue.reset();
        result_.files[index].already = false;
        (this->*again)(index);
    }

    const BatchRequest& request_;
    Scn_Process& runner_;
    BatchObserver* observer_;
    const bool readOnly_;
    bool windowsTool_ = false; // the cipher tool is a Windows program, here or through Wine
    std::int16_t target_ = 0;
    std::string workFolder_;
    std::vector<FileState> states_;
    std::vector<std::size_t> kept_;  // entries handed to the backup, in order
    std::vector<JobPlace> places_;   // one per job when jobs run side by side
    std::vector<std::size_t> twins_; // entries whose kept deciphered bytes had a twin
    // Guards what the entries of a pass share: the counts and the observer.
    std::mutex mutex_;
    // Several jobs are at work: a failure after a tool run waits for a retry alone.
    bool deferring_ = false;
    BatchResult result_;
};

BatchResult Batch::run() {
    result_.saveFolder = request_.saveFolder;
    for (const std::string& name : request_.names) {
        result_.files.emplace_back().name = name;
    }
    auto refuse = [this](const std::string& why) {
        for (FileOutcome& file : result_.files) {
            file.reason = readOnly_ ? "not read" : "not converted";
        }
        result_.refusal = why;
        result_.report = ComposeReport({}) + "\n\n" + why;
        return result_;
    };

    if (request_.appDir.empty()) {
        return refuse(kNoProgramFolder);
    }
    if (Status folder = CheckSaveFolder(request_.saveFolder, request_.appDir); !folder) {
        return refuse(folder.reason());
    }
    const std::string tool = CipherToolOf(request_.appDir);
    if (KindOf(tool) != EntryKind::File) {
        return refuse("Cipher tool not found: " + tool);
    }
    if (RunsThroughWine(tool) && FindWine().empty()) {
        return refuse(kWineMissing);
    }
#ifdef _WIN32
    windowsTool_ = true;
#else
    windowsTool_ = RunsThroughWine(tool);
#endif
    if (auto target = ConvertValueText(request_.valueText)) {
        target_ = *target;
    } else if (!readOnly_) {
        return refuse("Not a valid DLC value: \"" + request_.valueText + "\"");
    }
    if (request_.saveFolder.empty() && !request_.names.empty()) {
        return refuse("No save folder chosen");
    }
    workFolder_ = request_.workFolder.empty() ? WorkFolderOf(request_.appDir)
                                              : WithTrailingSeparator(request_.workFolder);
    if (Status made = MakeDirectory(workFolder_); !made) {
        return refuse("Work folder unavailable: " + workFolder_ + ": " + made.reason());
    }
    if (Status apart = CheckWorkFolder(workFolder_, request_.saveFolder); !apart) {
        return refuse(apart.reason());
    }
    // Held for the whole batch: a second instance neither converts nor clears meanwhile.
    FolderLock lock(workFolder_);
    if (!lock.held()) {
        return refuse(lock.busy() ? WhoHoldsTheWorkFolder(request_.appDir)
                                  : "Work folder unavailable: " + workFolder_ + ": " +
                                        lock.status().reason());
    }
    // Another copy of the program, with a work folder of its own, keeps off the saves too.
    std::unique_ptr<SaveFolderLock> saveLock;
    if (!readOnly_ && !request_.saveFolder.empty()) {
        saveLock = std::make_unique<SaveFolderLock>(request_.saveFolder);
        if (!saveLock->status()) {
            return refuse(saveLock->status().reason());
        }
    }
    // Whatever an earlier, interrupted run left behind goes first.
    (void)ClearWorkArea(workFolder_);
    if (Status made = MakeDirectory(JoinPath(workFolder_, kScratchFolder)); !made) {
        return refuse("Work folder unavailable: " + JoinPath(workFolder_, kScratchFolder) + ": " +
                      made.reason());
    }
    // The tool may be an ANSI program: its work copies need a path it can be handed.
    if (PathForAnsiPrograms(JoinPath(workFolder_, kScratchFolder)).empty()) {
        return refuse(std::string(kWorkFolderNotForTool) + ": " + workFolder_);
    }
    if (!request_.saveFolder.empty() && !readOnly_) {
        (void)RemoveTemporaries(request_.saveFolder);
    }

    states_.resize(request_.names.size());
    refuseUnsafeNames();
    if (!readOnly_) {
        settleSameFiles();
    }

    if (request_.deciphered != nullptr) {
        request_.deciphered->useFor(request_.saveFolder);
    }
    places_ = MakeJobPlaces(
        request_.appDir, workFolder_,
        std::min({std::max<std::size_t>(request_.jobs, 1), kMaxJobs, states_.size()}));
    const auto started = [this](std::size_t pass) {
        std::lock_guard guard(mutex_);
        if (observer_ != nullptr && !cancelled()) {
            observer_->passStarted(pass, readOnly_ ? 1 : 3);
        }
    };
    if (readOnly_) {
        started(0);
        pass(&Batch::decipherAndRead, &Batch::decipherAndRead);
        recheckTwins(&Batch::decipherAndRead);
    } else {
        started(0);
        pass(&Batch::decipherAndPatch, &Batch::decipherAndPatch);
        recheckTwins(&Batch::decipherAndPatch);
        started(1);
        pass(&Batch::encipherAndCheck, &Batch::decipherAndEncipher);
        BackupWriter backup(request_.backupFolder.empty() ? BackupFolderFor(request_.appDir)
                                                          : request_.backupFolder,
                            request_.saveFolder, *ConvertValueText(request_.valueText));
        keepOriginals(backup);
        started(2);
        pass(&Batch::copyBack, &Batch::copyBack, false);
        finishBackup(backup);
    }
    if (result_.changedCount > 0) {
        (void)SyncDirectory(request_.saveFolder);
    }
    if (cancelled()) {
        result_.cancelled = true;
        for (std::size_t i = 0; i < states_.size(); ++i) {
            if (states_[i].alive) {
                fail(i, "cancelled");
            }
        }
    }

    (void)ClearWorkArea(workFolder_);
    if (!readOnly_) {
        result_.report = ComposeReport(result_.files, result_.cancelled);
        if (!result_.warning.empty()) {
            result_.report += "\n\n" + result_.warning;
        }
        if (!result_.backupSet.empty()) {
            result_.report +=
                "\n\n" + BackupNote(result_.backupSet, request_.saveFolder, FrontEnd::Window);
        }
    }
    return result_;
}

// Names ordered as a Windows program opening a file compares them: without regard to case.
// Through Wine on a POSIX file system only ASCII letters are told apart here.
int CompareAsWindows(std::string_view a, std::string_view b) {
#ifdef _WIN32
    return CompareNamesText(a, b);
#else
    const auto upper = [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A')
                                    : static_cast<unsigned char>(c);
    };
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) {
            return upper(a[i]) < upper(b[i]) ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
#endif
}

void Batch::refuseUnsafeNames() {
    const std::vector<std::string>& names = request_.names;
    // Two entries are one save when the platform's file system takes their names for one; a
    // side file is the tool's when the tool, a Windows program among them, takes it for one.
    const auto inFolder = [](std::string_view a, std::string_view b) {
        return CompareNamesText(a, b);
    };
    const auto forTool = [this](std::string_view a, std::string_view b) {
        return windowsTool_ ? CompareAsWindows(a, b) : a.compare(b);
    };
    // Entry indexes by name, then list position: a repeated name follows its first place.
    const auto sorted = [&](auto order) {
        std::vector<std::size_t> byName(names.size());
        std::iota(byName.begin(), byName.end(), std::size_t{0});
        std::stable_sort(byName.begin(), byName.end(), [&](std::size_t a, std::size_t b) {
            return order(names[a], names[b]) < 0;
        });
        return byName;
    };
    const std::vector<std::size_t> byName = sorted(inFolder);
    const std::vector<std::size_t> byToolName = sorted(forTool);
    auto listedForTool = [&](std::string_view name) -> const std::string* {
        auto it = std::lower_bound(
            byToolName.begin(), byToolName.end(), name,
            [&](std::size_t i, std::string_view n) { return forTool(names[i], n) < 0; });
        return it != byToolName.end() && forTool(names[*it], name) == 0 ? &names[*it] : nullptr;
    };

    const std::string_view suffix = kSideFileSuffix;
    for (std::size_t k = 0; k < byName.size(); ++k) {
        const std::size_t index = byName[k];
        const std::string& name = names[index];
        // The suffix is ASCII: compared as the tool compares, a part of it cannot be another
        // letter's case.
        const bool sideFileName =
            name.size() > suffix.size() &&
            forTool(std::string_view(name).substr(name.size() - suffix.size()), suffix) == 0;
        const std::string* sideFileOf =
            sideFileName
                ? listedForTool(std::string_view(name).substr(0, name.size() - suffix.size()))
                : nullptr;
        if (name.empty() || name == "." || name == ".." || HasPathSyntax(name)) {
            fail(index, "not a plain file name");
        } else if (windowsTool_ && (name.back() == '.' || name.back() == ' ')) {
            // Windows strips the dot or space from the work copy's name the tool is given, so
            // it would open another file.
            fail(index, kTrailingDotOrSpace);
        } else if (k > 0 && inFolder(names[byName[k - 1]], name) == 0) {
            fail(index, names[byName[k - 1]] == name
                            ? std::string("listed twice")
                            : "listed twice: the file system takes it for " + names[byName[k - 1]]);
        } else if (sideFileOf != nullptr) {
            // The tool's side file for one save would land on the other's work copy.
            fail(index, "its name is the cipher tool's side file of " + *sideFileOf);
        }
    }
}

void Batch::settleSameFiles() {
    // A save is replaced through a symbolic link, so a link to another entry's file would be
    // converted twice; it is settled by the first entry of that file that is no link (else the
    // first link). Only a link that leads to that entry's own path is that file: a hard link
    // gets a file of its own at its replacement, so each name of one is converted.
    std::map<std::string, std::vector<std::size_t>> byPath;
    for (std::size_t i = 0; i < states_.size(); ++i) {
        if (!states_[i].alive || KindOf(savePath(i)) != EntryKind::File) {
            continue;
        }
        if (std::string resolved = ResolvedPath(savePath(i)); !resolved.empty()) {
            byPath[resolved].push_back(i);
        }
    }
    for (const auto& [path, entries] : byPath) {
        std::vector<bool> link(entries.size());
        for (std::size_t k = 0; k < entries.size(); ++k) {
            link[k] = IsSymbolicLink(savePath(entries[k]));
        }
        const auto own = std::find(link.begin(), link.end(), false);
        const std::size_t converted =
            entries[own != link.end() ? static_cast<std::size_t>(own - link.begin()) : 0];
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (entries[k] != converted && link[k]) {
                result_.files[entries[k]].sameFile = true;
                {
                    std::lock_guard lock(mutex_);
                    ++result_.sameFileCount;
                }
                fail(entries[k], "same file as " + request_.names[converted]);
            }
        }
    }
}

std::optional<std::string> Batch::copyInAndDecipher(std::size_t index) {
    const std::string save = savePath(index);
    const std::string copy = workCopy(index);
    switch (KindOf(save)) {
    case EntryKind::Directory:
        fail(index, "is a folder");
        return std::nullopt;
    case EntryKind::Missing:
        fail(index, "not found");
        return std::nullopt;
    case EntryKind::Other:
        fail(index, "is not a regular file");
        return std::nullopt;
    case EntryKind::File:
        break;
    }
    // Only a save that is to be replaced must be writable.
    if (!readOnly_ && IsReadOnly(save)) {
        fail(index, "is read-only");
        return std::nullopt;
    }
    // The work folder starts empty, so a work copy already there belongs to another save
    // whose name differs only in case, on a file system that ignores it.
    if (KindOf(copy) != EntryKind::Missing) {
        fail(index, "its work copy clashes with another save's");
        return std::nullopt;
    }
    std::string original;
    if (Status copied = CopyFileTo(save, copy, {&states_[index].identity, &original}); !copied) {
        fail(index, "copy failed: " + copied.reason());
        return std::nullopt;
    }
    DecipheredSaves* const kept = request_.deciphered;
    FileState& state = states_[index];
    state.original = Sha256Of(original);
    // Kept bytes that another save deciphered to as well are not trusted: it is deciphered again.
    auto deciphered = [&](std::string bytes) {
        state.plain = Sha256Of(bytes);
        state.deciphered = true;
        if (kept != nullptr && kept->dropTwins(state.original, state.plain)) {
            std::lock_guard lock(mutex_);
            twins_.push_back(index);
        }
        return std::optional<std::string>(std::move(bytes));
    };
    if (kept != nullptr) {
        if (std::optional<std::string> bytes = kept->find(state.original)) {
            // Unchanged since it was deciphered: the kept bytes stand for the tool's run.
            if (readOnly_) {
                (void)RemoveFile(copy);
            } else if (Status written = OverwriteFile(copy, *bytes); !written) {
                fail(index, "copy failed: " + written.reason());
                return std::nullopt;
            }
            return deciphered(std::move(*bytes));
        }
    }
    std::string bytes;
    if (!runTool(index, copy, true) || !readBack(index, copy, bytes)) {
        return std::nullopt;
    }
    if (bytes == original) {
        fail(index, "cipher tool changed nothing");
        return std::nullopt;
    }
    std::optional<std::string> result = deciphered(bytes);
    if (kept != nullptr && readOnly_) {
        kept->keep(state.original, std::move(bytes), &state.plain);
    }
    return result;
}

template <typename Step> void Batch::recheckTwins(Step again) {
    std::map<Sha256Digest, std::vector<std::size_t>> byPlain;
    for (std::size_t i = 0; i < states_.size(); ++i) {
        if (states_[i].deciphered) {
            byPlain[states_[i].plain].push_back(i);
        }
    }
    std::vector<std::size_t> twins = std::move(twins_);
    for (const auto& [plain, entries] : byPlain) {
        const bool differ = std::any_of(entries.begin(), entries.end(), [&](std::size_t i) {
            return states_[i].original != states_[entries.front()].original;
        });
        if (differ) {
            twins.insert(twins.end(), entries.begin(), entries.end());
        }
    }
    std::sort(twins.begin(), twins.end());
    twins.erase(std::unique(twins.begin(), twins.end()), twins.end());
    for (std::size_t index : twins) {
        if (request_.deciphered != nullptr) {
            request_.deciphered->drop(states_[index].original);
        }
        std::lock_guard lock(mutex_);
        if (!cancelled() && observer_ != nullptr) {
            observer_->cursorMoved(index);
        }
    }
    for (std::size_t index : twins) {
        if (cancelled()) {
            states_[index].heldBack = false;
            states_[index].alive = true; // failed as cancelled with the rest
            continue;
        }
        redo(index, again);
    }
    for (std::size_t index = 0; index < states_.size(); ++index) {
        if (states_[index].heldBack) {
            states_[index].heldBack = false;
            succeed(index);
        }
    }
}

std::optional<std::int16_t> Batch::readField(std::size_t index, std::string_view deciphered) {
    auto value = DlcFieldOf(deciphered);
    if (!value) {
        fail(index, "deciphered save too short (" + std::to_string(deciphered.size()) + " bytes)");
        return std::nullopt;
    }
    result_.files[index].oldValue = value;
    return value;
}

void Batch::decipherAndRead(std::size_t index) {
    auto deciphered = copyInAndDecipher(index);
    if (!deciphered) {
        return;
    }
    const bool read = readField(index, *deciphered).has_value();
    (void)RemoveFile(workCopy(index));
    if (read) {
        succeed(index);
    }
}

void Batch::decipherAndPatch(std::size_t index) {
    auto deciphered = copyInAndDecipher(index);
    if (!deciphered) {
        return;
    }
    const std::string copy = workCopy(index);
    auto old = readField(index, *deciphered);
    if (!old) {
        return;
    }
    if (*old == target_) {
        // Nothing to change: the save is neither enciphered again nor replaced. It is finished
        // once no other save turns out to decipher alike.
        (void)RemoveFile(copy);
        result_.files[index].already = true;
        states_[index].alive = false;
        states_[index].heldBack = true;
        return;
    }
    std::string& patched = *deciphered;
    SetDlcField(patched, target_);
    const auto field = static_cast<std::size_t>(DlcField::kOffset);
    if (Status written =
            WriteBytesAt(copy, DlcField::kOffset, std::string_view(patched).substr(field, 2));
        !written) {
        return fail(index, "could not write the DLC field: " + written.reason());
    }
    // Kept to prove the enciphered result against.
    states_[index].patched = Sha256Of(patched);
}

void Batch::encipherAndCheck(std::size_t index) {
    const std::string copy = workCopy(index);
    FileState& state = states_[index];
    std::string enciphered;
    if (!runTool(index, copy, false) || !readBack(index, copy, enciphered)) {
        return;
    }
    const Sha256Digest result = Sha256Of(enciphered);
    if (result == state.patched) {
        return fail(index, "cipher tool changed nothing");
    }
    if (enciphered.empty()) {
        return fail(index, "cipher tool left an empty file");
    }
    // The result must decipher back to exactly the patched save, or it is not put back.
    const std::string scratch = scratchCopy(index);
    if (Status copied = WriteNewFile(scratch, enciphered); !copied) {
        return fail(index, "copy failed: " + copied.reason());
    }
    // No check that this run changed the scratch copy: it must now equal the patched save,
    // which the enciphered result was just shown to differ from.
    std::string proof;
    if (!runTool(index, scratch, true) || !readBack(index, scratch, proof)) {
        return;
    }
    if (Sha256Of(proof) != state.patched) {
        return fail(index, "the enciphered result does not decipher back to the patched save");
    }
    (void)RemoveFile(scratch);
    state.result = result;
    if (request_.deciphered != nullptr) {
        // The save to be, deciphered: reading it after the batch needs no tool run.
        request_.deciphered->keep(result, std::move(proof), &state.patched);
    }
}

void Batch::decipherAndEncipher(std::size_t index) {
    decipherAndPatch(index);
    if (states_[index].alive) {
        encipherAndCheck(index);
    }
}

void Batch::copyBack(std::size_t index) {
    FileState& state = states_[index];
    // The bytes that land are those the proof covered, whatever touched the work copy since.
    ReplaceResult replaced =
        ReplaceFileAtomically(workCopy(index), savePath(index), state.identity, &state.result);
    switch (replaced.outcome) {
    case ReplaceOutcome::Replaced:
        result_.files[index].changed = true;
        return succeed(index);
    case ReplaceOutcome::TargetChanged:
        return fail(index, "changed on disk during conversion");
    case ReplaceOutcome::OwnerNotKept:
        return fail(index, replaced.status.reason());
    case ReplaceOutcome::Failed:
        return fail(index, "copy failed: " + replaced.status.reason());
    }
}

void Batch::keepOriginals(BackupWriter& backup) {
    std::vector<SaveToKeep> saves;
    for (std::size_t i = 0; i < states_.size() && !cancelled(); ++i) {
        if (states_[i].alive) {
            kept_.push_back(i);
            saves.push_back({request_.names[i], HexOf(states_[i].result), states_[i].identity});
        }
    }
    if (cancelled()) {
        kept_.clear();
        return;
    }
    std::vector<std::string> reasons = backup.keep(saves);
    for (std::size_t k = 0; k < kept_.size(); ++k) {
        if (!reasons[k].empty()) {
            fail(kept_[k], std::move(reasons[k]));
        }
    }
}

void Batch::finishBackup(BackupWriter& backup) {
    std::vector<bool> replaced;
    for (std::size_t index : kept_) {
        replaced.push_back(result_.files[index].changed);
    }
    if (Status finished = backup.finish(replaced); !finished) {
        result_.warning = "the backup set could not be completed: " + finished.reason() +
                          "; --restore still works";
    }
    result_.backupSet = backup.setFolder();
}

bool Batch::runTool(std::size_t index, const std::string& file, bool decipher) {
    const std::string forTool = PathForAnsiPrograms(file);
    if (forTool.empty()) {
        fail(index, kNameNotForTool);
        return false;
    }
    states_[index].ranTool = true;
    CommandLine command = CipherCommand(request_.appDir, forTool, decipher);
    RunLimits limits{request_.toolTimeLimit, request_.cancel};
    if (const std::size_t job = states_[index].job; job < places_.size()) {
        command.program = places_[job].tool;
        limits.workingFolder = places_[job].workingFolder;
        limits.temporaryFolder = places_[job].temporaryFolder;
    }
    ProcessOutcome outcome = runner_.Run_Process(command, Scn_Process::kHidden, limits);
    (void)RemoveFile(file + kSideFileSuffix);
    if (forTool != file) {
        (void)RemoveFile(forTool + kSideFileSuffix); // the side file of the short name
    }
    if (outcome.kind == ProcessOutcome::Kind::Cancelled) {
        fail(index, "cancelled");
        return false;
    }
    if (!outcome.succeeded()) {
        const bool failed = outcome.kind == ProcessOutcome::Kind::Exited && !outcome.crashed();
        std::string reason =
            "cipher tool " + (failed ? "failed (" + outcome.describe() + ")" : outcome.describe());
        if (std::string said = outcome.lastOutputLine(); !said.empty()) {
            reason += ": " + said;
        }
        fail(index, std::move(reason));
        return false;
    }
    return true;
}

bool Batch::readBack(std::size_t index, const std::string& file, std::string& content) {
    if (Status read = ReadWholeFile(file, content); !read) {
        fail(index, KindOf(file) != EntryKind::File
                        ? std::string("cipher tool removed the work copy")
                        : "could not read back the work copy: " + read.reason());
        return false;
    }
    return true;
}

void Batch::fail(std::size_t index, std::string reason) {
    std::lock_guard lock(mutex_);
    FileState& state = states_[index];
    state.alive = false;
    result_.files[index].reason = std::move(reason);
    if (deferring_ && state.ranTool && !cancelled()) {
        state.retry = true;
        return;
    }
    notifyFinished(index);
}

void Batch::succeed(std::size_t index) {
    std::lock_guard lock(mutex_);
    states_[index].alive = false;
    FileOutcome& file = result_.files[index];
    if (file.changed) {
        ++result_.changedCount;
    } else if (file.already) {
        ++result_.alreadyCount;
    }
    if (file.changed || file.already) {
        file.newValue = target_;
    }
    notifyFinished(index);
}

} // namespace

std::size_t DefaultJobs() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
}

BatchResult ConvertSaves(const BatchRequest& request, Scn_Process& runner,
                         BatchObserver* observer) {
    return Batch(request, runner, observer).run();
}

BatchResult ReadSaveVersions(const BatchRequest& request, Scn_Process& runner,
                             BatchObserver* observer) {
    return Batch(request, runner, observer, true).run();
}

} // namespace ostrapel
