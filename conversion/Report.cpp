#include "conversion/Report.h"

#include "conversion/Backups.h"
#include "conversion/DlcVersion.h"
#include "system/Paths.h"
#include "system/Text.h"

#include <algorithm>
#include <map>
#include <optional>

namespace ostrapel {

namespace {

constexpr std::string_view kEllipsis = "...";

// Byte offsets at which the characters of text start, and the text's size last.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    std::size_t at = 0;
    while (at < text.size()) {
        starts.push_back(at);
        at += FirstCharacter(text.substr(at)).length;
    }
    starts.push_back(text.size());
    return starts;
}

std::string Files(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

// text cut to maxLength characters with "..." for what was cut: from the middle when keepEnd,
// else from the end.
std::string Shortened(std::string_view text, std::size_t maxLength, bool keepEnd) {
    const std::vector<std::size_t> starts = CharacterStarts(text);
    const std::size_t length = starts.size() - 1;
    if (length <= maxLength) {
        return std::string(text);
    }
    if (maxLength <= kEllipsis.size()) {
        return std::string(kEllipsis.substr(0, maxLength));
    }
    const std::size_t kept = maxLength - kEllipsis.size();
    const std::size_t tail = keepEnd ? kept / 2 : 0;
    return std::string(text.substr(0, starts[kept - tail])) + std::string(kEllipsis) +
           std::string(text.substr(starts[length - tail]));
}

} // namespace

std::string ShortenedInTheMiddle(std::string_view text, std::size_t maxLength) {
    return Shortened(text, maxLength, true);
}

std::string ShortenedAtTheEnd(std::string_view text, std::size_t maxLength) {
    return Shortened(text, maxLength, false);
}

std::string ChangedVersionsLine(const std::vector<FileOutcome>& files) {
    const auto changed = std::count_if(files.begin(), files.end(),
                                       [](const FileOutcome& file) { return file.changed; });
    return "Changed versions DLC in " + std::to_string(changed) + " files";
}

std::string AlreadyLine(const std::vector<FileOutcome>& files) {
    std::size_t already = 0;
    std::optional<std::int16_t> value;
    for (const FileOutcome& file : files) {
        if (file.already) {
            ++already;
            value = file.newValue ? file.newValue : file.oldValue;
        }
    }
    if (already == 0) {
        return {};
    }
    return "Already at " + (value ? DlcValueText(*value) : std::string("the value")) + ": " +
           Files(already);
}

std::string NotChangedLines(const std::vector<FileOutcome>& files) {
    std::string lines;
    for (const FileOutcome& file : files) {
        if (!file.done()) {
            lines += (lines.empty() ? "" : "\n") + file.name + ": " + file.reason.English();
        }
    }
    return lines;
}

std::size_t NotChangedCount(const std::vector<FileOutcome>& files) {
    return static_cast<std::size_t>(std::count_if(
        files.begin(), files.end(), [](const FileOutcome& file) { return !file.done(); }));
}

std::vector<EntryLeft> EntriesNotChanged(const std::vector<FileOutcome>& files) {
    std::vector<EntryLeft> entries;
    for (const FileOutcome& file : files) {
        if (!file.done()) {
            entries.push_back({file.name, file.reason.English()});
        }
    }
    return entries;
}

std::string_view CauseOf(const EntryLeft& entry) {
    constexpr std::string_view kApart = ": ";
    const std::string_view reason = entry.reason;
    if (entry.name.empty()) {
        return reason;
    }
    // The words from the first part that names the entry on are its own; the parts before them
    // say what went wrong.
    const std::size_t named = reason.find(entry.name);
    if (named == std::string_view::npos) {
        return reason;
    }
    const std::size_t cut = reason.rfind(kApart, named);
    return cut == std::string_view::npos || cut == 0 ? reason : reason.substr(0, cut);
}

std::vector<ReasonGroup> GroupByReason(const std::vector<EntryLeft>& entries) {
    std::vector<ReasonGroup> groups;
    std::map<std::string_view, std::size_t> groupOf;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string_view cause = CauseOf(entries[i]);
        auto [at, added] = groupOf.try_emplace(cause, groups.size());
        if (added) {
            groups.push_back({std::string(cause), {}});
        }
        groups[at->second].entries.push_back(i);
    }
    // Groups stand in the order of their first entries; a stable sort keeps it among equals.
    std::stable_sort(groups.begin(), groups.end(), [](const ReasonGroup& a, const ReasonGroup& b) {
        return a.entries.size() > b.entries.size();
    });
    return groups;
}

