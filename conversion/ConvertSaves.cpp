#include "conversion/ConvertSaves.h"

#include "conversion/DlcVersion.h"
#include "conversion/Report.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace ostrapel {

namespace {

constexpr const char* kSideFileSuffix = ".backup";

std::string Join(std::initializer_list<std::string_view> parts) {
    std::string path;
    for (std::string_view part : parts) {
        path = path.empty() ? std::string(part) : JoinPath(path, part);
    }
    return path;
}

// Per entry only what the passes hand on; paths are built when needed, so a large folder
// costs little more than its names.
struct FileState {
    FileIdentity identity;
    bool alive = true;
};

class Batch {
public:
    Batch(const BatchRequest& request, Scn_Process& runner, BatchObserver* observer)
        : request_(request), runner_(runner), observer_(observer) {}

    BatchResult run();

private:
    // Refuses entries whose names cannot safely stand for one save in both folders.
    void refuseUnsafeNames();
    std::string savePath(std::size_t index) const {
        return JoinPath(request_.saveFolder, request_.names[index]);
    }
    std::string workCopy(std::size_t index) const {
        return JoinPath(workFolder_, request_.names[index]);
    }
    void decipherAndPatch(std::size_t index);
    void encipher(std::size_t index);
    void copyBack(std::size_t index);

    // Runs the cipher tool on a file's work copy and removes its side file.
    bool runTool(std::size_t index, bool decipher);
    void fail(std::size_t index, std::string reason);
    void moveCursor(std::size_t index) {
        if (observer_ != nullptr) {
            observer_->cursorMoved(index);
        }
    }

    template <typename Step> void pass(Step step) {
        for (std::size_t i = 0; i < states_.size(); ++i) {
            moveCursor(i);
            if (states_[i].alive) {
                (this->*step)(i);
            }
        }
    }

