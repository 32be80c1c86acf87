#pragma once

#include "conversion/ConvertSaves.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// Shown beside a save whose version could not be read.
inline constexpr const char* kVersionNotRead = "not read";
// The short mark a window's list shows instead, the reason in the row's tooltip.
inline constexpr const char* kVersionNotReadMark = "?";

// What the file list shows beside a save's name once its version has been read: the table's
// label ("2.00"), the stored number when it is not in the table ("250"), or "not read".
std::string ReadVersionText(const FileOutcome& outcome);

// What the file list shows beside a save's name after a batch: its new version when the batch
// changed it or found it there already; nothing when the save stayed as it was.
std::optional<std::string> VersionAfterBatch(const FileOutcome& outcome);

// The batch's progress in the file list's caption starts with the count, "3 of 12: " for the
// entry at index 2 of 12; the entry's name follows it.
std::string ProgressCount(std::size_t index, std::size_t count);

// The controls' texts. An '&' marks the letter of a control's access key ("&&" stands for an
// '&'); each window shows it its platform's way (underlined, Alt with the letter). The frame's
// key and the label's go to the control they hold or name: the list, the combo box, the button.
inline constexpr const char* kOpenLabel = "&Open Your save Folder";   // names cmdOpen
inline constexpr const char* kVersionLabel = "Select DLC &Version :"; // names ComboDLC
inline constexpr const char* kListTitle = "&File List";               // GroupBox2, holds List
inline constexpr const char* kApplyText = "&Apply and Save";          // cmdSave
inline constexpr const char* kCancelText = "Cancel";                  // cmdSave during a batch

// text as read out or shown in a tooltip: without its access key mark, "&&" as '&'.
std::string WithoutAccessKey(std::string_view text);
// text with every '&' doubled, to show as it stands where an '&' marks an access key.
std::string EscapeAccessKeys(std::string_view text);

// Names whose shared beginning is shorter than this are shown whole.
inline constexpr std::size_t kSharedBeginning = 8;
// Shown names longer than this, in characters, are cut in the middle.
inline constexpr std::size_t kShownNameLength = 40;

// What the list shows for each of names (in list order): in a run of neighbouring names that
// begin alike for at least kSharedBeginning characters, each name without that beginning
// ("..." in its place; never inside a word or a number), then cut in the middle to maxLength
// characters. A name unlike its neighbours is only cut.
std::vector<std::string> ShownNames(const std::vector<std::string>& names,
                                    std::size_t maxLength = kShownNameLength);

} // namespace ostrapel
