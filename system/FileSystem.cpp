#include "system/FileSystem.h"

#include "system/Paths.h"

#include <cstdlib>
#include <mutex>

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

void ResolveEnvironmentPaths() {
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string current = CurrentDirectory();
        for (const char* name : {"OSTRAPEL_BACKUP_DIR", "WINEPREFIX"}) {
            const char* value = std::getenv(name);
            if (value == nullptr || value[0] == '\0' || current.empty()) {
                continue;
            }
            const std::string path = value;
#ifdef _WIN32
            // "C:\x", "\\server\share", and "\x" on the current drive stay as they are.
            const bool absolute =
                path[0] == '\\' || path[0] == '/' || (path.size() >= 2 && path[1] == ':');
            if (!absolute) {
                (void)::_putenv_s(name, JoinPath(current, path).c_str());
            }
#else
            if (path[0] != '/') {
                (void)::setenv(name, JoinPath(current, path).c_str(), 1);
            }
#endif
        }
    });
}

} // namespace ostrapel
