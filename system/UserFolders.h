#pragma once

#include <cstdint>
#include <string>

namespace ostrapel {

// The folder the user's backups go to when nothing else is chosen: on POSIX systems
// $XDG_DATA_HOME/ostrapel/backups, or ~/.local/share/ostrapel/backups when XDG_DATA_HOME is
// unset or not absolute. No trailing separator; empty when the platform cannot tell.
std::string DefaultBackupFolder();

// A moment (seconds since 1970-01-01 UTC) as the local date and time "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText(std::int64_t secondsSinceEpoch);

} // namespace ostrapel
