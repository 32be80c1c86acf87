// The layout of the backup folder, shared by the writer of sets and their readers.
#pragma once

#include "system/FileSystem.h"
#include "system/Status.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrapel::backups {

inline constexpr const char* kManifestName = "manifest";
// Sets are named by their number, so names sort as they were made.
inline constexpr std::size_t kSetNameDigits = 10;

std::int64_t Now();

// Folders made for backups and locks are private to the user.
Status MakeDirectories(const std::string& path);

// The path resolved as far as it exists, with the rest of it appended as it is: where a folder
// would be once created.
std::string ResolvedAsFarAsItExists(const std::string& path);

// What CheckOwnEntry's failure says of an entry: a link, not of the kind asked for (a folder, a
// regular file), another user's; Unchecked where the system could not tell.
enum class NotOwnCause { Link, WrongKind, OtherUser, Unchecked };
NotOwnCause CauseOf(const Status& own);

// Why a folder of the backups that is not this user's own (own: CheckOwnEntry's failure) is left
// alone: "the folder PATH is a symbolic link; it is left alone".
Phrase NotOwnFolder(const std::string& path, const Status& own);
// The same of a backup set, named before: "it is a symbolic link; it is left alone".
Phrase NotOwnSet(const Status& own);
// The same of a set's manifest: "its manifest is a symbolic link; it is left alone".
Phrase NotOwnManifest(const Status& own);

// A key for a save folder: a hash of its resolved path, in the form that every spelling the
// platform takes for that path shares (on Windows, whatever its case).
std::string FolderKey(const std::string& resolvedFolder);

// The folder of one save folder's sets, named by its key; the one named by a hash of the path as
// it is, where such a set folder was made before the key ignored case and no other is there.
std::string SetsFolderOf(const std::string& backupFolder, const std::string& resolvedFolder);

std::string SetName(std::uint64_t number);

// Numbers of the entries named as sets, in ascending order: whatever they are, so that a new
// set never takes the name of a link or file there.
std::vector<std::uint64_t> SetNumbers(const std::string& setsFolder, Status* status = nullptr);

// A set that is a link or another user's is left alone.
void RemoveSetFolder(const std::string& set);

// Whether a manifest entry is there at all, a link to nowhere included.
bool HasManifest(const std::string& set);

// Reads a file together with its identity, unchanged from before to after the reading.
Status ReadSteadily(const std::string& path, std::string& content, FileIdentity& identity);

// The folder resolved; empty when it is empty or cannot be resolved.
std::string Resolved(const std::string& folder);

} // namespace ostrapel::backups
