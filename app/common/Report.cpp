#include "Report.h"

#include "Words.h"
#include "conversion/Backups.h"
#include "conversion/DlcVersion.h"
#include "system/Text.h"
#include "system/UserFolders.h"

#include <algorithm>
#include <optional>
#include <set>

namespace ostrapel {

namespace {

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
