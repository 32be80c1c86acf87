#include "conversion/ConvertSaves.h"

#include "conversion/DlcVersion.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <optional>
#include <set>

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

struct FileState {
    std::string savePath;
    std::string workCopy;
    FileIdentity identity;
    bool alive = true;
};

class Batch {
public:
    Batch(const BatchRequest& request, Scn_Process& runner, BatchObserver* observer)
        : request_(request), runner_(runner), observer_(observer) {}

    BatchResult run();

private:
    void prepare(std::size_t index, std::set<std::string_view>& seen,
                 const std::set<std::string_view>& all);
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
    const std::set<std::string_view> all(request_.names.begin(), request_.names.end());
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < states_.size(); ++i) {
        prepare(i, seen, all);
    }

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

// Refuses names that cannot safely stand for one file in both folders.
void Batch::prepare(std::size_t index, std::set<std::string_view>& seen,
                    const std::set<std::string_view>& all) {
    const std::string& name = request_.names[index];
    FileState& state = states_[index];
    if (name.empty() || name == "." || name == ".." ||
        name.find(kPathSeparator) != std::string::npos || name.find('\0') != std::string::npos) {
        return fail(index, "not a plain file name");
    }
    if (!seen.insert(name).second) {
        return fail(index, "listed twice");
    }
    // The tool's side file for one save would land on another save's work copy.
    const std::string_view suffix = kSideFileSuffix;
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
        const std::string_view base = std::string_view(name).substr(0, name.size() - suffix.size());
        if (all.count(base) != 0) {
            return fail(index, "its name is the cipher tool's side file of " + std::string(base));
        }
    }
    state.savePath = JoinPath(request_.saveFolder, name);
    state.workCopy = JoinPath(workFolder_, name);
}

void Batch::decipherAndPatch(std::size_t index) {
    FileState& state = states_[index];
    switch (KindOf(state.savePath)) {
    case EntryKind::Directory:
        return fail(index, "is a folder");
    case EntryKind::Missing:
        return fail(index, "not found");
    case EntryKind::Other:
        return fail(index, "is not a regular file");
    case EntryKind::File:
        break;
    }
    if (IsReadOnly(state.savePath)) {
        return fail(index, "is read-only");
    }
    if (Status copied = CopyFileTo(state.savePath, state.workCopy, &state.identity); !copied) {
        return fail(index, "copy failed: " + copied.reason());
    }
    if (!runTool(index, true)) {
        return;
    }
    auto size = SizeOf(state.workCopy);
    if (!size || *size < DlcField::kEnd) {
        return fail(index,
                    "deciphered save too short (" + std::to_string(size.value_or(0)) + " bytes)");
    }
    FieldWriteResult written = WriteDlcField(state.workCopy, request_.valueText);
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
    auto size = SizeOf(states_[index].workCopy);
    if (!size || *size == 0) {
        fail(index, "cipher tool left an empty file");
    }
}

void Batch::copyBack(std::size_t index) {
    FileState& state = states_[index];
    ReplaceResult replaced = ReplaceFileAtomically(state.workCopy, state.savePath, state.identity);
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
    FileState& state = states_[index];
    ProcessOutcome outcome = runner_.Run_Process(
        CipherCommand(request_.appDir, state.workCopy, decipher), Scn_Process::kHidden);
    (void)RemoveFile(state.workCopy + kSideFileSuffix);
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
    if (KindOf(state.workCopy) != EntryKind::File) {
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
    std::size_t changed = 0;
    std::string notChanged;
    for (const FileOutcome& file : files) {
        if (file.changed) {
            ++changed;
        } else {
            notChanged += "\n" + file.name + ": " + file.reason;
        }
    }
    std::string report = "Changed versions DLC in " + std::to_string(changed) + " files";
    if (!notChanged.empty()) {
        report += "\n\nNot changed:" + notChanged;
    }
    return report;
}

BatchResult ConvertSaves(const BatchRequest& request, Scn_Process& runner,
                         BatchObserver* observer) {
    return Batch(request, runner, observer).run();
}

} // namespace ostrapel
