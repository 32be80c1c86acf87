#include "CliApp.h"

#include "Manual.h"
#include "Report.h"
#include "Words.h"
#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "conversion/DlcVersion.h"
#include "conversion/SaveFolder.h"
#include "system/Cancel.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Text.h"
#include "system/Wine.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <optional>

namespace ostrapel {

namespace {

// With more entries not changed than this, the report ends with them grouped by reason.
constexpr std::size_t kSummaryAbove = 10;

void PrintUsage(std::ostream& out) {
    out << HelpText(CliManual()) << '\n'
        << Tr("Backups are kept in {folder}",
              {{"folder", Printable(BackupFolderFor(ProgramFolder()))}})
        << '\n';
}

class ProgressPrinter : public BatchObserver {
public:
    ProgressPrinter(std::ostream& out, std::size_t total) : out_(out), total_(total) {}

    void fileFinished(std::size_t index, const FileOutcome& outcome) override {
        const std::string at = std::to_string(index + 1);
        const std::string total = std::to_string(total_);
        const std::string name = Printable(outcome.name);
        if (outcome.changed) {
            // TRANSLATORS: a save's progress line: its place in the batch ({at} of {total}), its
            // name and what became of it. {old} and {new} are version labels such as 2.00.
            out_ << Tr("[{at}/{total}] {name}: changed {old} -> {new}",
                       {{"at", at},
                        {"total", total},
                        {"name", name},
                        {"old", Shown(outcome.oldValue)},
                        {"new", Shown(outcome.newValue)}});
        } else if (outcome.already) {
            // TRANSLATORS: a save's progress line: it held the version {value} already.
            out_ << Tr(
                "[{at}/{total}] {name}: already {value}",
                {{"at", at}, {"total", total}, {"name", name}, {"value", Shown(outcome.newValue)}});
        } else if (outcome.sameFile) {
            // TRANSLATORS: a save's progress line: {reason} names the entry that is the same
            // file.
            out_ << Tr("[{at}/{total}] {name}: {reason}",
                       {{"at", at},
                        {"total", total},
                        {"name", name},
                        {"reason", Printable(Say(outcome.reason))}});
        } else {
            // TRANSLATORS: a save's progress line: it was not changed, and why.
            out_ << Tr("[{at}/{total}] {name}: not changed ({reason})",
                       {{"at", at},
                        {"total", total},
                        {"name", name},
                        {"reason", Printable(Say(outcome.reason))}});
        }
        out_ << '\n';
        out_.flush();
    }

private:
    static std::string Shown(const std::optional<std::int16_t>& value) {
        return value ? ReportedValueText(*value) : std::string("?");
    }

    std::ostream& out_;
    std::size_t total_;
};

// Prints each save's version in list order, as soon as it and every save before it are read.
class VersionPrinter : public BatchObserver {
public:
    VersionPrinter(std::ostream& out, std::size_t total) : out_(out), outcomes_(total) {}

    void fileFinished(std::size_t index, const FileOutcome& outcome) override {
        outcomes_[index] = outcome;
        while (next_ < outcomes_.size() && outcomes_[next_]) {
            print(*outcomes_[next_++]);
        }
        out_.flush();
    }

    // The entries not heard of, when a batch ended early.
    void printRest(const BatchResult& result) {
        for (; next_ < result.files.size(); ++next_) {
            print(result.files[next_]);
        }
        out_.flush();
    }

private:
    void print(const FileOutcome& outcome) {
        // The value is a label or a number in every language; only a save not read is told in
        // words.
        out_ << Printable(outcome.name) << ": "
             << (outcome.oldValue
                     ? DlcValueText(*outcome.oldValue)
                     : Tr("not read ({reason})", {{"reason", Printable(Say(outcome.reason))}}))
             << '\n';
    }

    std::ostream& out_;
    std::vector<std::optional<FileOutcome>> outcomes_;
    std::size_t next_ = 0;
};

// The report with every name and reason made printable, so one entry is one line.
std::string PrintableReport(const BatchResult& result) {
    if (!result.refusal.empty()) {
        return ComposeReport({}) + "\n\n" + Printable(Say(result.refusal));
    }
    std::vector<FileOutcome> shown = result.files;
    for (FileOutcome& file : shown) {
        file.name = Printable(file.name);
        file.reason = Printable(Say(file.reason));
    }
    std::string report = ComposeReport(shown, result.cancelled);
    if (!result.warning.empty()) {
        report += "\n\n" + Printable(Say(result.warning));
    }
    if (!result.note.empty()) {
        report += "\n\n" + Printable(Say(result.note));
    }
    return report;
}

class RestorePrinter : public RestoreObserver {
public:
    explicit RestorePrinter(std::ostream& out) : out_(out) {}

