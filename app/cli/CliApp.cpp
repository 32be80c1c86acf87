#include "CliApp.h"

#include "conversion/ConvertSaves.h"
#include "conversion/DlcVersion.h"
#include "conversion/Report.h"
#include "conversion/SaveFolder.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <climits>
#include <cstdlib>

namespace ostrapel {

namespace {

constexpr int kAllChanged = 0;
constexpr int kSomeNotChanged = 1;
constexpr int kBadUsage = 2;
// With more entries not changed than this, the report ends with them grouped by reason.
constexpr std::size_t kSummaryAbove = 10;

void PrintUsage(std::ostream& out) {
    out << "Usage:\n"
           "  ostrapel-cli --dlc LABEL FOLDER   set the DLC version of every save in FOLDER\n"
           "  ostrapel-cli --list FOLDER        print the saves of FOLDER, one per line\n"
           "  ostrapel-cli --help | --version\n"
           "\n"
           "LABEL is one of:";
    for (std::string_view label : DlcVersionTable::Labels()) {
        out << ' ' << label;
    }
    out << "\nThe cipher tool is Decrypt" << kPathSeparator << "decrypt.exe beside this program.\n"
        << "Exit status: 0 every save changed, 1 some not changed, 2 bad usage.\n";
}

class ProgressPrinter : public BatchObserver {
public:
    ProgressPrinter(std::ostream& out, std::size_t total) : out_(out), total_(total) {}

    void fileFinished(std::size_t index, const FileOutcome& outcome) override {
        out_ << '[' << index + 1 << '/' << total_ << "] " << outcome.name << ": "
             << (outcome.changed ? "changed" : "not changed (" + outcome.reason + ")") << '\n';
        out_.flush();
    }

private:
    std::ostream& out_;
    std::size_t total_;
};

// The folder as an absolute, resolved path, or empty when it is not a readable folder.
std::string ResolveFolder(const std::string& folder) {
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved) == nullptr ||
        KindOf(resolved) != EntryKind::Directory) {
        return {};
    }
    return resolved;
}

int Convert(const std::string& label, const std::string& folderArg, std::ostream& out,
            std::ostream& err) {
    auto value = DlcVersionTable::LookUp(label);
    if (!value) {
        err << "Unknown DLC version \"" << label << "\". Choose one of:";
        for (std::string_view known : DlcVersionTable::Labels()) {
            err << ' ' << known;
        }
        err << '\n';
        return kBadUsage;
    }
    const std::string folder = ResolveFolder(folderArg);
    if (folder.empty()) {
        err << "Not a folder: " << folderArg << '\n';
        return kBadUsage;
    }
    const std::string appDir = ApplicationDirectory();
    if (appDir.empty()) {
        err << "Cannot tell where this program is installed\n";
        return kSomeNotChanged;
    }
    // The cipher tool runs in the program's folder, as it does from the window.
    (void)SetCurrentDirectory(appDir);

    BatchRequest request{folder, ListSaveFolder(folder), appDir, std::to_string(*value)};
    ProgressPrinter progress(out, request.names.size());
    Scn_Process runner;
    BatchResult result = ConvertSaves(request, runner, &progress);
    out << result.report << '\n';
    if (result.refusal.empty() && NotChangedCount(result.files) > kSummaryAbove) {
        out << "\nNot changed, by reason:\n" << GroupedSummary(result.files) << '\n';
    }
    return result.allChanged() ? kAllChanged : kSomeNotChanged;
}

int List(const std::string& folderArg, std::ostream& out, std::ostream& err) {
    if (KindOf(folderArg) != EntryKind::Directory) {
        err << "Not a folder: " << folderArg << '\n';
        return kBadUsage;
    }
    for (const std::string& name : ListSaveFolder(folderArg)) {
        out << name << '\n';
    }
    return kAllChanged;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> positional;
    std::string mode;
    std::string label;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage(out);
            return kAllChanged;
        } else if (arg == "--version") {
            out << "ostrapel-cli " << OSTRAPEL_VERSION << '\n';
            return kAllChanged;
        } else if ((arg == "--dlc" || arg == "--list") && mode.empty()) {
            mode = arg;
            if (arg == "--dlc") {
                if (i + 1 >= args.size()) {
                    err << "--dlc needs a version label\n";
                    return kBadUsage;
                }
                label = args[++i];
            }
        } else {
            err << "Unknown option: " << arg << "\n\n";
            PrintUsage(err);
            return kBadUsage;
        }
    }
    if (mode.empty() || positional.size() != 1) {
        PrintUsage(err);
        return kBadUsage;
    }
    return mode == "--dlc" ? Convert(label, positional[0], out, err)
                           : List(positional[0], out, err);
}

} // namespace ostrapel