std::vector<ReasonGroup> GroupByReason(const std::vector<FileOutcome>& files) {
    std::vector<std::size_t> outcomeOf;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!files[i].done()) {
            outcomeOf.push_back(i);
        }
    }
    std::vector<ReasonGroup> groups = GroupByReason(EntriesNotChanged(files));
    for (ReasonGroup& group : groups) {
        for (std::size_t& entry : group.entries) {
            entry = outcomeOf[entry];
        }
    }
    return groups;
}

std::string GroupedSummary(const std::vector<EntryLeft>& entries, const SummaryLimits& limits) {
    const std::vector<ReasonGroup> groups = GroupByReason(entries);
    std::vector<std::string> lines;
    const std::size_t shown = std::min(groups.size(), limits.groups);
    for (std::size_t g = 0; g < shown; ++g) {
        const ReasonGroup& group = groups[g];
        std::string line = Files(group.entries.size()) + ": " +
                           Printable(ShortenedAtTheEnd(group.reason, limits.reasonLength));
        const std::size_t named = std::min(group.entries.size(), limits.namesPerGroup);
        for (std::size_t n = 0; n < named; ++n) {
            line +=
                (n == 0 ? ": " : ", ") +
                Printable(ShortenedInTheMiddle(entries[group.entries[n]].name, limits.nameLength));
        }
        if (named > 0 && named < group.entries.size()) {
            line += " and " + std::to_string(group.entries.size() - named) + " more";
        }
        lines.push_back(std::move(line));
    }
    if (shown < groups.size()) {
        std::size_t rest = 0;
        for (std::size_t g = shown; g < groups.size(); ++g) {
            rest += groups[g].entries.size();
        }
        const std::size_t reasons = groups.size() - shown;
        lines.push_back(Files(rest) + " for " + std::to_string(reasons) +
                        (shown > 0 ? " other" : "") + (reasons == 1 ? " reason" : " reasons"));
    }
    std::string summary;
    for (const std::string& line : lines) {
        summary += (summary.empty() ? "" : "\n") + line;
    }
    return summary;
}

namespace {

// text cut at the end to maxLength characters, between words where a word boundary lies in its
// second half, with "..." for what was cut.
std::string ShortenedBetweenWords(std::string_view text, std::size_t maxLength) {
    const std::vector<std::size_t> starts = CharacterStarts(text);
    if (starts.size() - 1 <= maxLength || maxLength <= 2 * kEllipsis.size()) {
        return ShortenedAtTheEnd(text, maxLength);
    }
    const std::size_t kept = maxLength - kEllipsis.size();
    for (std::size_t at = kept; at > kept / 2; --at) {
        if (text[starts[at]] == ' ') {
            std::string_view head = text.substr(0, starts[at]);
            while (!head.empty() && (head.back() == ',' || head.back() == ':')) {
                head.remove_suffix(1);
            }
            return std::string(head) + std::string(kEllipsis);
        }
    }
    return ShortenedAtTheEnd(text, maxLength);
}

constexpr std::string_view kCipherTool = "cipher tool ";
constexpr std::string_view kIndent = "    ";

} // namespace