    void fileRestored(std::size_t, const RestoreOutcome& outcome) override {
        std::string said;
        if (outcome.restored && !outcome.reason.empty()) {
            said = Printable(Say(outcome.reason));
        } else if (outcome.restored) {
            // TRANSLATORS: a restore's line after "NAME: ": the save is its original again.
            said = Tr("restored");
        } else {
            said = Printable(Say(outcome.fullReason()));
        }
        out_ << Printable(outcome.name) << ": " << said << '\n';
        out_.flush();
    }

private:
    std::ostream& out_;
};

std::string NotAFolder(const std::string& folderArg) {
    return Tr("Not a folder: {folder}", {{"folder", Printable(folderArg)}});
}

// The folder argument resolved; on failure says why and gives nothing.
std::optional<std::string> ExistingFolder(const std::string& folderArg, std::ostream& err) {
    const std::string folder = ResolvedPath(folderArg);
    if (folder.empty() || KindOf(folder) != EntryKind::Directory) {
        err << NotAFolder(folderArg) << '\n';
        return std::nullopt;
    }
    return folder;
}

int Restore(const std::string& folderArg, std::ostream& out, std::ostream& err) {
    auto folder = ExistingFolder(folderArg, err);
    if (!folder) {
        return kExitBadUsage;
    }
    RestorePrinter printer(out);
    RestoreResult result =
        RestoreLastConversion(BackupFolderFor(ProgramFolder()), *folder, &printer);
    for (const Phrase& note : result.passedOver) {
        out << Printable(Say(note)) << "\n\n";
    }
    if (result.nothingToUndo) {
        out << Printable(Say(NothingToUndo(folderArg))) << '\n';
        // Sets passed over were marked undone: not untouched, yet no save was restored.
        return result.passedOver.empty() ? kExitBadUsage : kExitSomeNotChanged;
    }
    if (!result.status) {
        err << Printable(Say(result.status.phrase())) << '\n';
        return kExitSomeNotChanged;
    }
    std::vector<RestoreOutcome> shown = result.files;
    for (RestoreOutcome& file : shown) {
        file.name = Printable(file.name);
        file.reason = Printable(Say(file.reason));
        file.original = Printable(file.original);
    }
    out << ComposeRestoreReport(shown) << '\n';
    if (!result.notMarked.empty()) {
        out << '\n' << Printable(Say(result.notMarked)) << '\n';
    }
    out.flush();
    return result.allRestored() ? kExitAllChanged : kExitSomeNotChanged;
}

int ListBackups(const std::string& folderArg, std::ostream& out, std::ostream& err) {
    auto folder = ExistingFolder(folderArg, err);
    if (!folder) {
        return kExitBadUsage;
    }
    BackupSetListing listing = ListBackupSets(BackupFolderFor(ProgramFolder()), *folder);
    if (!listing.status) {
        err << Tr("Cannot read the backups of {folder}: {reason}",
                  {{"folder", Printable(folderArg)},
                   {"reason", Printable(Say(listing.status.phrase()))}})
            << '\n';
        return kExitSomeNotChanged;
    }
    bool allUsable = true;
    for (const BackupSet& set : listing.sets) {
        out << Printable(DescribeBackupSet(set)) << '\n';
        allUsable = allUsable && set.status.ok();
    }
    if (listing.sets.empty()) {
        out << Tr("No backups of {folder}", {{"folder", Printable(folderArg)}}) << '\n';
    }
    out.flush();
    return allUsable ? kExitAllChanged : kExitSomeNotChanged;
}

struct Options {
    std::string mode;
    std::string label;
    bool null = false;
    bool force = false; // convert even when most saves read as no known version
    std::chrono::milliseconds toolTimeLimit = kDefaultToolTimeLimit;
    std::size_t jobs = DefaultJobs();
    std::vector<std::string> positional;
};

std::optional<std::chrono::milliseconds> ParseSeconds(const std::string& text) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(seconds) ||
        seconds < 0.001 || seconds > 7 * 24 * 3600.0) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

std::optional<std::size_t> ParseJobs(const std::string& text) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const std::size_t jobs = std::stoul(text);
    if (jobs < 1 || jobs > kMaxJobs) {
        return std::nullopt;
    }
    return jobs;
}

// Reads the save folder; on failure says why and gives no listing.
std::optional<SaveFolderListing> ReadFolder(const std::string& folder, std::ostream& err) {
    SaveFolderListing listing = ReadSaveFolder(folder);
    if (!listing.status) {
        err << Tr("Cannot read folder {folder}: {reason}",
                  {{"folder", Printable(folder)},
                   {"reason", Printable(Say(listing.status.phrase()))}})
            << '\n';
        return std::nullopt;
    }
    return listing;
}

