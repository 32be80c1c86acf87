// Where the jobs of a batch run the cipher tool side by side, each in a place of its own.
#include "conversion/JobPlaces.h"

#include "conversion/ProgramFolder.h"
#include "system/FileSystem.h"
#include "system/MoveFolder.h"
#include "system/Paths.h"
#include "system/Sha256.h"
#include "system/Status.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrapel {

namespace {

// Deeper than this, the tool's folder is neither stamped nor copied (a link loop).
constexpr int kToolFolderDepth = 16;

constexpr const char* kStampSuffix = ".stamp";

// What a walk of the tool's folder leaves out: the work folder and the one beside the program,
// which is a work folder too when the work folder moved to the user's own place (resolved), and
// the program's own files.
struct Skips {
    std::vector<std::string> workFolders;
    std::string workFolderName;
};

Skips SkipsFor(const std::string& appDir, const std::string& workFolder) {
    std::string name = workFolder;
    while (name.size() > 1 && (name.back() == '/' || name.back() == '\\')) {
        name.pop_back();
    }
    const auto slash = name.find_last_of("/\\");
    Skips skips{{}, slash == std::string::npos ? name : name.substr(slash + 1)};
    for (const std::string& folder : {workFolder, Join({appDir, "Decrypt", "temp"})}) {
        if (std::string resolved = ResolvedPath(folder); !resolved.empty()) {
            skips.workFolders.push_back(std::move(resolved));
        }
    }
    return skips;
}

bool Skipped(const Skips& skips, const DirectoryEntry& entry, const std::string& path) {
    if (IsOwnEntryOfToolFolder(entry.name, skips.workFolderName)) {
        return true;
    }
    if (entry.kind != EntryKind::Directory) {
        return false;
    }
    const std::string resolved = ResolvedPath(path);
    return std::any_of(
        skips.workFolders.begin(), skips.workFolders.end(),
        [&resolved](const std::string& work) { return SamePathText(resolved, work); });
}

// The stamp's lines for the folder's entries, by name, under prefix.
Status StampLines(const std::string& folder, const std::string& prefix, const Skips& skips,
                  std::string& lines, std::uint64_t& bytes, int depth = 0) {
    if (depth > kToolFolderDepth) {
        return Status::Fail(Phrase(N_("folders too deep: {path}")).With("path", folder));
    }
    ListingResult listing = ListDirectory(folder);
    if (!listing.status) {
        return listing.status;
    }
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    for (const DirectoryEntry& entry : listing.entries) {
        const std::string path = JoinPath(folder, entry.name);
        if (Skipped(skips, entry, path)) {
            continue;
        }
        const std::string name = prefix + entry.name;
        if (entry.kind == EntryKind::Directory) {
            lines += name + "/\n";
            if (Status walked = StampLines(path, name + "/", skips, lines, bytes, depth + 1);
                !walked) {
                return walked;
            }
            continue;
        }
        const std::optional<FileIdentity> id = IdentityOf(path);
        const std::optional<std::int64_t> changed = ChangeTimeOf(path);
        if (!id || !changed) {
            return Status::Fail(Phrase(N_("cannot look at {path}")).With("path", path));
        }
        lines += name + '\t' + std::to_string(id->size) + '\t' + std::to_string(id->modifiedNs) +
                 '\t' + std::to_string(*changed) + '\t' + std::to_string(id->device) + '\t' +
                 std::to_string(id->inode) + '\n';
        bytes += static_cast<std::uint64_t>(std::max<std::int64_t>(id->size, 0));
    }
    return Status::Ok();
}

// Copies the files and folders of from into the new folder to, leaving out what skips tells.
Status CopyFolder(const std::string& from, const std::string& to, const Skips& skips,
                  int depth = 0) {
    if (depth > kToolFolderDepth) {
        return Status::Fail(Phrase(N_("folders too deep: {path}")).With("path", from));
    }
    if (Status made = MakeDirectory(to); !made) {
        return made;
    }
    ListingResult listing = ListDirectory(from);
    if (!listing.status) {
        return listing.status;
    }
    for (const DirectoryEntry& entry : listing.entries) {
        const std::string source = JoinPath(from, entry.name);
        if (Skipped(skips, entry, source)) {
            continue;
        }
        const std::string target = JoinPath(to, entry.name);
        Status copied = Status::Ok();
        if (entry.kind == EntryKind::Directory) {
            copied = CopyFolder(source, target, skips, depth + 1);
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

// The SHA-256 of a file's bytes in hex; empty when it cannot be read.
std::string DigestOf(const std::string& path) {
    std::string bytes;
    return ReadWholeFile(path, bytes) ? Sha256Hex(bytes) : std::string();
}

bool IsPlaceName(std::string_view name) {
    return !name.empty() && name.size() <= 3 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The place of one job, built anew from the tool's folder unless its copy has the stamp.
Status MakePlace(const std::string& toolFolder, const std::string& jobs, std::size_t job,
                 const std::string& stamp, const Skips& skips, bool anew, JobPlace& place) {
    const std::string folder = JoinPath(jobs, std::to_string(job));
    const std::string stampFile = folder + kStampSuffix;
    // Laid out as the program folder is, which one job alone runs the tool in: a path the tool
    // takes from its working folder ("Decrypt/...") leads into the job's copy.
    place = {Join({folder, "Decrypt", "decrypt.exe"}), folder, JoinPath(folder, "temp")};
    std::string made;
    // A copy whose tool went missing since (deleted by hand, say) is made again too.
    if (anew || KindOf(folder) != EntryKind::Directory || IsSymbolicLink(folder) ||
        !ReadWholeFile(stampFile, made) || made != stamp ||
        (KindOf(Join({toolFolder, "decrypt.exe"})) == EntryKind::File &&
         KindOf(place.tool) != EntryKind::File)) {
        // The stamp goes first and comes back last: a place without one is never used.
        if (KindOf(stampFile) != EntryKind::Missing) {
            if (Status removed = RemoveFile(stampFile); !removed) {
                return removed;
            }
        }
        const std::string building = JoinPath(jobs, NewTemporaryName());
        Status built = MakeDirectory(building);
        if (built) {
            built = CopyFolder(toolFolder, JoinPath(building, "Decrypt"), skips);
        }
        if (built && KindOf(folder) != EntryKind::Missing) {
            if (IsSymbolicLink(folder)) {
                built = RemoveFile(folder);
                if (!built) {
                    built = RemoveEmptyDirectory(folder); // a link to a folder, on Windows
                }
            } else {
                built = RemoveTree(folder);
            }
        }
        if (built) {
            built = MoveFolder(building, folder);
        }
        if (!built) {
            (void)RemoveTree(building);
            return built;
        }
        if (Status stamped = WriteFileAtomically(stampFile, stamp); !stamped) {
            return stamped;
        }
    }
    if (KindOf(place.temporaryFolder) != EntryKind::Directory) {
        return MakeDirectory(place.temporaryFolder);
    }
    return Status::Ok();
}

} // namespace

bool IsOwnEntryOfToolFolder(const std::string& name, const std::string& workFolderName) {
    return IsTemporaryName(name) ||
           (!workFolderName.empty() &&
            name == std::string(kTemporaryPrefix) + workFolderName + ".lock");
}

ToolLook LookAtTool(const std::string& appDir, const std::string& workFolder) {
    const std::string toolFolder = ResolvedPath(ParentOf(CipherToolOf(appDir)));
    if (toolFolder.empty()) {
        return {};
    }
    ToolLook look;
    look.toolDigest = DigestOf(CipherToolOf(appDir));
    std::string lines = toolFolder + '\n' + look.toolDigest + '\n';
    if (!StampLines(toolFolder, {}, SkipsFor(appDir, workFolder), lines, look.bytes)) {
        return {};
    }
    look.stamp = Sha256Hex(lines);
    return look;
}

std::string ToolStamp(const std::string& appDir, const std::string& workFolder) {
    return LookAtTool(appDir, workFolder).stamp;
}

JobPlaces MakeJobPlaces(const std::string& appDir, const std::string& workFolder, std::size_t jobs,
                        const ToolLook& look) {
    if (jobs < 1) {
        return {};
    }
    const auto alone = [](Phrase why) {
        return JobPlaces{{},
                         Phrase(N_("The cipher tool ran on one save at a time from its own folder: "
                                   "its copies could not be made ({reason})"))
                             .With("reason", std::move(why))};
    };
    const auto at = [](const std::string& path, const Status& why) {
        // TRANSLATORS: {path} is a folder, {reason} what went wrong with it.
        return Phrase(N_("{path}: {reason}")).With("path", path).With("reason", why.phrase());
    };
    if (look.stamp.empty() || look.toolDigest.empty()) {
        return alone(N_("its folder cannot be read"));
    }
    // The copies are bounded: a large tool folder runs fewer jobs, one at least while a copy
    // fits in the free space's share.
    const std::uint64_t each = std::max<std::uint64_t>(look.bytes, 1);
    const std::uint64_t megabytes = (each + (std::uint64_t{1} << 20) - 1) >> 20;
    std::uint64_t fit =
        std::min<std::uint64_t>(jobs, std::max<std::uint64_t>(kMostCopyBytes / each, 1));
    if (const std::optional<std::uint64_t> free = FreeSpaceOf(workFolder)) {
        fit = std::min<std::uint64_t>(fit, *free / kFreeSpaceShare / each);
    }
    if (fit == 0) {
        return alone(Phrase(N_("too little free space for a copy of {megabytes} MB"))
                         .With("megabytes", megabytes));
    }
    Phrase note;
    if (fit < jobs) {
        note = Phrase(N_("Fewer saves were worked on at once than asked for: each copy of the "
                         "cipher tool's folder takes {megabytes} MB"))
                   .With("megabytes", megabytes);
        jobs = static_cast<std::size_t>(fit);
    }
    const std::string all = JoinPath(workFolder, kJobsFolder);
    if (KindOf(all) != EntryKind::Directory) {
        if (Status made = MakeDirectory(all); !made) {
            return alone(at(all, made));
        }
    }
    const std::string toolFolder = ParentOf(CipherToolOf(appDir));
    const Skips skips = SkipsFor(appDir, workFolder);
    JobPlaces made;
    made.note = std::move(note);
    for (std::size_t job = 0; job < jobs; ++job) {
        JobPlace place;
        // A copy is used only with the very tool looked at: one rewritten since, in the copy or
        // in the tool's folder, is copied again, and once more fails the batch's copies.
        Status ready = MakePlace(toolFolder, all, job, look.stamp, skips, false, place);
        if (ready && DigestOf(place.tool) != look.toolDigest) {
            ready = MakePlace(toolFolder, all, job, look.stamp, skips, true, place);
            if (ready && DigestOf(place.tool) != look.toolDigest) {
                ready = Status::Fail(N_("the cipher tool changed while it was copied"));
            }
        }
        if (!ready) {
            // Without a place for every job, the tool runs where it is, one run at a time.
            return alone(at(JoinPath(all, std::to_string(job)), ready));
        }
        made.places.push_back(std::move(place));
    }
    // Copies of another tool beyond this batch's jobs would never be used as they are: they go,
    // so the copies kept never add up past the bound of the tool looked at.
    for (const DirectoryEntry& entry : ListDirectory(all).entries) {
        const std::string folder = JoinPath(all, entry.name);
        std::string stamp;
        if (entry.kind == EntryKind::Directory && IsPlaceName(entry.name) &&
            std::stoul(entry.name) >= jobs && !IsSymbolicLink(folder) &&
            (!ReadWholeFile(folder + kStampSuffix, stamp) || stamp != look.stamp)) {
            (void)RemoveFile(folder + kStampSuffix);
            (void)RemoveTree(folder);
        }
    }
    return made;
}

void ClearJobPlaces(const std::string& workFolder) {
    const std::string all = JoinPath(workFolder, kJobsFolder);
    if (KindOf(all) != EntryKind::Directory || IsSymbolicLink(all)) {
        return;
    }
    for (const DirectoryEntry& entry : ListDirectory(all).entries) {
        const std::string path = JoinPath(all, entry.name);
        if (entry.kind == EntryKind::Directory && IsPlaceName(entry.name) &&
            !IsSymbolicLink(path)) {
            (void)RemoveFilesIn(path);
            if (const std::string temporary = JoinPath(path, "temp");
                KindOf(temporary) == EntryKind::Directory && !IsSymbolicLink(temporary)) {
                (void)RemoveTree(temporary);
            }
        } else if (entry.kind == EntryKind::File && entry.name.ends_with(kStampSuffix) &&
                   IsPlaceName(
                       std::string_view(entry.name)
                           .substr(0, entry.name.size() - std::string_view(kStampSuffix).size()))) {
            continue;
        } else if (entry.kind == EntryKind::Directory && !IsSymbolicLink(path)) {
            (void)RemoveTree(path); // a place's build cut short
        } else if (!RemoveFile(path)) {
            (void)RemoveEmptyDirectory(path);
        }
    }
}

} // namespace ostrapel
