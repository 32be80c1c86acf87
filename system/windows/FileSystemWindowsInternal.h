#pragma once

// What the pieces of the Windows file system share: looking at an entry, trying
// again while another program holds a file, and naming a refused write.

#include "Handle.h"
#include "ReplaceRules.h"
#include "WindowsText.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <windows.h>
#undef SetCurrentDirectory // the wide macro would rename this program's own function

namespace ostrapel::win {

// Any sharing: the program's own opens never stand in another program's way.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Readers and deleters only: an open that no writer can share, nor begin while it lasts.
inline constexpr DWORD kShareWithoutWriters = FILE_SHARE_READ | FILE_SHARE_DELETE;

inline DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesW(win::FilePath(path).c_str());
}

// Opens an entry only to look at it; folders too, following links.
inline HANDLE OpenToLookAt(const std::string& path) {
    return ::CreateFileW(win::FilePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle);

// Whether the file open as handle (for reading, at its start) holds bytes of that digest; a
// file that cannot be read does not.
bool Holds(HANDLE handle, const Sha256Digest& digest);

// Copies everything from in to out, appending it to kept when given; returns 0 or the error
// code.
DWORD CopyContents(HANDLE in, HANDLE out, std::string* kept = nullptr);

inline bool InUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_USER_MAPPED_FILE;
}

// Why a write in folder failed with error, in words a player can act on; the last status
// is still the failed call's. With facts: what the caller found out besides.
Status WriteFailure(DWORD error, const std::wstring& folder);
Status WriteFailure(DWORD error, const std::wstring& folder, RefusalFacts facts);

// Whether the last call failed on a file being deleted (its last status says so).
bool DeletePending();

// Whether the access list of path grants this process access (whatever a filter such as
// Controlled folder access then decides); nullopt where it cannot be read (a file system
// without access lists). Allows: granted for certain.
std::optional<bool> AccessListGrants(const std::wstring& path, DWORD access);
inline bool AccessListAllows(const std::wstring& path, DWORD access) {
    return AccessListGrants(path, access).value_or(false);
}

inline std::wstring FolderOf(const std::string& path) {
    return win::FilePath(ParentOf(path));
}

// Tries an operation again while another program holds the file for a moment (a virus scanner,
// the search indexer, a sync client): pauses of 10 ms doubling up to 250 ms, about 2 s in all.
// attempt returns 0 or an error code; beforePause, when given, runs before each pause (to let go
// of what the attempt holds).
template <class Attempt, class BeforePause = void (*)()>
DWORD Retrying(
    Attempt attempt, BeforePause beforePause = [] {}) {
    DWORD waited = 0;
    DWORD pause = 10;
    for (;;) {
        const DWORD error = attempt();
        if (error == 0 || !(InUse(error) || error == ERROR_ACCESS_DENIED) ||
            waited >= win::kInUsePatienceMs) {
            return error;
        }
        beforePause();
        ::Sleep(pause);
        waited += pause;
        pause = std::min<DWORD>(pause * 2, 250);
    }
}

// Opens an existing file, tried again while it is in use. Readers share deleting too, so they
// never keep a program from replacing or removing the file.
HANDLE OpenExisting(const std::string& path, DWORD access, DWORD share, DWORD flags);

// The final path of an open file, in the \\?\ form: by drive letter, or by volume GUID on a
// volume without one. Empty when the system cannot tell.
std::wstring FinalPathOf(HANDLE handle, DWORD volumeName);

} // namespace ostrapel::win
