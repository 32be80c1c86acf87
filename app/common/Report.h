#pragma once

#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "system/Phrase.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// The reports every front end shows, in the program's language (Words.h): what the core's
// results say, put into words. Names, paths and the cipher tool's words are shown as they are.

// The report's line after the first when the batch was cancelled.
inline constexpr const char* kCancelledLine =
    N_("Cancelled: the saves not changed are as they were");

// Who reads a report: each front end says how to undo in its own terms.
enum class FrontEnd { Window, CommandLine };

// The line a batch report ends with when originals were kept.
std::string BackupNote(const std::string& setFolder, const std::string& saveFolder,
                       FrontEnd reader);

// A batch's whole report for a window: its first line and the refusal when it was refused,
// else ComposeReport, then the warning, the note and the BackupNote, a blank line apart.
std::string FullReport(const BatchResult& result);

// A restore's whole report: the refusal when it was refused; else the notes of the sets passed
// over, then "No conversion of FOLDER to undo" or ComposeRestoreReport and why the set was not
// marked undone, a blank line apart.
std::string FullReport(const RestoreResult& result);

// "YYYY-MM-DD HH:MM:SS, N saves, version LABEL, undone" ("not undone") for one set, "(the
// conversion was interrupted)" after it when it was; the reason for a set that cannot be used.
std::string DescribeBackupSet(const BackupSet& set);

// Every save not restored, one "NAME: REASON" line each (the full reason), lines joined by '\n'.
std::string NotRestoredLines(const std::vector<RestoreOutcome>& files);

// "Restored N files", then "Not restored:" and NotRestoredLines when any was not.
std::string ComposeRestoreReport(const std::vector<RestoreOutcome>& files);

// A window's line for a cancelled batch: "Cancelled after 3 saves were replaced; all the others
// are as they were" ("1 save was"), "Cancelled before any save was replaced; every save is as it
// was".
std::string CancelledAfterLine(std::size_t replaced);

// "Changed versions DLC in N files" (the saves replaced), then "Already at LABEL: K files"
// when K saves held the value already, then "Cancelled" when the batch was, then the entries
// not changed with their reasons.
std::string ComposeReport(const std::vector<FileOutcome>& files, bool cancelled = false);

// "Changed:" and a line "NAME: OLD -> NEW" per save replaced; empty when none was.
std::string ListChangedSaves(const std::vector<FileOutcome>& files);

// "Changed versions DLC in N files", N the entries changed: a report's first line.
std::string ChangedVersionsLine(const std::vector<FileOutcome>& files);

// "Already at LABEL: K files" ("1 file" for one), K the saves that held the value already; empty
// when none did.
std::string AlreadyLine(const std::vector<FileOutcome>& files);

// Every entry not changed, one "NAME: REASON" line each in list order, lines joined by '\n'.
// Here and below, a save that held the value already counts as done, not as not changed.
std::string NotChangedLines(const std::vector<FileOutcome>& files);

std::size_t NotChangedCount(const std::vector<FileOutcome>& files);

// An entry a report names as left alone, and why.
struct EntryLeft {
    std::string_view name;
    Phrase reason;
    bool unread = false; // never deciphered, so its version was never read
};

// The group of the entries the cipher tool refused to decipher at all: most likely files
// beside the saves that are no saves (pictures, settings), not a fault of the run.
inline constexpr const char* kNotReadAsSaves =
    N_("not read as saves: the cipher tool refused them");
bool NotReadAsSave(const EntryLeft& entry);
bool NotReadAsSave(const FileOutcome& file);

// Whether a batch's box warns: it was refused, cancelled, found no files or no save, or left a
// save it read (or failed to read for another reason than the tool's refusal) unchanged.
bool BoxWarns(const BatchResult& result);

// The entries not changed, in list order.
std::vector<EntryLeft> EntriesNotChanged(const std::vector<FileOutcome>& files);

// What went wrong with an entry: its reason without the cipher tool's words when they name the
// entry, e.g. "cipher tool failed (exit code 65)" for notes.txt left with "cipher tool failed
// (exit code 65): cannot read notes.txt: not a save". The whole reason otherwise. Told from the
// reason's phrase (SplitToolWords), so it is the same in every language.
Phrase CauseOf(const EntryLeft& entry);

// The entries left alone for one cause.
struct ReasonGroup {
    Phrase reason;                    // the entries' cause
    std::vector<std::size_t> entries; // indexes into the entries grouped, in list order
};

