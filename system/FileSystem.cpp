#include "system/FileSystem.h"

#include "system/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace ostrapel {

namespace {

constexpr std::string_view kTemporaryExtension = ".tmp";
constexpr std::size_t kRandomLength = 10;

bool IsRandomCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

} // namespace

std::string NewTemporaryName() {
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
#ifdef _WIN32
    const long long pid = ::_getpid();
#else
    const long long pid = ::getpid();
#endif
    std::string name = kTemporaryPrefix + std::to_string(pid) + "-";
    for (std::size_t i = 0; i < kRandomLength; ++i) {
        name.push_back(kChars[engine() % (sizeof kChars - 1)]);
    }
    return name.append(kTemporaryExtension);
}

std::string NewTemporaryNameFor(std::string_view save) {
    std::string name = NewTemporaryName();
    // Names are at most 255 UTF-16 units on Windows; the save's name is UTF-8.
    if (save.empty() || name.size() + 1 + save.size() > 255) {
        return name;
    }
    name.resize(name.size() - kTemporaryExtension.size());
    name.append("-").append(save).append(kTemporaryExtension);
    return name;
}

namespace {

// The part of a temporary's name after its random characters: empty, or "-SAVE"; nullopt when
// the name is not a temporary's.
std::optional<std::string_view> TemporaryTail(std::string_view name) {
    const std::string_view prefix = kTemporaryPrefix;
    if (!name.starts_with(prefix) || !name.ends_with(kTemporaryExtension)) {
        return std::nullopt;
    }
    name.remove_prefix(prefix.size());
    name.remove_suffix(kTemporaryExtension.size());
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || name.size() - dash - 1 < kRandomLength) {
        return std::nullopt;
    }
    const std::string_view tail = name.substr(dash + 1 + kRandomLength);
    if (!std::all_of(name.begin(), name.begin() + dash,
                     [](char c) { return c >= '0' && c <= '9'; }) ||
        !std::all_of(name.begin() + dash + 1, name.begin() + dash + 1 + kRandomLength,
                     IsRandomCharacter) ||
        tail.size() == 1 || (!tail.empty() && tail[0] != '-')) {
        return std::nullopt;
    }
    return tail;
}

} // namespace

bool IsTemporaryName(std::string_view name) {
    return TemporaryTail(name).has_value();
}

std::string SaveOfTemporary(std::string_view name) {
    const auto tail = TemporaryTail(name);
    return tail && !tail->empty() ? std::string(tail->substr(1)) : std::string();
}

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

template <class Matches> Status RemoveMatching(const std::string& folder, Matches matches) {
    ListingResult listing = ListDirectory(folder);
    Status result = listing.status;
    for (const DirectoryEntry& entry : listing.entries) {
        if (!matches(entry.name)) {
            continue;
        }
        // The kind follows links: a folder stays, a link to one goes where the platform lets
        // a plain removal take it, and a folder that refuses is no failure.
        Status removed = RemoveFile(JoinPath(folder, entry.name));
        if (!removed && entry.kind != EntryKind::Directory && result.ok()) {
            // TRANSLATORS: {name} is a file, {reason} what went wrong with it.
            result = Status::Fail(Phrase(N_("{name}: {reason}"))
                                      .With("name", entry.name)
                                      .With("reason", removed.phrase()));
        }
    }
    return result;
}

} // namespace

Status RemoveFilesIn(const std::string& folder) {
    return RemoveMatching(folder, [](std::string_view) { return true; });
}

Status RemoveTemporaries(const std::string& folder) {
    return RemoveMatching(folder, [&](std::string_view name) {
        if (!IsTemporaryName(name)) {
            return false;
        }
        const std::string save = SaveOfTemporary(name);
        return save.empty() || KindOf(JoinPath(folder, save)) != EntryKind::Missing;
    });
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
