#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrapel {

// The folder the user's backups go to when nothing else is chosen: on POSIX systems
// $XDG_DATA_HOME/ostrapel/backups, or ~/.local/share/ostrapel/backups when XDG_DATA_HOME is
// unset or not absolute. No trailing separator; empty when the platform cannot tell.
std::string DefaultBackupFolder();

#ifdef _WIN32
// The work folder to use when the program folder cannot be written (unpacked under
// C:\Program Files, say): %LOCALAPPDATA%\Ostrapel\Decrypt\temp. No trailing separator, not
// created; empty when it cannot be told. Elsewhere an installed program's folder is the
// per-user one already (ProgramFolder).
std::string UserWorkFolder();

// Where a work folder with deciphered saves and copies of the cipher tool should not be.
struct SyncedOrProtected {
    // The folders Controlled folder access protects by default where they are now (a
    // redirection, to OneDrive say, followed): the user's Documents, Pictures, Videos, Music,
    // Desktop and Favorites, and the Public Documents, Pictures, Videos, Music and Desktop; and
    // the OneDrive folders the environment names (OneDrive, OneDriveConsumer,
    // OneDriveCommercial). Unknown ones left out.
    std::vector<std::string> folders;
    // A cloud-files sync root (OneDrive or another provider) holds the folder asked about, as
    // CfGetSyncRootInfoByPath tells; false where that is not there (before Windows 10 1709, Wine).
    bool underSyncRoot = false;
};
SyncedOrProtected SyncedOrProtectedFolders(const std::string& folder);
#endif

// A moment (seconds since 1970-01-01 UTC) as the local date and time "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText(std::int64_t secondsSinceEpoch);

} // namespace ostrapel