// The entries grouped by cause (CauseOf), causes alike in their phrases' structure together:
// the most frequent first, reasons as frequent as each other in the order their first entries
// are listed.
std::vector<ReasonGroup> GroupByReason(const std::vector<EntryLeft>& entries);
// The same for the entries not changed, with indexes into the outcomes.
std::vector<ReasonGroup> GroupByReason(const std::vector<FileOutcome>& files);

// How much of the groups a summary shows.
struct SummaryLimits {
    std::size_t groups = 5;         // reasons with a line of their own; the rest share one
    std::size_t namesPerGroup = 3;  // names shown per reason, then "and N more"
    std::size_t nameLength = 40;    // longer names are shortened in the middle, in characters
    std::size_t reasonLength = 80;  // longer reasons are shortened at the end, in characters
    std::size_t folderLength = 260; // longer folders are shortened in the middle, in characters
};

// A reason split into our words, in the program's language, and, when the cipher tool said
// something, its own words as it said them: "cipher tool failed (exit code 3): Unknown format"
// gives "cipher tool failed (exit code 3)" and "Unknown format".
struct ReasonWords {
    std::string ours;
    std::string tools; // empty when the reason holds none
};
ReasonWords SplitReason(const Phrase& reason);

// The summary a report box shows: per reason, the most frequent first, a paragraph of up to
// three lines:
//   60 files: cipher tool failed (exit code 3)
//     The tool said: "Unknown format"
//     screenshot_1.png, screenshot_2.png, screenshot_3.png and 57 more
// Entries not read as saves (NotReadAsSave) make one group, kNotReadAsSaves, with the words the
// tool said of its first.
// our reason in full (bounded at twice limits.reasonLength, cut between words), the tool's words
// quoted on a line of their own (limits.reasonLength), then the first names; no names line when
// limits.namesPerGroup is 0. At least one group is shown whatever limits.groups; the groups
// beyond share one line "N files for M other reasons". Empty when there are no entries.
std::string ReadableSummary(const std::vector<EntryLeft>& entries,
                            const SummaryLimits& limits = {});

// How a report names a stored value: its label ("2.00"), else "not a known version (257)".
std::string ReportedValueText(std::int16_t value);

// The versions saves go back to when their originals are restored: one ("4.00"), or several
// in increasing order ("1.00, 4.00"), with how many there are. Nothing when a value is not
// recorded (a set kept before values were) or there is none.
struct VersionsBack {
    std::string text;
    std::size_t count = 0;
};
VersionsBack VersionsBackOf(const std::vector<std::optional<std::int16_t>>& values);

// One line per reason, e.g.
//   60 files: cipher tool failed (exit code 3): screenshot_1.png, screenshot_2.png,
//   screenshot_3.png and 57 more
// (one line), then "N files for M other reasons" for the groups beyond the limit. Names and
// reasons are shortened to the limits and made printable (system/Text.h), so the
// summary's size is bounded whatever the names. Empty when there are no entries.
std::string GroupedSummary(const std::vector<EntryLeft>& entries, const SummaryLimits& limits = {});
// The summary of the entries not changed; empty when every entry was changed.
std::string GroupedSummary(const std::vector<FileOutcome>& files, const SummaryLimits& limits = {});

// What a window's report box shows: the first line and the grouped summary (ReadableSummary) as
// its text, every entry not changed, one per line, as its details. A refused batch shows its
// report as it is. A cancelled batch says in one line how many saves were replaced before the
// cancel; the entries it left for the cancel alone get no group. An empty folder's batch keeps the
// first line and says the folder holds no files. When some entry was not changed, the text ends
// with the saves that were, "NAME: OLD -> NEW", the first limits.groups of them (none when 0).
struct BoxReport {
    std::string text;
    std::string details; // empty when every entry was changed

    // What copying the box gives (Ctrl+C): its text, then its details after a blank line.
    std::string Copied() const;
};
BoxReport ComposeBoxReport(const BatchResult& result, const SummaryLimits& limits = {});

// The same for a restore: "Restored N files" ("1 file" for one) and, when the result names it,
// " as they were before TIME", then, when some save was not
// restored, those grouped by reason and the folder keeping their originals as its text, and every
// one of them, "NAME: REASON" a line as ComposeRestoreReport gives them, as its details. A refused
// restore shows its report as it is.
BoxReport ComposeRestoreBoxReport(const RestoreResult& result, const SummaryLimits& limits = {});

// text cut to at most maxLength characters (UTF-8, a stray byte one character), with "..." in
// the middle or at the end standing for what was cut.
std::string ShortenedInTheMiddle(std::string_view text, std::size_t maxLength);
std::string ShortenedAtTheEnd(std::string_view text, std::size_t maxLength);

} // namespace ostrapel
