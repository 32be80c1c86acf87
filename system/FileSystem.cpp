#include "system/FileSystem.h"

#include "system/Paths.h"

namespace ostrapel {

ComparisonResult CompareFiles(const std::string& a, const std::string& b) {
    // Files of different sizes differ; only files of one size need reading.
    const auto sizeA = SizeOf(a);
    const auto sizeB = SizeOf(b);
    if (sizeA && sizeB && *sizeA != *sizeB) {
        return {Status::Ok(), false};
    }
    std::string first;
    std::string second;
    if (Status read = ReadWholeFile(a, first); !read) {
        return {read, false};
    }
    if (Status read = ReadWholeFile(b, second); !read) {
        return {read, false};
    }
    return {Status::Ok(), first == second};
}

Status CopyFileTo(const std::string& source, const std::string& target,
                  FileIdentity* sourceIdentity) {
    return CopyFileTo(source, target, CopyOptions{sourceIdentity});
}

namespace {

Status RemoveMatching(const std::string& folder, const std::string& prefix) {
    ListingResult listing = ListDirectory(folder);
    Status result = listing.status;
    for (const DirectoryEntry& entry : listing.entries) {
        if (entry.name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        // The kind follows links: a folder stays, a link to one goes where the platform lets
        // a plain removal take it, and a folder that refuses is no failure.
        Status removed = RemoveFile(JoinPath(folder, entry.name));
        if (!removed && entry.kind != EntryKind::Directory && result.ok()) {
            result = Status::Fail(entry.name + ": " + removed.reason());
        }
    }
    return result;
}

} // namespace

Status RemoveFilesIn(const std::string& folder) {
    return RemoveMatching(folder, "");
}

Status RemoveFilesWithPrefix(const std::string& folder, const std::string& prefix) {
    return RemoveMatching(folder, prefix);
}

} // namespace ostrapel
