#include "system/Paths.h"

#include "system/FileSystem.h"

#include <cstdlib>

namespace ostrapel {

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != kPathSeparator) {
        path.push_back(kPathSeparator);
    }
    path.append(name);
    return path;
}

std::string WithTrailingSeparator(std::string_view folder) {
    std::string path(folder);
    while (path.size() > 1 && path.back() == kPathSeparator &&
           path[path.size() - 2] == kPathSeparator) {
        path.pop_back();
    }
    if (path.empty() || path.back() != kPathSeparator) {
        path.push_back(kPathSeparator);
    }
    return path;
}

std::string ParentOf(std::string_view path) {
    auto end = path.find_last_not_of(kPathSeparator);
    if (end == std::string_view::npos) {
        return path.empty() ? std::string(".") : std::string(1, kPathSeparator);
    }
    auto slash = path.find_last_of(kPathSeparator, end);
    if (slash == std::string_view::npos) {
        return ".";
    }
    auto last = path.find_last_not_of(kPathSeparator, slash);
    if (last == std::string_view::npos) {
        return std::string(1, kPathSeparator);
    }
    return std::string(path.substr(0, last + 1));
}

namespace {

// Creates a folder and the folders above it that are missing.
void MakeFolders(const std::string& path) {
    for (std::size_t at = path.find(kPathSeparator, 1); at != std::string::npos;
         at = path.find(kPathSeparator, at + 1)) {
        (void)MakeDirectory(path.substr(0, at));
    }
    (void)MakeDirectory(path);
}

} // namespace

std::string ProgramFolderFor(const std::string& exeDir, const std::string& xdgDataHome,
                             const std::string& home) {
#ifdef _WIN32
    (void)xdgDataHome;
    (void)home;
    return exeDir;
#else
    if (!exeDir.empty() && KindOf(JoinPath(exeDir, "Decrypt")) == EntryKind::Directory) {
        return WithTrailingSeparator(exeDir);
    }
    std::string data = xdgDataHome;
    if (data.empty() || data[0] != kPathSeparator) {
        if (home.empty() || home[0] != kPathSeparator) {
            return {};
        }
        data = JoinPath(home, ".local/share");
    }
    // One separator at a time: the folder's paths are handed on, and mapped, as they are.
    for (std::size_t at = data.find("//"); at != std::string::npos; at = data.find("//", at)) {
        data.erase(at, 1);
    }
    const std::string folder = WithTrailingSeparator(JoinPath(data, "ostrapel"));
    MakeFolders(JoinPath(folder, "Decrypt/temp"));
    return folder;
#endif
}

std::string ProgramFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    return ProgramFolderFor(ApplicationDirectory(), data != nullptr ? data : "",
                            home != nullptr ? home : "");
}

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

} // namespace ostrapel
