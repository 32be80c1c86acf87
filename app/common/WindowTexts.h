#pragma once

#include "conversion/ConvertSaves.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// Shown beside a save whose version could not be read (English; Tr gives its words).
inline constexpr const char* kVersionNotRead = N_("not read");
// The short mark a window's list shows instead, the reason in the row's tooltip.
// TRANSLATORS: a version not read, in the file list's narrow version column: one character.
inline constexpr const char* kVersionNotReadMark = N_("?");

// What the file list shows beside a save's name once its version has been read: the table's
// label ("2.00"), the stored number when it is not in the table ("250"), or "not read" in the
// program's language.
std::string ReadVersionText(const FileOutcome& outcome);

// What the file list shows beside a save's name after a batch: its new version when the batch
// changed it or found it there already; nothing when the save stayed as it was.
std::optional<std::string> VersionAfterBatch(const FileOutcome& outcome);

// The batch's progress in the file list's caption starts with its pass and the count over all
// passes, "Checking 14 of 48: " for the 14th step of 48 in the second pass; the entry's name
// follows it. The passes are named "Reading", "Checking" (the witness of each plain form),
// "Converting" and "Replacing". In the program's language.
std::string ProgressCount(std::size_t pass, std::size_t done, std::size_t total);
// The same without the ": " that leads to the name, "Checking 14 of 48".
std::string ProgressText(std::size_t pass, std::size_t done, std::size_t total);
// The count alone, "14 of 48", where the pass does not fit.
std::string ProgressOf(std::size_t done, std::size_t total);
// caption with the ": " that leads to a name after it, "File List: ", in the program's language.
std::string CaptionBeforeName(std::string_view caption);

// The controls' texts, in English: each window shows Tr(text). An '&' marks the letter of a
// control's access key ("&&" stands for an '&'); each window shows it its platform's way
// (underlined, Alt with the letter). The frame's key and the label's go to the control they hold
// or name: the list, the combo box, the button. Rooms below are the Qt window's at 100%, in
// its font.
// TRANSLATORS: the title of the frame around the window's controls, 513 px of room.
inline constexpr const char* kFrameTitle = N_("Open Folder save"); // GroupBox1
// TRANSLATORS: a bold label beside the open-folder button, 142 px of room.
inline constexpr const char* kOpenLabel = N_("&Open Your save Folder"); // names cmdOpen
// TRANSLATORS: a bold label over the DLC version list, 190 px of room.
inline constexpr const char* kVersionLabel = N_("Select DLC &Version :"); // names ComboDLC
// TRANSLATORS: the file list's caption, 105 px of room; a folder's name follows it.
inline constexpr const char* kListTitle = N_("&File List"); // GroupBox2, holds List
// TRANSLATORS: a button, 169 px of room for its words.
inline constexpr const char* kApplyText = N_("&Apply and Save"); // cmdSave
// TRANSLATORS: the same button during a conversion, 169 px of room.
inline constexpr const char* kCancelText = N_("&Cancel"); // cmdSave during a batch

// The fixed window's controls whose text has a fixed room: every language's words for them must
// fit (each window measures them with its own font against its own control).
enum class FittedControl {
    FrameTitle,   // GroupBox1's title, kFrameTitle
    OpenLabel,    // the text drawn over the open button, kOpenLabel
    VersionLabel, // the label before the version list, kVersionLabel
    ListTitle,    // the list frame's caption with no folder open, kListTitle
    ApplyButton,  // cmdSave, kApplyText
    CancelButton, // cmdSave during a batch, kCancelText
};
struct FittedText {
    FittedControl control;
    const char* id; // the English template, for Tr
};
// Every fitted control with its template, in the order above.
const std::vector<FittedText>& FittedTexts();

// text as read out or shown in a tooltip: without its access key mark, "&&" as '&'.
std::string WithoutAccessKey(std::string_view text);
// text with every '&' doubled, to show as it stands where an '&' marks an access key.
std::string EscapeAccessKeys(std::string_view text);

} // namespace ostrapel
