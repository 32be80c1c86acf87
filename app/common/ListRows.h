#pragma once

#include "WindowView.h"
#include "conversion/ConvertSaves.h"

#include <string>

namespace ostrapel {

// A row of the file list with its version: the version beside the name, in its tooltip and in
// what a screen reader says.
void SetVersion(ListRow& row, std::string version);

// The same for a version just read; one not read takes a short mark, and the row says why.
void SetReadVersion(ListRow& row, const FileOutcome& outcome);

} // namespace ostrapel