ReasonWords SplitReason(std::string_view reason) {
    // A tool that could not be started said nothing: the words after are the system's.
    if (!reason.starts_with(kCipherTool) ||
        reason.starts_with("cipher tool could not be started")) {
        return {reason, {}};
    }
    // The tool's words follow the first ": " after ours, whose brackets may hold one.
    const std::size_t open = reason.find('(');
    const std::size_t closed = open < reason.find(": ") ? reason.find(')', open) : 0;
    const std::size_t apart = reason.find(": ", closed == std::string_view::npos ? 0 : closed);
    if (apart == std::string_view::npos) {
        return {reason, {}};
    }
    return {reason.substr(0, apart), reason.substr(apart + 2)};
}

std::string ReportedValueText(std::int16_t value) {
    if (auto label = DlcVersionTable::LabelOf(value)) {
        return std::string(*label);
    }
    return "not a known version (" + std::to_string(value) + ")";
}

std::string CancelledAfterLine(std::size_t replaced) {
    if (replaced == 0) {
        return "Cancelled before any save was replaced; every save is as it was";
    }
    return "Cancelled after " +
           (replaced == 1 ? std::string("1 save was") : std::to_string(replaced) + " saves were") +
           " replaced; all the others are as they were";
}

std::string ReadableSummary(const std::vector<EntryLeft>& entries, const SummaryLimits& limits) {
    const std::vector<ReasonGroup> groups = GroupByReason(entries);
    std::string summary;
    const auto addLine = [&summary](const std::string& line) {
        summary += (summary.empty() ? "" : "\n") + line;
    };
    const std::size_t shown = std::min(groups.size(), std::max<std::size_t>(limits.groups, 1));
    for (std::size_t g = 0; g < shown; ++g) {
        const ReasonGroup& group = groups[g];
        const ReasonWords words = SplitReason(group.reason);
        addLine(Files(group.entries.size()) + ": " +
                Printable(ShortenedBetweenWords(words.ours, 2 * limits.reasonLength)));
        if (!words.tools.empty()) {
            addLine(std::string(kIndent) + "The tool said: \"" +
                    Printable(ShortenedBetweenWords(words.tools, limits.reasonLength)) + "\"");
        }
        const std::size_t named = std::min(group.entries.size(), limits.namesPerGroup);
        if (named == 0) {
            continue;
        }
        std::string names(kIndent);
        for (std::size_t n = 0; n < named; ++n) {
            names +=
                (n == 0 ? "" : ", ") +
                Printable(ShortenedInTheMiddle(entries[group.entries[n]].name, limits.nameLength));
        }
        if (named < group.entries.size()) {
            names += " and " + std::to_string(group.entries.size() - named) + " more";
        }
        addLine(names);
    }
    if (shown < groups.size()) {
        std::size_t rest = 0;
        for (std::size_t g = shown; g < groups.size(); ++g) {
            rest += groups[g].entries.size();
        }
        const std::size_t reasons = groups.size() - shown;
        addLine(Files(rest) + " for " + std::to_string(reasons) +
                (reasons == 1 ? " other reason" : " other reasons"));
    }
    return summary;
}

std::string GroupedSummary(const std::vector<FileOutcome>& files, const SummaryLimits& limits) {
    return GroupedSummary(EntriesNotChanged(files), limits);
}

std::string BoxReport::Copied() const {
    return details.empty() ? text : text + "\n\n" + details;
}

