// Where the jobs of a batch run the cipher tool side by side, each in a place of its own.
#include "conversion/JobPlaces.h"

#include "conversion/ProgramFolder.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Status.h"

#include <random>
#include <utility>

namespace ostrapel {

namespace {

// Deeper than this, a copy of the tool's folder is not made (a link loop).
constexpr int kToolFolderDepth = 16;

// Copies the files and folders of from into the new folder to, leaving out skip (resolved).
Status CopyFolder(const std::string& from, const std::string& to, const std::string& skip,
                  int depth = 0) {
    if (depth > kToolFolderDepth) {
        return Status::Fail("folders too deep: " + from);
    }
    if (Status made = MakeDirectory(to); !made) {
        return made;
    }
    ListingResult listing = ListDirectory(from);
    if (!listing.status) {
        return listing.status;
    }
    for (const DirectoryEntry& entry : listing.entries) {
        if (entry.name.starts_with(kTemporaryPrefix)) {
            continue; // this program's own, such as the work folder's lock on Windows
        }
        const std::string source = JoinPath(from, entry.name);
        const std::string target = JoinPath(to, entry.name);
        Status copied = Status::Ok();
        if (entry.kind == EntryKind::Directory) {
            if (!SamePathText(ResolvedPath(source), skip)) {
                copied = CopyFolder(source, target, skip, depth + 1);
            }
        } else if (entry.kind == EntryKind::File) {
            CopyOptions options;
            options.keepMode = true;
            copied = CopyFileTo(source, target, options);
        }
        if (!copied) {
            return copied;
        }
    }
    return Status::Ok();
}

} // namespace

std::vector<JobPlace> MakeJobPlaces(const std::string& appDir, const std::string& workFolder,
                                    std::size_t jobs) {
    if (jobs < 2) {
        return {};
    }
    const std::string toolFolder = ParentOf(CipherToolOf(appDir));
    const std::string resolved = ResolvedPath(workFolder);
    // A folder of this batch's own: copies an earlier batch could not remove (a tool it started
    // still runs from one) are left as they are.
    const std::string all =
        JoinPath(JoinPath(workFolder, kJobsFolder), std::to_string(std::random_device{}()));
    if (!MakeDirectory(JoinPath(workFolder, kJobsFolder)) || !MakeDirectory(all)) {
        return {};
    }
    std::vector<JobPlace> places;
    for (std::size_t job = 0; job < jobs; ++job) {
        const std::string folder = JoinPath(all, std::to_string(job));
        // Laid out as the program folder is, which one job alone runs the tool in: a path the
        // tool takes from its working folder ("Decrypt/...") leads into the job's copy.
        JobPlace place{Join({folder, "Decrypt", "decrypt.exe"}), folder, JoinPath(folder, "temp")};
        if (!MakeDirectory(folder) ||
            !CopyFolder(toolFolder, JoinPath(folder, "Decrypt"), resolved) ||
            !MakeDirectory(place.workingFolder) || !MakeDirectory(place.temporaryFolder)) {
            // Without a place for every job, the tool runs where it is, one run at a time.
            (void)RemoveTree(all);
            return {};
        }
        places.push_back(std::move(place));
    }
    return places;
}

} // namespace ostrapel
