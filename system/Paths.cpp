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
#ifdef _WIN32
    if (last == 1 && path[1] == ':') {
        return std::string(path.substr(0, 2)) + kPathSeparator; // a drive's root keeps its "\"
    }
#endif
    return std::string(path.substr(0, last + 1));
}

#ifndef _WIN32
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
#endif

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

namespace {

std::string_view WithoutTrailingSeparators(std::string_view path) {
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.remove_suffix(1);
    }
    return path;
}

} // namespace

bool SamePathText(std::string_view a, std::string_view b) {
    return SameNamesText(WithoutTrailingSeparators(a), WithoutTrailingSeparators(b));
}

bool PathIsWithin(std::string_view path, std::string_view folder) {
    path = WithoutTrailingSeparators(path);
    folder = WithoutTrailingSeparators(folder);
    if (path.size() < folder.size() || !SameNamesText(path.substr(0, folder.size()), folder)) {
        return false;
    }
    return path.size() == folder.size() || folder.back() == kPathSeparator ||
           path[folder.size()] == kPathSeparator;
}

bool HasPathSyntax(std::string_view name) {
#ifdef _WIN32
    return name.find_first_of(std::string_view("\\/:\0", 4)) != std::string_view::npos;
#else
    return name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos;
#endif
}

Utf8Character FirstCharacter(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const auto byte = [&utf8](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    // The well-formed sequences of the Unicode Standard (table 3-7): the lead byte gives the
    // length and the range of the second byte, which rules out overlong forms, surrogates and
    // values past U+10FFFF; later bytes are 80..BF.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {0, 1, false}; // a continuation byte, C0, C1 or F5..FF
    }
    if (utf8.size() < length) {
        return {0, 1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) {
            return {0, 1, false};
        }
        value = (value << 6) | (next & 0x3Fu);
    }
    return {value, length, true};
}

std::size_t CharacterCount(std::string_view utf8) {
    std::size_t count = 0;
    while (!utf8.empty()) {
        utf8.remove_prefix(FirstCharacter(utf8).length);
        ++count;
    }
    return count;
}

} // namespace ostrapel
