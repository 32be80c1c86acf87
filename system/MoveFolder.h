// Moving a whole folder to a new name in the same parent, in one step.
#pragma once

#include "system/Status.h"

#include <string>

namespace ostrapel {

// Renames the folder (or file) from to the name to, which must not exist yet: an entry there is
// never replaced. On the same volume the folder appears under its new name whole or not at all.
Status MoveFolder(const std::string& from, const std::string& to);

} // namespace ostrapel