int CancelledStatus(const Interruption& interruption) {
    const bool byCtrlC = interruption.signal != nullptr && interruption.signal->load() == SIGINT;
    return byCtrlC ? kExitInterrupted : kExitSomeNotChanged;
}

// What --dlc and --show share: the folder checked and listed into the request, the program
// folder made current. Returns kExitAllChanged when the request is ready, else the status.
// Notices (Wine's first use) go to notices.
int Prepare(const Options& options, BatchRequest& request, std::ostream& notices,
            std::ostream& err) {
    const std::string& folderArg = options.positional[0];
    const std::string folder = ResolvedPath(folderArg);
    if (folder.empty() || KindOf(folder) != EntryKind::Directory) {
        err << NotAFolder(folderArg) << '\n';
        return kExitBadUsage;
    }
    const std::string appDir = ProgramFolder();
    if (appDir.empty()) {
        err << Say(kNoProgramFolder) << '\n';
        return kExitSomeNotChanged;
    }
    if (Status usable = CheckSaveFolder(folder, appDir); !usable) {
        err << Printable(Say(usable.phrase())) << '\n';
        return kExitBadUsage;
    }
    auto listing = ReadFolder(folder, err);
    if (!listing) {
        return kExitBadUsage;
    }
    const std::string tool = CipherToolOf(appDir);
    if (RunsThroughWine(tool)) {
        if (FindWine().empty()) {
            err << Say(kWineMissing) << '\n';
            return kExitBadUsage;
        }
        if (const std::string prefix = WinePrefix(); !WinePrefixReady(prefix)) {
            notices << Tr("Wine sets up its prefix {prefix} on this first use; that takes a while",
                          {{"prefix", Printable(prefix)}})
                    << '\n';
            notices.flush();
        }
    }
    // The cipher tool runs in the program's folder, as it does from the window.
    (void)SetCurrentDirectory(appDir);
    request.saveFolder = folder;
    request.names = std::move(listing->names);
    request.appDir = appDir;
    request.toolTimeLimit = options.toolTimeLimit;
    request.jobs = options.jobs;
    return kExitAllChanged;
}

int Convert(const Options& options, std::ostream& out, std::ostream& err,
            const Interruption& interruption) {
    auto value = DlcVersionTable::LookUp(options.label);
    if (!value) {
        std::string labels;
        for (std::string_view known : DlcVersionTable::Labels()) {
            labels.append(labels.empty() ? "" : " ").append(known);
        }
        // TRANSLATORS: {labels} are the version labels, "0.00 1.00 ...".
        err << Tr("Unknown DLC version \"{label}\". Choose one of: {labels}",
                  {{"label", Printable(options.label)}, {"labels", labels}})
            << '\n';
        return kExitBadUsage;
    }
    BatchRequest request;
    if (int refused = Prepare(options, request, out, err); refused != kExitAllChanged) {
        return refused;
    }
    request.valueText = std::to_string(*value);
    request.cancel = interruption.flag;
    request.stopOnUnknownVersions = !options.force;
    ProgressPrinter progress(out, request.names.size());
    Scn_Process runner;
    BatchResult result = ConvertSaves(request, runner, &progress);
    out << PrintableReport(result) << '\n';
    if (result.refusal.empty() && NotChangedCount(result.files) > kSummaryAbove) {
        out << '\n'
            << Tr("Not changed, by reason:") << '\n'
            << GroupedSummary(result.files) << '\n';
    }
    if (!result.backupSet.empty()) {
        out << '\n'
            << Printable(BackupNote(result.backupSet, result.saveFolder, FrontEnd::CommandLine))
            << '\n';
    }
    if (result.unknownVersions > 0) {
        out << '\n' << Tr("Nothing was changed; --force converts them all the same.") << '\n';
        out.flush();
        return kExitUnknownVersions;
    }
    out.flush();
    if (result.cancelled) {
        return CancelledStatus(interruption);
    }
    return result.allChanged() ? kExitAllChanged : kExitSomeNotChanged;
}

int Show(const Options& options, std::ostream& out, std::ostream& err,
         const Interruption& interruption) {
    BatchRequest request;
    // The output is one line per entry; the notice goes apart.
    if (int refused = Prepare(options, request, err, err); refused != kExitAllChanged) {
        return refused;
    }
    request.cancel = interruption.flag;
    VersionPrinter printer(out, request.names.size());
    Scn_Process runner;
    BatchResult result = ReadSaveVersions(request, runner, &printer);
    if (!result.refusal.empty()) {
        err << Printable(Say(result.refusal)) << '\n';
        return kExitSomeNotChanged;
    }
    printer.printRest(result);
    if (!result.note.empty()) {
        err << Printable(Say(result.note)) << '\n';
    }
    if (result.cancelled) {
        // TRANSLATORS: --show was stopped (Ctrl-C) before every save was read.
        err << Tr("Cancelled") << '\n';
        return CancelledStatus(interruption);
    }
    const bool allRead =
        std::all_of(result.files.begin(), result.files.end(),
                    [](const FileOutcome& file) { return file.oldValue.has_value(); });
    return allRead ? kExitAllChanged : kExitSomeNotChanged;
}

