#include "system/Paths.h"

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

bool HasPathSyntax(std::string_view name) {
#ifdef _WIN32
    return name.find_first_of(std::string_view("\\/:\0", 4)) != std::string_view::npos;
#else
    return name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos;
#endif
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
