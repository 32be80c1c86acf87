#pragma once

// Decisions of the Windows file layer that Wine cannot show, kept apart so they can be tested.

#include <string>

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

// Whether a reparse point of this tag stands for another name (a symbolic link, a junction, a
// mount point) and so counts as a link; others (cloud files, deduplicated or compressed files)
// are the entry itself.
bool IsLinkTag(unsigned long tag);

// Whether a file of these attributes has its data elsewhere, so that reading it fetches it:
// recalled on data access or on open (a cloud file online-only), or offline (moved to remote
// storage).
bool IsOnlineOnlyAttributes(unsigned long attributes);

// What of a save's basic information the replacement is given: its attributes but those that
// describe the old file's storage (a reparse point, compression, encryption, sparseness, data
// kept offline or recalled from the cloud), and its creation time; the other times are left.
struct ReplacementBasics {
    unsigned long attributes = 0;
    long long creationTime = 0;
    bool operator==(const ReplacementBasics&) const = default;
};
ReplacementBasics ReplacementBasicsFor(unsigned long saveAttributes, long long saveCreationTime);

// The reason a write refused with error is given: "in use" only after a sharing violation; an
// access denied where the access list allows the write is Windows refusing it (Controlled folder
// access); otherwise the system's reason.
std::string WriteRefusalText(unsigned long error, bool accessListAllows);

} // namespace ostrapel::win
