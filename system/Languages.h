#pragma once

#include <string>
#include <vector>

namespace ostrapel {

// The languages the user prefers for a program's texts, most preferred first, as the platform
// names them: on Windows the user's preferred UI languages ("de-DE"); elsewhere the entries of
// LANGUAGE, then the first of LC_ALL, LC_MESSAGES and LANG that is set ("de_DE.UTF-8"). Empty
// when none is told.
std::vector<std::string> PreferredLanguages();

} // namespace ostrapel
