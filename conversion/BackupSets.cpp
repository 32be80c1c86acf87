#include "conversion/BackupSets.h"

#include "system/Paths.h"
#include "system/Sha256.h"

#include <algorithm>
#include <chrono>

namespace ostrapel::backups {

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Status MakeDirectories(const std::string& path) {
    if (MakePrivateDirectory(path)) {
        return Status::Ok();
    }
    const std::string parent = ParentOf(path);
    if (parent == path || KindOf(parent) != EntryKind::Missing) {
        return MakePrivateDirectory(path);
    }
    if (Status made = MakeDirectories(parent); !made) {
        return made;
    }
    return MakePrivateDirectory(path);
}

std::string ResolvedAsFarAsItExists(const std::string& path) {
#ifdef _WIN32
    constexpr const char* kSeparators = "\\/";
#else
    constexpr const char* kSeparators = "/";
#endif
    std::string at = path;
    std::string rest;
    for (;;) {
        if (std::string real = ResolvedPath(at); !real.empty()) {
            return rest.empty() ? real : JoinPath(real, rest);
        }
        const auto end = at.find_last_not_of(kSeparators);
        const auto slash = end == std::string::npos ? end : at.find_last_of(kSeparators, end);
        if (slash == std::string::npos) {
            return path;
        }
        const std::string name = at.substr(slash + 1, end - slash);
        rest = rest.empty() ? name : JoinPath(name, rest);
        at = at.substr(0, slash + 1);
    }
}

NotOwnCause CauseOf(const Status& own) {
    const std::string& id = own.phrase().id();
    if (id == "is a symbolic link") {
        return NotOwnCause::Link;
    }
    if (id == "is not a folder" || id == "is not a regular file") {
        return NotOwnCause::WrongKind;
    }
    if (id == "belongs to another user") {
        return NotOwnCause::OtherUser;
    }
    return NotOwnCause::Unchecked;
}

// Whole sentences, one a cause, so that each language words the subject and its verb together.
Phrase NotOwnFolder(const std::string& path, const Status& own) {
    switch (CauseOf(own)) {
    case NotOwnCause::Link:
        return Phrase(N_("the folder {path} is a symbolic link; it is left alone"))
            .With("path", path);
    case NotOwnCause::WrongKind:
        return Phrase(N_("{path} is not a folder; it is left alone")).With("path", path);
    case NotOwnCause::OtherUser:
        return Phrase(N_("the folder {path} belongs to another user; it is left alone"))
            .With("path", path);
    case NotOwnCause::Unchecked:
        break;
    }
    return Phrase(N_("the folder {path} cannot be checked ({reason}); it is left alone"))
        .With("path", path)
        .With("reason", own.phrase());
}

Phrase NotOwnSet(const Status& own) {
    switch (CauseOf(own)) {
    case NotOwnCause::Link:
        return N_("it is a symbolic link; it is left alone");
    case NotOwnCause::WrongKind:
        return N_("it is not a folder; it is left alone");
    case NotOwnCause::OtherUser:
        return N_("it belongs to another user; it is left alone");
    case NotOwnCause::Unchecked:
        break;
    }
    return Phrase(N_("it cannot be checked ({reason}); it is left alone"))
        .With("reason", own.phrase());
}

Phrase NotOwnManifest(const Status& own) {
    switch (CauseOf(own)) {
    case NotOwnCause::Link:
        return N_("its manifest is a symbolic link; it is left alone");
    case NotOwnCause::WrongKind:
        return N_("its manifest is not a regular file; it is left alone");
    case NotOwnCause::OtherUser:
        return N_("its manifest belongs to another user; it is left alone");
    case NotOwnCause::Unchecked:
        break;
    }
    return Phrase(N_("its manifest cannot be checked ({reason}); it is left alone"))
        .With("reason", own.phrase());
}

std::string FolderKey(const std::string& resolvedFolder) {
    return Sha256Hex(NamesKeyText(resolvedFolder)).substr(0, 32);
}

std::string SetsFolderOf(const std::string& backupFolder, const std::string& resolvedFolder) {
    const std::string sets = JoinPath(backupFolder, FolderKey(resolvedFolder));
    const std::string earlier = JoinPath(backupFolder, Sha256Hex(resolvedFolder).substr(0, 32));
    if (earlier != sets && KindOf(sets) == EntryKind::Missing && !IsSymbolicLink(sets) &&
        (KindOf(earlier) != EntryKind::Missing || IsSymbolicLink(earlier))) {
        return earlier;
    }
    return sets;
}

std::string SetName(std::uint64_t number) {
    std::string digits = std::to_string(number);
    return std::string(kSetNameDigits - std::min(kSetNameDigits, digits.size()), '0') + digits;
}

std::vector<std::uint64_t> SetNumbers(const std::string& setsFolder, Status* status) {
    ListingResult listing = ListDirectory(setsFolder);
    if (status != nullptr) {
        *status = listing.status;
    }
    std::vector<std::uint64_t> numbers;
    for (const DirectoryEntry& entry : listing.entries) {
        if (entry.name.size() == kSetNameDigits &&
            entry.name.find_first_not_of("0123456789") == std::string::npos) {
            numbers.push_back(std::stoull(entry.name));
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

void RemoveSetFolder(const std::string& set) {
    (void)RemoveOwnFolder(set);
}

bool HasManifest(const std::string& set) {
    const std::string manifest = JoinPath(set, kManifestName);
    return KindOf(manifest) != EntryKind::Missing || IsSymbolicLink(manifest);
}

Status ReadSteadily(const std::string& path, std::string& content, FileIdentity& identity) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto before = IdentityOf(path);
        if (!before) {
            return Status::Fail(N_("cannot be looked at"));
        }
        if (Status read = ReadWholeFile(path, content); !read) {
            return read;
        }
        if (auto after = IdentityOf(path); after && *after == *before) {
            identity = *before;
            return Status::Ok();
        }
    }
    return Status::Fail(N_("keeps changing"));
}

std::string Resolved(const std::string& folder) {
    return folder.empty() ? std::string() : ResolvedPath(folder);
}

} // namespace ostrapel::backups
