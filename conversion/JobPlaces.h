// Where the jobs of a batch run the cipher tool side by side, each in a place of its own.
#pragma once

#include "system/Phrase.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrapel {

// Where one job runs the cipher tool: its own copy of the tool's folder, working folder and
// temporary folder.
struct JobPlace {
    std::string tool;
    std::string workingFolder;
    std::string temporaryFolder;
};

// What the cipher tool's folder of appDir is now: its resolved path, the SHA-256 of the tool's
// own bytes, then the relative name, size, modification time, change time and file id of every
// file and folder in it, folders followed (the program's own files (IsOwnEntryOfToolFolder), the
// work folder workFolder and Decrypt/temp beside the program left out), summed up by SHA-256. Any
// file of the tool's folder replaced, written, added, removed or renamed gives another stamp, and
// the tool rewritten in place whatever times were set on it; besides the tool, reading the folder
// costs no more than listing it. The stamp is empty when the folder cannot be read.
struct ToolLook {
    std::string stamp;
    std::string toolDigest;  // SHA-256 of the tool itself, in hex; empty when there is none
    std::uint64_t bytes = 0; // what a copy of the folder takes
};
ToolLook LookAtTool(const std::string& appDir, const std::string& workFolder);
// LookAtTool's stamp.
std::string ToolStamp(const std::string& appDir, const std::string& workFolder);

// Whether an entry of the tool's folder is left out of its stamp and of the jobs' copies of it:
// the program's own temporaries by their exact name form (IsTemporaryName) and the lock file a
// work folder named workFolderName has beside it (".ostrapel-NAME.lock", Windows).
bool IsOwnEntryOfToolFolder(const std::string& name, const std::string& workFolderName);

struct JobPlaces {
    // One per job; none: the tool runs where it is, in the work folder, one run at a time.
    std::vector<JobPlace> places;
    Phrase note; // why there are fewer than the jobs asked for, when there are
};

// The most the copies of the tool's folder may take together, and the share of the free space.
inline constexpr std::uint64_t kMostCopyBytes = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kFreeSpaceShare = 10; // a tenth

// The places for a batch of this many jobs, at stable paths in the work folder's kJobsFolder:
// N/ for job N, with N/Decrypt a copy of the tool's folder, N/temp its temporary folder, and
// N/ its working folder. Even one job gets one: every run of a batch runs the same verified copy,
// never the tool where it is. A place whose copy was made from the tool's folder as it is now
// (look: LookAtTool) and whose tool has the tool's digest is reused as it is; another is built
// beside under a temporary name and renamed into place, so a copy in use is never half-made.
// Leftovers of a build cut short are removed. Fewer places than jobs when the copies would take
// more than kMostCopyBytes or a kFreeSpaceShare of the work folder's free space (said in the
// note); none when not even one copy fits or can be made. Call with the work folder's lock held.
JobPlaces MakeJobPlaces(const std::string& appDir, const std::string& workFolder, std::size_t jobs,
                        const ToolLook& look);

// Empties what the runs left in the job places (loose files in each working folder, the
// temporary folders) and removes what is not a place; the copies of the tool's folder stay.
void ClearJobPlaces(const std::string& workFolder);

} // namespace ostrapel
