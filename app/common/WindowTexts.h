#pragma once

#include "conversion/ConvertSaves.h"

#include <cstddef>
#include <optional>
#include <string>

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

} // namespace ostrapel
