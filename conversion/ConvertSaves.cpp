#include "conversion/ConvertSaves.h"

#include "conversion/Batch.h"
#include "conversion/DecipheredSaves.h"
#include "conversion/DlcVersion.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Wine.h"

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <thread>

namespace ostrapel {

namespace {

Phrase WorkFolderUnavailable(const std::string& folder, const Status& why) {
    return Phrase(N_("Work folder unavailable: {path}: {reason}"))
        .With("path", folder)
        .With("reason", why.phrase());
}

} // namespace

namespace batch {

namespace {

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

} // namespace

BatchResult Batch::run() {
    result_.saveFolder = request_.saveFolder;
    for (const std::string& name : request_.names) {
        result_.files.emplace_back().name = name;
    }
    auto refuse = [this](Phrase why) {
        for (FileOutcome& file : result_.files) {
            file.reason = readOnly_ ? "not read" : "not converted";
        }
        result_.refusal = std::move(why);
        return result_;
    };

    if (request_.appDir.empty()) {
        return refuse(kNoProgramFolder);
    }
    if (Status folder = CheckSaveFolder(request_.saveFolder, request_.appDir); !folder) {
        return refuse(folder.phrase());
    }
    const std::string tool = CipherToolOf(request_.appDir);
    if (KindOf(tool) != EntryKind::File) {
        return refuse(Phrase(N_("Cipher tool not found: {path}")).With("path", tool));
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
        return refuse(
            Phrase(N_("Not a valid DLC value: \"{value}\"")).With("value", request_.valueText));
    }
    if (request_.saveFolder.empty() && !request_.names.empty()) {
        return refuse("No save folder chosen");
    }
    workFolder_ = request_.workFolder.empty() ? WorkFolderOf(request_.appDir)
                                              : WithTrailingSeparator(request_.workFolder);
    if (Status made = MakeDirectory(workFolder_); !made) {
        return refuse(WorkFolderUnavailable(workFolder_, made));
    }
    if (Status apart = CheckWorkFolder(workFolder_, request_.saveFolder); !apart) {
        return refuse(apart.phrase());
    }
    // Held for the whole batch: a second instance neither converts nor clears meanwhile.
    FolderLock lock(workFolder_);
    if (!lock.held()) {
        return refuse(lock.busy() ? WhoHoldsTheWorkFolder(request_.appDir)
                                  : WorkFolderUnavailable(workFolder_, lock.status()));
    }
    // Another copy of the program, with a work folder of its own, keeps off the saves too.
    std::unique_ptr<SaveFolderLock> saveLock;
    if (!readOnly_ && !request_.saveFolder.empty()) {
        saveLock = std::make_unique<SaveFolderLock>(request_.saveFolder);
        if (!saveLock->status()) {
            return refuse(saveLock->status().phrase());
        }
    }
    // Whatever an earlier, interrupted run left behind goes first.
    (void)ClearWorkArea(workFolder_);
    if (Status made = MakeDirectory(JoinPath(workFolder_, kScratchFolder)); !made) {
        return refuse(WorkFolderUnavailable(JoinPath(workFolder_, kScratchFolder), made));
    }
    // The tool may be an ANSI program: its work copies need a path it can be handed.
    if (PathForAnsiPrograms(JoinPath(workFolder_, kScratchFolder)).empty()) {
        // TRANSLATORS: {why} is a sentence, {path} the folder it is about.
        return refuse(Phrase(N_("{why}: {path}"))
                          .With("why", Phrase(kWorkFolderNotForTool))
                          .With("path", workFolder_));
    }
    if (!request_.saveFolder.empty() && !readOnly_) {
        (void)RemoveTemporaries(request_.saveFolder);
    }

    states_.resize(request_.names.size());
    refuseUnsafeNames();
    if (!readOnly_) {
        settleSameFiles();
    }

    // One look at the tool's folder: what was kept from another tool goes, and the job places
    // are refreshed when it changed.
    const ToolLook look = LookAtTool(request_.appDir, workFolder_);
    if (request_.deciphered != nullptr) {
        request_.deciphered->useFor(request_.saveFolder, look.stamp);
    }
    JobPlaces made = MakeJobPlaces(
        request_.appDir, workFolder_,
        std::min({std::max<std::size_t>(request_.jobs, 1), kMaxJobs, states_.size()}), look);
    places_ = std::move(made.places);
    result_.note = std::move(made.note);
    // Reading: one pass. A conversion: decipher, witness, encipher and prove, replace.
    const auto started = [this](std::size_t pass) {
        std::lock_guard guard(mutex_);
        if (observer_ != nullptr && !cancelled()) {
            observer_->passStarted(pass, readOnly_ ? 1 : 4);
        }
    };
    if (readOnly_) {
        started(0);
        pass(&Batch::decipherAndRead, &Batch::decipherAndRead);
        recheckTwins(&Batch::decipherAndRead);
    } else {
        started(0);
        pass(&Batch::decipherAndPatch, &Batch::decipherAndPatch);
        if (stopForUnknownVersions()) {
            (void)ClearWorkArea(workFolder_);
            return result_;
        }
        // Every plain form is confirmed by its witness before anything is built on it.
        started(1);
        // A second decipher runs in another place than the first.
        placeShift_ = 1;
        probeTool();
        pass(&Batch::witness, &Batch::decipherAndWitness);
        placeShift_ = 0;
        recheckTwins(&Batch::decipherAndWitness);
        started(2);
        pass(&Batch::encipherAndCheck, &Batch::decipherAndEncipher);
        BackupWriter backup(request_.backupFolder.empty() ? BackupFolderFor(request_.appDir)
                                                          : request_.backupFolder,
                            request_.saveFolder, *ConvertValueText(request_.valueText));
        keepOriginals(backup);
        started(3);
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
    return result_;
}

bool Batch::stopForUnknownVersions() {
    std::size_t read = 0;
    std::size_t unknown = 0;
    for (const FileOutcome& file : result_.files) {
        if (file.oldValue) {
            ++read;
            unknown += DlcVersionTable::LabelOf(*file.oldValue) ? 0u : 1u;
        }
    }
    if (!request_.stopOnUnknownVersions || !MostlyUnknownVersions(unknown, read) || cancelled()) {
        return false;
    }
    result_.unknownVersions = unknown;
    // TRANSLATORS: {count} of {n} saves; the tool deciphered them to no version the program knows.
    result_.refusal = Phrase::Plural("{count} of {n} save read as no known version: the cipher "
                                     "tool may not be the one for these saves",
                                     "{count} of {n} saves read as no known version: the cipher "
                                     "tool may not be the one for these saves",
                                     read)
                          .With("count", std::uint64_t{unknown});
    for (std::size_t i = 0; i < states_.size(); ++i) {
        if (states_[i].alive || states_[i].heldBack || result_.files[i].already) {
            states_[i].heldBack = false;
            fail(i, "not converted");
        }
    }
    return true;
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
                            ? Phrase(N_("listed twice"))
                            : Phrase(N_("listed twice: the file system takes it for {name}"))
                                  .With("name", names[byName[k - 1]]));
        } else if (sideFileOf != nullptr) {
            // The tool's side file for one save would land on the other's work copy.
            fail(index, Phrase(N_("its name is the cipher tool's side file of {name}"))
                            .With("name", *sideFileOf));
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
                fail(entries[k],
                     Phrase(N_("same file as {name}")).With("name", request_.names[converted]));
            }
        }
    }
}

} // namespace batch

