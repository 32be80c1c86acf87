// Where the jobs of a batch run the cipher tool side by side, each in a place of its own.
#pragma once

#include "system/Phrase.h"

#include <cstddef>
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

// What the cipher tool's folder of appDir is now: its resolved path, then the relative name,
// size, modification time and file id of every file and folder in it, folders followed (the
// program's own files (IsOwnEntryOfToolFolder), the work folder workFolder and Decrypt/temp
// beside the program left out), summed up by SHA-256. Any file of the tool's folder replaced,
// written, added, removed or renamed gives another stamp; reading the folder costs no more than
// listing it. Empty when the folder cannot be read.
std::string ToolStamp(const std::string& appDir, const std::string& workFolder);

// Whether an entry of the tool's folder is left out of its stamp and of the jobs' copies of it:
// the program's own temporaries by their exact name form (IsTemporaryName) and the lock file a
// work folder named workFolderName has beside it (".ostrapel-NAME.lock", Windows).
bool IsOwnEntryOfToolFolder(const std::string& name, const std::string& workFolderName);

struct JobPlaces {
    std::vector<JobPlace> places; // one per job; none: the tool runs where it is, one at a time
    Phrase note;                  // why there are none although several jobs were asked for
};

// The places for a batch of this many jobs, at stable paths in the work folder's kJobsFolder:
// N/ for job N, with N/Decrypt a copy of the tool's folder, N/temp its temporary folder, and
// N/ its working folder. A place whose copy was made from the tool's folder as it is now
// (stamp: ToolStamp) is reused as it is; another is built beside under a temporary name and
// renamed into place, so a copy in use is never half-made. Leftovers of a build cut short are
// removed. With one job, or when a place cannot be made, there are none. Call with the work
// folder's lock held.
JobPlaces MakeJobPlaces(const std::string& appDir, const std::string& workFolder, std::size_t jobs,
                        const std::string& stamp);

// Empties what the runs left in the job places (loose files in each working folder, the
// temporary folders) and removes what is not a place; the copies of the tool's folder stay.
void ClearJobPlaces(const std::string& workFolder);

} // namespace ostrapel