    const BatchRequest& request_;
    Scn_Process& runner_;
    BatchObserver* observer_;
    std::string workFolder_;
    std::vector<FileState> states_;
    BatchResult result_;
};

BatchResult Batch::run() {
    for (const std::string& name : request_.names) {
        result_.files.push_back({name, false, {}});
    }
    auto refuse = [this](const std::string& why) {
        for (FileOutcome& file : result_.files) {
            file.reason = "not converted";
        }
        result_.refusal = why;
        result_.report = ComposeReport({}) + "\n\n" + why;
        return result_;
    };

    const std::string tool = CipherToolOf(request_.appDir);
    if (KindOf(tool) != EntryKind::File) {
        return refuse("Cipher tool not found: " + tool);
    }
    if (!ConvertValueText(request_.valueText)) {
        return refuse("Not a valid DLC value: \"" + request_.valueText + "\"");
    }
    if (request_.saveFolder.empty() && !request_.names.empty()) {
        return refuse("No save folder chosen");
    }
    workFolder_ = WorkFolderOf(request_.appDir);
    if (Status made = MakeDirectory(workFolder_); !made) {
        return refuse("Work folder unavailable: " + workFolder_ + ": " + made.reason());
    }
    // Held for the whole batch: a second instance neither converts nor clears meanwhile.
    FolderLock lock(workFolder_);
    if (!lock.held()) {
        return refuse(lock.busy() ? std::string(kWorkFolderBusy)
                                  : "Work folder unavailable: " + workFolder_ + ": " +
                                        lock.status().reason());
    }
    // Whatever an earlier, interrupted run left behind goes first.
    (void)RemoveFilesIn(workFolder_);
    if (!request_.saveFolder.empty()) {
        (void)RemoveFilesWithPrefix(request_.saveFolder, kTemporaryPrefix);
    }

    states_.resize(request_.names.size());
    refuseUnsafeNames();

    pass(&Batch::decipherAndPatch);
    pass(&Batch::encipher);
    pass(&Batch::copyBack);
    if (result_.changedCount > 0) {
        (void)SyncDirectory(request_.saveFolder);
    }

    (void)RemoveFilesIn(workFolder_);
    result_.report = ComposeReport(result_.files);
    return result_;
}

void Batch::refuseUnsafeNames() {
    const std::vector<std::string>& names = request_.names;
    // Entry indexes by name, then list position: a repeated name follows its first place.
    std::vector<std::size_t> byName(names.size());
    std::iota(byName.begin(), byName.end(), std::size_t{0});
    std::stable_sort(byName.begin(), byName.end(),
                     [&](std::size_t a, std::size_t b) { return names[a] < names[b]; });
    auto listed = [&](std::string_view name) {
        auto it = std::lower_bound(byName.begin(), byName.end(), name,
                                   [&](std::size_t i, std::string_view n) { return names[i] < n; });
        return it != byName.end() && names[*it] == name;
    };

    const std::string_view suffix = kSideFileSuffix;
    for (std::size_t k = 0; k < byName.size(); ++k) {
        const std::size_t index = byName[k];
        const std::string& name = names[index];
        if (name.empty() || name == "." || name == ".." ||
            name.find(kPathSeparator) != std::string::npos ||
            name.find('\0') != std::string::npos) {
            fail(index, "not a plain file name");
        } else if (k > 0 && names[byName[k - 1]] == name) {
            fail(index, "listed twice");
        } else if (name.size() > suffix.size() && name.ends_with(suffix) &&
                   listed(std::string_view(name).substr(0, name.size() - suffix.size()))) {
            // The tool's side file for one save would land on the other's work copy.
            fail(index, "its name is the cipher tool's side file of " +
                            name.substr(0, name.size() - suffix.size()));
        }
    }
}

void Batch::decipherAndPatch(std::size_t index) {
    FileState& state = states_[index];
    const std::string save = savePath(index);
    const std::string copy = workCopy(index);
    switch (KindOf(save)) {
    case EntryKind::Directory:
        return fail(index, "is a folder");
    case EntryKind::Missing:
        return fail(index, "not found");
    case EntryKind::Other:
        return fail(index, "is not a regular file");
    case EntryKind::File:
        break;
    }
    if (IsReadOnly(save)) {
        return fail(index, "is read-only");
    }
    // The work folder starts empty, so a work copy already there belongs to another save
    // whose name differs only in case, on a file system that ignores it.
    if (KindOf(copy) != EntryKind::Missing) {
        return fail(index, "its work copy clashes with another save's");
    }
    if (Status copied = CopyFileTo(save, copy, &state.identity); !copied) {
        return fail(index, "copy failed: " + copied.reason());
    }
    if (!runTool(index, true)) {
        return;
    }
    auto size = SizeOf(copy);
    if (!size || *size < DlcField::kEnd) {
        return fail(index,
                    "deciphered save too short (" + std::to_string(size.value_or(0)) + " bytes)");
    }
    FieldWriteResult written = WriteDlcField(copy, request_.valueText);
    if (!written.status || !written.written) {
        return fail(index, "could not write the DLC field: " +
                               (written.status ? std::string("value not converted")
                                               : written.status.reason()));
    }
}

void Batch::encipher(std::size_t index) {
    if (!runTool(index, false)) {
        return;
    }
    auto size = SizeOf(workCopy(index));
    if (!size || *size == 0) {
        fail(index, "cipher tool left an empty file");
    }
}

void Batch::copyBack(std::size_t index) {
    FileState& state = states_[index];
    ReplaceResult replaced =
        ReplaceFileAtomically(workCopy(index), savePath(index), state.identity);
    switch (replaced.outcome) {
    case ReplaceOutcome::Replaced:
        state.alive = false;
        result_.files[index].changed = true;
        ++result_.changedCount;
        if (observer_ != nullptr) {
            observer_->fileFinished(index, result_.files[index]);
        }
        return;
    case ReplaceOutcome::TargetChanged:
        return fail(index, "changed on disk during conversion");
    case ReplaceOutcome::Failed:
        return fail(index, "copy failed: " + replaced.status.reason());
    }
}

bool Batch::runTool(std::size_t index, bool decipher) {
    const std::string copy = workCopy(index);
    ProcessOutcome outcome =
        runner_.Run_Process(CipherCommand(request_.appDir, copy, decipher), Scn_Process::kHidden);
    (void)RemoveFile(copy + kSideFileSuffix);
    if (!outcome.succeeded()) {
        std::string reason =
            "cipher tool " + std::string(outcome.kind == ProcessOutcome::Kind::Exited
                                             ? "failed (" + outcome.describe() + ")"
                                             : outcome.describe());
        if (std::string said = outcome.lastOutputLine(); !said.empty()) {
            reason += ": " + said;
        }
        fail(index, std::move(reason));
        return false;
    }
    if (KindOf(copy) != EntryKind::File) {
        fail(index, "cipher tool removed the work copy");
        return false;
    }
    return true;
}

void Batch::fail(std::size_t index, std::string reason) {
    states_[index].alive = false;
    result_.files[index].reason = std::move(reason);
    if (observer_ != nullptr) {
        observer_->fileFinished(index, result_.files[index]);
    }
}

} // namespace

std::string WorkFolderOf(const std::string& appDir) {
    return WithTrailingSeparator(Join({appDir, "Decrypt", "temp"}));
}

std::string CipherToolOf(const std::string& appDir) {
    return Join({appDir, "Decrypt", "decrypt.exe"});
}

Status ClearWorkFolder(const std::string& appDir) {
    const std::string folder = WorkFolderOf(appDir);
    FolderLock lock(folder);
    if (!lock.held()) {
        return lock.busy() ? Status::Fail(kWorkFolderBusy) : lock.status();
    }
    return RemoveFilesIn(folder);
}

CommandLine CipherCommand(const std::string& appDir, const std::string& workCopy, bool decipher) {
    return {CipherToolOf(appDir), {(decipher ? "/decrypt:" : "/encrypt:") + workCopy}};
}

std::string ComposeReport(const std::vector<FileOutcome>& files) {
    std::string report = ChangedVersionsLine(files);
    if (std::string notChanged = NotChangedLines(files); !notChanged.empty()) {
        report += "\n\nNot changed:\n" + notChanged;
    }
    return report;
}

BatchResult ConvertSaves(const BatchRequest& request, Scn_Process& runner,
                         BatchObserver* observer) {
    return Batch(request, runner, observer).run();
}

} // namespace ostrapel
