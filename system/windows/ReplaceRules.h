#pragma once

// Decisions of the Windows file layer that Wine cannot show, kept apart so they can be tested.

namespace ostrapel::win {

// How a finished temporary is renamed over a save.
enum class RenameWay { PosixSemantics, Classic, None };

// The way to try after tried failed with error: the classic rename where POSIX semantics are
// unknown to the system or the file system; None to give up with that error.
RenameWay RenameWayAfter(RenameWay tried, unsigned long error);

// What of a save's security descriptor the replacement is given, as ReplaceFileW keeps it.
struct SecurityToKeep {
    unsigned long dacl = 0; // SECURITY_INFORMATION flags for the DACL; 0 to leave it
    bool owner = false;     // owner and group are to be set (they differ from the new file's)
    bool operator==(const SecurityToKeep&) const = default;
};

// control: the save's security descriptor control bits; sameOwner: whether the new file
// already has the save's owner and group.
SecurityToKeep SecurityToKeepFor(unsigned short control, bool sameOwner);

} // namespace ostrapel::win
