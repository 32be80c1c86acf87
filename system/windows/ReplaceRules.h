#pragma once

// Decisions of the Windows file layer that Wine cannot show, kept apart so they can be tested.

#include "system/Phrase.h"

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

// What is known of a write Windows refused.
struct RefusalFacts {
    bool folderAllows = false;      // the folder's access list lets this user make files there
    bool deletePending = false;     // the name is a file being deleted, still open elsewhere
    bool saveForbidsDelete = false; // the save's and its folder's access lists keep it (a rename)
    bool networkShare = false;      // the folder is on a network share
};

// The reason a write refused with error is given: "in use" only after a sharing violation; an
// access denied by what is known of it, and where the access lists allow the write, as Windows
// refusing it with its likely causes (ransomware protection such as Controlled folder access;
// on a network share, the share's own permissions). Otherwise the system's reason.
Phrase WriteRefusal(unsigned long error, const RefusalFacts& facts);

} // namespace ostrapel::win
