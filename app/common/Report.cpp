#include "Report.h"

#include "Words.h"
#include "conversion/Backups.h"
#include "conversion/DlcVersion.h"
#include "system/Paths.h"
#include "system/Text.h"
#include "system/UserFolders.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

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
    return TrN("{n} file", "{n} files", count);
}

// "NAME, NAME, NAME and N more": the first named of the group's entries, and how many more.
std::string NamesOf(const std::vector<std::string>& names, std::size_t more) {
    std::string list;
    for (const std::string& name : names) {
        // TRANSLATORS: names of files listed one after another; {name} is the next one.
        list = list.empty() ? name : Tr("{list}, {name}", {{"list", list}, {"name", name}});
    }
    if (more == 0) {
        return list;
    }
    // TRANSLATORS: {names} lists file names; {n} files more are not named.
    return TrN("{names} and {n} more", "{names} and {n} more", more, {{"names", list}});
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

// A line for each restored save that says how it was put back, each after a blank line.
std::string RestoredNotes(const std::vector<RestoreOutcome>& files) {
    std::string lines;
    for (const RestoreOutcome& file : files) {
        if (file.restored && !file.reason.empty()) {
            lines += "\n\n" + Tr("{name}: {reason}", {{"name", Printable(file.name)},
                                                      {"reason", Printable(Say(file.reason))}});
        }
    }
    return lines;
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
    // TRANSLATORS: the report's first line; its English is fixed, "1 files" among it.
    return TrN("Changed versions DLC in {n} files", "Changed versions DLC in {n} files",
               static_cast<std::uint64_t>(changed));
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
    const std::string label = value ? DlcValueText(*value) : Tr("the value");
    return TrN("Already at {value}: {n} file", "Already at {value}: {n} files", already,
               {{"value", label}});
}

std::string NotChangedLines(const std::vector<FileOutcome>& files) {
    std::string lines;
    for (const FileOutcome& file : files) {
        if (!file.done()) {
            lines += (lines.empty() ? "" : "\n") +
                     Tr("{name}: {reason}", {{"name", file.name}, {"reason", Say(file.reason)}});
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
            entries.push_back({file.name, file.reason, !file.oldValue});
        }
    }
    return entries;
}

bool NotReadAsSave(const EntryLeft& entry) {
    return entry.unread && ToolRefused(entry.reason);
}

bool NotReadAsSave(const FileOutcome& file) {
    return !file.done() && NotReadAsSave(EntryLeft{file.name, file.reason, !file.oldValue});
}

bool BoxWarns(const BatchResult& result) {
    if (result.files.empty() || !result.refusal.empty() || !result.warning.empty() ||
        result.cancelled) {
        return true;
    }
    bool read = false; // some save was read: not a folder of pictures alone
    for (const FileOutcome& file : result.files) {
        if (!file.done() && !NotReadAsSave(file)) {
            return true;
        }
        read = read || file.done();
    }
    return !read;
}

Phrase CauseOf(const EntryLeft& entry) {
    // The tool's words that name the entry are its own; our words before them say what went
    // wrong.
    ToolSaying saying = SplitToolWords(entry.reason);
    if (entry.name.empty() || saying.words.find(entry.name) == std::string::npos) {
        return entry.reason;
    }
    return std::move(saying.ours);
}

std::vector<ReasonGroup> GroupByReason(const std::vector<EntryLeft>& entries) {
    std::vector<ReasonGroup> groups;
    // Keyed by the phrase's English: its templates and parameters, whatever the language.
    std::map<std::string, std::size_t> groupOf;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Phrase cause = CauseOf(entries[i]);
        auto [at, added] = groupOf.try_emplace(cause.English(), groups.size());
        if (added) {
            groups.push_back({std::move(cause), {}});
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
        const std::string files = Files(group.entries.size());
        const std::string reason =
            Printable(ShortenedAtTheEnd(Say(group.reason), limits.reasonLength));
        const std::size_t named = std::min(group.entries.size(), limits.namesPerGroup);
        std::vector<std::string> names;
        for (std::size_t n = 0; n < named; ++n) {
            names.push_back(
                Printable(ShortenedInTheMiddle(entries[group.entries[n]].name, limits.nameLength)));
        }
        lines.push_back(named == 0 ? Tr("{files}: {reason}", {{"files", files}, {"reason", reason}})
                                   : Tr("{files}: {reason}: {names}",
                                        {{"files", files},
                                         {"reason", reason},
                                         {"names", NamesOf(names, group.entries.size() - named)}}));
    }
    if (shown < groups.size()) {
        std::size_t rest = 0;
        for (std::size_t g = shown; g < groups.size(); ++g) {
            rest += groups[g].entries.size();
        }
        const std::size_t reasons = groups.size() - shown;
        const std::string files = Files(rest);
        lines.push_back(shown > 0
                            ? TrN("{files} for {n} other reason", "{files} for {n} other reasons",
                                  reasons, {{"files", files}})
                            : TrN("{files} for {n} reason", "{files} for {n} reasons", reasons,
                                  {{"files", files}}));
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

constexpr std::string_view kIndent = "    ";

} // namespace

ReasonWords SplitReason(const Phrase& reason) {
    ToolSaying saying = SplitToolWords(reason);
    return {Say(saying.ours), std::move(saying.words)};
}

std::string ReportedValueText(std::int16_t value) {
    if (auto label = DlcVersionTable::LabelOf(value)) {
        return std::string(*label);
    }
    return Tr("not a known version ({value})", {{"value", std::to_string(value)}});
}

VersionsBack VersionsBackOf(const std::vector<std::optional<std::int16_t>>& values) {
    std::set<std::int16_t> distinct;
    for (const std::optional<std::int16_t>& value : values) {
        if (!value) {
            return {};
        }
        distinct.insert(*value);
    }
    VersionsBack back;
    for (std::int16_t value : distinct) {
        back.text += (back.count++ == 0 ? "" : ", ") + ReportedValueText(value);
    }
    return back;
}

std::string CancelledAfterLine(std::size_t replaced) {
    if (replaced == 0) {
        return Tr("Cancelled before any save was replaced; every save is as it was");
    }
    return TrN("Cancelled after {n} save was replaced; all the others are as they were",
               "Cancelled after {n} saves were replaced; all the others are as they were",
               replaced);
}

std::string ReadableSummary(const std::vector<EntryLeft>& given, const SummaryLimits& limits) {
    std::vector<EntryLeft> entries = given;
    std::string refusedWords; // what the tool said of the first entry not read as a save
    for (EntryLeft& entry : entries) {
        if (NotReadAsSave(entry)) {
            if (refusedWords.empty()) {
                refusedWords = SplitToolWords(entry.reason).words;
            }
            entry.reason = Phrase(kNotReadAsSaves);
        }
    }
    const std::vector<ReasonGroup> groups = GroupByReason(entries);
    std::string summary;
    const auto addLine = [&summary](const std::string& line) {
        summary += (summary.empty() ? "" : "\n") + line;
    };
    const std::size_t shown = std::min(groups.size(), std::max<std::size_t>(limits.groups, 1));
    for (std::size_t g = 0; g < shown; ++g) {
        const ReasonGroup& group = groups[g];
        ReasonWords words = SplitReason(group.reason);
        if (group.reason.id() == kNotReadAsSaves) {
            words.tools = refusedWords;
        }
        addLine(Tr(
            "{files}: {reason}",
            {{"files", Files(group.entries.size())},
             {"reason", Printable(ShortenedBetweenWords(words.ours, 2 * limits.reasonLength))}}));
        if (!words.tools.empty()) {
            addLine(std::string(kIndent) + Tr("The tool said: \"{words}\"",
                                              {{"words", Printable(ShortenedBetweenWords(
                                                             words.tools, limits.reasonLength))}}));
        }
        const std::size_t named = std::min(group.entries.size(), limits.namesPerGroup);
        if (named == 0) {
            continue;
        }
        std::vector<std::string> names;
        for (std::size_t n = 0; n < named; ++n) {
            names.push_back(
                Printable(ShortenedInTheMiddle(entries[group.entries[n]].name, limits.nameLength)));
        }
        addLine(std::string(kIndent) + NamesOf(names, group.entries.size() - named));
    }
    if (shown < groups.size()) {
        std::size_t rest = 0;
        for (std::size_t g = shown; g < groups.size(); ++g) {
            rest += groups[g].entries.size();
        }
        const std::size_t reasons = groups.size() - shown;
        addLine(TrN("{files} for {n} other reason", "{files} for {n} other reasons", reasons,
                    {{"files", Files(rest)}}));
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
        return {ChangedVersionsLine(result.files) + "\n\n" +
                    Tr("There are no files in {path}: nothing was changed",
                       {{"path",
                         Printable(ShortenedInTheMiddle(result.saveFolder, limits.folderLength))}}),
                {}};
    }
    if (!result.refusal.empty() || NotChangedCount(result.files) == 0) {
        return {FullReport(result), {}};
    }
    std::string text = ChangedVersionsLine(result.files);
    if (std::string already = AlreadyLine(result.files); !already.empty()) {
        text += "\n" + already;
    }
    // The entries a cancel left are told in one line, not grouped.
    std::vector<EntryLeft> left;
    for (const EntryLeft& entry : EntriesNotChanged(result.files)) {
        if (!result.cancelled || entry.reason.id() != "cancelled") {
            left.push_back(entry);
        }
    }
    if (result.cancelled) {
        text += "\n\n" + CancelledAfterLine(result.changedCount);
    }
    if (!left.empty()) {
        text += "\n\n" + Tr("Not changed:") + "\n" + ReadableSummary(left, limits);
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
        text += "\n\n" + Tr("Changed:");
        for (std::size_t n = 0; n < shown; ++n) {
            const FileOutcome& file = result.files[changed[n]];
            text +=
                "\n" + Tr("{name}: {old} -> {new}",
                          {{"name", Printable(ShortenedInTheMiddle(file.name, limits.nameLength))},
                           {"old", ReportedValueText(*file.oldValue)},
                           {"new", ReportedValueText(*file.newValue)}});
        }
        if (shown < changed.size()) {
            text += "\n" + TrN("and {n} file more", "and {n} files more", changed.size() - shown);
        }
    }
    if (!result.note.empty()) {
        text += "\n\n" + Say(result.note);
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
        return {FullReport(result), {}};
    }
    std::vector<EntryLeft> left;
    bool originalsNamed = false;
    for (const RestoreOutcome& file : result.files) {
        if (!file.restored) {
            left.push_back({file.name, file.reason});
            originalsNamed = originalsNamed || !file.original.empty();
        }
    }
    std::string text = result.restoredTo.empty()
                           ? TrN("Restored {n} file", "Restored {n} files", result.restoredCount)
                           : TrN("Restored {n} file {when}", "Restored {n} files {when}",
                                 result.restoredCount, {{"when", Say(result.restoredTo)}});
    std::vector<std::optional<std::int16_t>> before;
    for (const RestoreOutcome& file : result.files) {
        if (file.restored) {
            before.push_back(file.before);
        }
    }
    if (const VersionsBack back = VersionsBackOf(before); back.count == 1) {
        // TRANSLATORS: after "Restored N files ...": the DLC version the saves hold again.
        text += "\n" + Tr("Back to {version}.", {{"version", back.text}});
    } else if (back.count > 1) {
        // TRANSLATORS: after "Restored N files ...": the DLC versions the saves hold again,
        // e.g. "1.00, 4.00".
        text += "\n" + Tr("Back to versions {versions}.", {{"versions", back.text}});
    }
    for (auto note = result.passedOver.rbegin(); note != result.passedOver.rend(); ++note) {
        text = Printable(Say(*note)) + "\n\n" + text;
    }
    text += RestoredNotes(result.files);
    if (!left.empty()) {
        text += "\n\n" + Tr("Not restored:") + "\n" + ReadableSummary(left, limits);
    }
    if (originalsNamed) {
        text +=
            "\n\n" +
            Tr("The originals of the saves not restored are kept in {path}",
               {{"path", Printable(ShortenedInTheMiddle(result.setFolder, limits.folderLength))}});
    }
    if (!result.notMarked.empty()) {
        text +=
            "\n\n" + Printable(ShortenedAtTheEnd(Say(result.notMarked), 2 * limits.reasonLength));
    }
    return {text, NotRestoredLines(result.files)};
}

std::string ComposeReport(const std::vector<FileOutcome>& files, bool cancelled) {
    std::string report = ChangedVersionsLine(files);
    if (std::string already = AlreadyLine(files); !already.empty()) {
        report += "\n" + already;
    }
    if (cancelled) {
        report += "\n\n" + Tr(kCancelledLine);
    }
    if (std::string notChanged = NotChangedLines(files); !notChanged.empty()) {
        report += "\n\n" + Tr("Not changed:") + "\n" + notChanged;
    }
    return report;
}

std::string ListChangedSaves(const std::vector<FileOutcome>& files) {
    std::string listing;
    for (const FileOutcome& file : files) {
        if (file.changed) {
            listing += '\n';
            listing += Tr("{name}: {old} -> {new}",
                          {{"name", file.name},
                           {"old", file.oldValue ? DlcValueText(*file.oldValue) : "?"},
                           {"new", file.newValue ? DlcValueText(*file.newValue) : "?"}});
        }
    }
    return listing.empty() ? listing : Tr("Changed:") + listing;
}

std::string BackupNote(const std::string& setFolder, const std::string& saveFolder,
                       FrontEnd reader) {
    if (reader == FrontEnd::Window) {
        return Tr("The originals are kept in {path}; to put them back, right-click the file "
                  "list, or press Shift+F10",
                  {{"path", setFolder}});
    }
    return Tr("The originals are kept in {path}; to put them back, run ostrapel-cli --restore "
              "{folder}",
              {{"path", setFolder}, {"folder", saveFolder}});
}

std::string FullReport(const BatchResult& result) {
    if (!result.refusal.empty()) {
        return ComposeReport({}) + "\n\n" + Say(result.refusal);
    }
    std::string report = ComposeReport(result.files, result.cancelled);
    for (const Phrase* said : {&result.warning, &result.note}) {
        if (!said->empty()) {
            report += "\n\n" + Say(*said);
        }
    }
    if (!result.backupSet.empty()) {
        report += "\n\n" + BackupNote(result.backupSet, result.saveFolder, FrontEnd::Window);
    }
    return report;
}

std::string FullReport(const RestoreResult& result) {
    if (!result.status) {
        return Say(result.status.phrase());
    }
    std::string report = result.nothingToUndo ? Say(NothingToUndo(result.saveFolder))
                                              : ComposeRestoreReport(result.files);
    for (auto note = result.passedOver.rbegin(); note != result.passedOver.rend(); ++note) {
        report = Say(*note) + "\n\n" + report;
    }
    if (!result.notMarked.empty()) {
        report += "\n\n" + Say(result.notMarked);
    }
    return report;
}

std::string DescribeBackupSet(const BackupSet& set) {
    if (!set.status) {
        return Tr("{path}: cannot be used: {reason}",
                  {{"path", set.folder}, {"reason", Say(set.status.phrase())}});
    }
    const BackupManifest& manifest = set.manifest;
    std::string value;
    for (const DlcVersion& row : DlcVersionTable::kRows) {
        if (row.value == manifest.value) {
            value = Tr("version {label}", {{"label", row.label}});
        }
    }
    if (value.empty()) {
        value = Tr("value {value}", {{"value", std::to_string(manifest.value)}});
    }
    const std::string time = LocalTimeText(manifest.time);
    // TRANSLATORS: one backup set in the list; its English says "saves" for one save too.
    std::string line =
        manifest.undone
            ? TrN("{time}, {n} saves, {value}, undone", "{time}, {n} saves, {value}, undone",
                  manifest.saves.size(), {{"time", time}, {"value", value}})
            : TrN("{time}, {n} saves, {value}, not undone",
                  "{time}, {n} saves, {value}, not undone", manifest.saves.size(),
                  {{"time", time}, {"value", value}});
    if (!manifest.complete) {
        line = Tr("{set} (the conversion was interrupted)", {{"set", line}});
    }
    return line;
}

std::string NotRestoredLines(const std::vector<RestoreOutcome>& files) {
    std::string lines;
    for (const RestoreOutcome& file : files) {
        if (!file.restored) {
            if (!lines.empty()) {
                lines += '\n';
            }
            lines +=
                Tr("{name}: {reason}", {{"name", file.name}, {"reason", Say(file.fullReason())}});
        }
    }
    return lines;
}

std::string ComposeRestoreReport(const std::vector<RestoreOutcome>& files) {
    const auto restored = std::count_if(files.begin(), files.end(),
                                        [](const RestoreOutcome& file) { return file.restored; });
    std::string report =
        TrN("Restored {n} file", "Restored {n} files", static_cast<std::uint64_t>(restored));
    report += RestoredNotes(files);
    if (std::string notRestored = NotRestoredLines(files); !notRestored.empty()) {
        report += "\n\n" + Tr("Not restored:") + "\n" + notRestored;
    }
    return report;
}

} // namespace ostrapel
