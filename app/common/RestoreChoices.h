#pragma once

#include "WindowRules.h"
#include "conversion/Backups.h"
#include "system/Phrase.h"

#include <string>
#include <vector>

namespace ostrapel {

// The file list menu's only item when the listed folder has no conversion to undo (English;
// the menu gives it in words).
inline constexpr const char* kNothingToRestore = N_("No conversion of this folder to undo");

// The file list menu's items: one per set of the folder not undone, newest first, at most
// kBackupSetsKept, each "&1 Back to 4.00, as before 2026-12-08 04:00:12 (2 saves)" with an
// access key (1 to 9, 0, then A on): the versions going back there gives the saves, or, for a
// set kept before they were recorded, "As they were before TIME (2 saves set to 2.00)". A set that
// cannot be used shows why and is disabled. No set: kNothingToRestore, disabled. enabled false
// disables them all (work is under way). In the program's language, as is the question.
std::vector<RestoreMenuItem> RestoreMenuItems(const BackupSetListing& listing, bool enabled);

// The question asked before restoring back to the set of item: what gets its original back,
// what is left because it was written since, and the later conversions undone with it.
std::string RestoreQuestion(const RestoreMenuItem& item, const RestorePlan& plan);

} // namespace ostrapel