BoxReport ComposeBoxReport(const BatchResult& result, const SummaryLimits& limits) {
    if (result.refusal.empty() && result.files.empty() && !result.cancelled) {
        // The first line is the program's; what it means here is said after it.
        return {ChangedVersionsLine(result.files) + "\n\nThere are no files in " +
                    Printable(ShortenedInTheMiddle(result.saveFolder, limits.folderLength)) +
                    ": nothing was changed",
                {}};
    }
    if (!result.refusal.empty() || NotChangedCount(result.files) == 0) {
        return {result.report, {}};
    }
    std::string text = ChangedVersionsLine(result.files);
    if (std::string already = AlreadyLine(result.files); !already.empty()) {
        text += "\n" + already;
    }
    // The entries a cancel left are told in one line, not grouped.
    std::vector<EntryLeft> left;
    for (const EntryLeft& entry : EntriesNotChanged(result.files)) {
        if (!result.cancelled || entry.reason != "cancelled") {
            left.push_back(entry);
        }
    }
    if (result.cancelled) {
        text += "\n\n" + CancelledAfterLine(result.changedCount);
    }
    if (!left.empty()) {
        text += "\n\nNot changed:\n" + ReadableSummary(left, limits);
    }
    // Not wholly successful: what did change, and from which version.
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < result.files.size(); ++i) {
        if (result.files[i].changed && result.files[i].oldValue && result.files[i].newValue) {
            changed.push_back(i);
        }
    }
    const std::size_t shown = std::min(changed.size(), limits.groups);
    if (shown > 0) {
        text += "\n\nChanged:";
        for (std::size_t n = 0; n < shown; ++n) {
            const FileOutcome& file = result.files[changed[n]];
            text.append("\n")
                .append(Printable(ShortenedInTheMiddle(file.name, limits.nameLength)))
                .append(": ")
                .append(ReportedValueText(*file.oldValue))
                .append(" -> ")
                .append(ReportedValueText(*file.newValue));
        }
        if (shown < changed.size()) {
            text.append("\nand ").append(Files(changed.size() - shown)).append(" more");
        }
    }
    if (!result.note.empty()) {
        text += "\n\n" + result.note.English();
    }
    if (!result.backupSet.empty()) {
        text += "\n\n" + BackupNote(ShortenedInTheMiddle(result.backupSet, limits.folderLength),
                                    ShortenedInTheMiddle(result.saveFolder, limits.folderLength),
                                    FrontEnd::Window);
    }
    return {text, NotChangedLines(result.files)};
}

BoxReport ComposeRestoreBoxReport(const RestoreResult& result, const SummaryLimits& limits) {
    if (!result.status || result.nothingToUndo) {
        return {result.report, {}};
    }
    std::vector<EntryLeft> left;
    bool originalsNamed = false;
    for (const RestoreOutcome& file : result.files) {
        if (!file.restored) {
            left.push_back({file.name, file.reason.English()});
            originalsNamed = originalsNamed || !file.original.empty();
        }
    }
    std::string text = "Restored " + Files(result.restoredCount);
    if (!result.restoredTo.empty()) {
        text += " " + result.restoredTo.English();
    }
    for (auto note = result.passedOver.rbegin(); note != result.passedOver.rend(); ++note) {
        text = Printable(note->English()) + "\n\n" + text;
    }
    if (!left.empty()) {
        text += "\n\nNot restored:\n" + ReadableSummary(left, limits);
    }
    if (originalsNamed) {
        text += "\n\nThe originals of the saves not restored are kept in " +
                Printable(ShortenedInTheMiddle(result.setFolder, limits.folderLength));
    }
    if (!result.notMarked.empty()) {
        text += "\n\n" +
                Printable(ShortenedAtTheEnd(result.notMarked.English(), 2 * limits.reasonLength));
    }
    return {text, NotRestoredLines(result.files)};
}

std::string ComposeReport(const std::vector<FileOutcome>& files, bool cancelled) {
    std::string report = ChangedVersionsLine(files);
    if (std::string already = AlreadyLine(files); !already.empty()) {
        report += "\n" + already;
    }
    if (cancelled) {
        report += "\n\n" + std::string(kCancelledLine);
    }
    if (std::string notChanged = NotChangedLines(files); !notChanged.empty()) {
        report += "\n\nNot changed:\n" + notChanged;
    }
    return report;
}

std::string ListChangedSaves(const std::vector<FileOutcome>& files) {
    std::string listing;
    for (const FileOutcome& file : files) {
        if (file.changed) {
            listing += "\n" + file.name + ": " +
                       (file.oldValue ? DlcValueText(*file.oldValue) : std::string("?")) + " -> " +
                       (file.newValue ? DlcValueText(*file.newValue) : std::string("?"));
        }
    }
    return listing.empty() ? listing : "Changed:" + listing;
}

} // namespace ostrapel