bool MostlyUnknownVersions(std::size_t unknown, std::size_t read) {
    return read > 0 && unknown * 2 > read;
}

std::size_t DefaultJobs() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
}

BatchResult ConvertSaves(const BatchRequest& request, Scn_Process& runner,
                         BatchObserver* observer) {
    return batch::Batch(request, runner, observer).run();
}

BatchResult ReadSaveVersions(const BatchRequest& request, Scn_Process& runner,
                             BatchObserver* observer) {
    return batch::Batch(request, runner, observer, true).run();
}

namespace {

// The templates of a failed tool run, without and with the tool's words.
struct ToolTemplates {
    const char* ours;
    const char* saying;
};
constexpr ToolTemplates kToolTemplates[] = {
    {N_("cipher tool failed ({outcome})"), N_("cipher tool failed ({outcome}): {words}")},
    {N_("cipher tool {outcome}"), N_("cipher tool {outcome}: {words}")},
};

} // namespace

Phrase ToolFailure(const ProcessOutcome& outcome) {
    const bool failed = outcome.kind == ProcessOutcome::Kind::Exited && !outcome.crashed();
    const ToolTemplates& templates = kToolTemplates[failed ? 0 : 1];
    const std::string said = outcome.lastOutputLine();
    return Phrase(said.empty() ? templates.ours : templates.saying)
        .With("outcome", outcome.phrase())
        .With("words", said);
}

bool ToolRefused(const Phrase& reason) {
    const ToolTemplates& refused = kToolTemplates[0];
    return reason.id() == refused.ours || reason.id() == refused.saying;
}

ToolSaying SplitToolWords(const Phrase& reason) {
    for (const ToolTemplates& templates : kToolTemplates) {
        const Phrase::Arg* outcome = reason.Find("outcome");
        const Phrase::Arg* words = reason.Find("words");
        if (reason.id() != templates.saying || outcome == nullptr || words == nullptr ||
            outcome->phrase == nullptr) {
            continue;
        }
        return {Phrase(templates.ours).With("outcome", *outcome->phrase), words->text};
    }
    return {reason, {}};
}

} // namespace ostrapel