int List(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string& folder = options.positional[0];
    if (KindOf(folder) != EntryKind::Directory) {
        err << NotAFolder(folder) << '\n';
        return kExitBadUsage;
    }
    auto listing = ReadFolder(folder, err);
    if (!listing) {
        return kExitBadUsage;
    }
    for (const std::string& name : listing->names) {
        if (options.null) {
            out << name << '\0';
        } else {
            out << Printable(name) << '\n';
        }
    }
    out.flush();
    return kExitAllChanged;
}

// The language --language names, before anything prints: "" when none is named, nullopt when
// the option has no tag after it. Options end at "--".
std::optional<std::string> LanguageOption(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] == "--language") {
            if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == '-') {
                return std::nullopt;
            }
            return args[i + 1];
        }
    }
    return std::string();
}

// Whether tag names English, which has no catalogue: "en", "en_GB", "C", ...
bool NamesEnglish(const std::string& tag) {
    const std::string language = NormalisedLanguage(tag);
    return language.empty() || language == "en" || language.rfind("en_", 0) == 0;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const Interruption& interruption) {
    // Before anything else, and before the folder changes: a relative path from the
    // environment means the folder the program was started in.
    ResolveEnvironmentPaths();
    // The language first: every word after this is in it.
    const std::optional<std::string> language = LanguageOption(args);
    const std::string chosen = UseLanguage(language.value_or(""));
    if (language && !language->empty() && chosen.empty() && !NamesEnglish(*language)) {
        err << Tr("No translation into {language}; English is used",
                  {{"language", Printable(*language)}})
            << '\n';
    }
    Options options;
    bool optionsEnded = false;
    auto badUsage = [&](const std::string& why) {
        err << why << "\n\n";
        PrintUsage(err);
        return kExitBadUsage;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            options.positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage(out);
            return kExitAllChanged;
        } else if (arg == "--language") {
            if (!language) {
                return badUsage(Tr("--language needs a language tag, such as de or pt_BR"));
            }
            ++i; // read above
        } else if (arg == "--version") {
            out << "ostrapel-cli " << OSTRAPEL_VERSION << '\n';
            return kExitAllChanged;
        } else if ((arg == "--dlc" || arg == "--list" || arg == "--show" || arg == "--restore" ||
                    arg == "--backups") &&
                   options.mode.empty()) {
            options.mode = arg;
            if (arg == "--dlc") {
                if (i + 1 >= args.size()) {
                    return badUsage(Tr("--dlc needs a version label"));
                }
                options.label = args[++i];
            }
        } else if (arg == "--null") {
            options.null = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--tool-timeout") {
            auto limit = i + 1 < args.size() ? ParseSeconds(args[++i]) : std::nullopt;
            if (!limit) {
                const std::string given = i < args.size() ? args[i] : std::string();
                if (given.find(',') != std::string::npos) {
                    std::string dotted = given;
                    std::replace(dotted.begin(), dotted.end(), ',', '.');
                    if (ParseSeconds(dotted)) {
                        return badUsage(
                            Tr("--tool-timeout takes a decimal point, not a comma: {seconds}",
                               {{"seconds", Printable(dotted)}}));
                    }
                }
                return badUsage(Tr("--tool-timeout needs a number of seconds greater than 0"));
            }
            options.toolTimeLimit = *limit;
        } else if (arg == "--jobs") {
            auto jobs = i + 1 < args.size() ? ParseJobs(args[++i]) : std::nullopt;
            if (!jobs) {
                return badUsage(Tr("--jobs needs a whole number from 1 to {max}",
                                   {{"max", std::to_string(kMaxJobs)}}));
            }
            options.jobs = *jobs;
        } else {
            return badUsage(Tr("Unknown option: {option}", {{"option", Printable(arg)}}));
        }
    }
    if (options.mode.empty() || options.positional.size() != 1) {
        PrintUsage(err);
        return kExitBadUsage;
    }
    if (options.null && options.mode != "--list") {
        return badUsage(Tr("--null goes with --list"));
    }
    if (options.mode == "--restore") {
        return Restore(options.positional[0], out, err);
    }
    if (options.mode == "--backups") {
        return ListBackups(options.positional[0], out, err);
    }
    if (options.mode == "--dlc") {
        return Convert(options, out, err, interruption);
    }
    if (options.mode == "--show") {
        return Show(options, out, err, interruption);
    }
    return List(options, out, err);
}

} // namespace ostrapel
