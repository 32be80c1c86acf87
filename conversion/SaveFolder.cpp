#include "conversion/SaveFolder.h"

#include "system/FileSystem.h"
#include "system/Paths.h"

namespace ostrapel {

bool IsListedName(const std::string& name) {
    // "." and ".." are too short; other hidden names are the platform's to say.
    return !IsHiddenName(name) && CharacterCount(name) > 2;
}

std::vector<std::string> ListSaveFolder(const std::string& folder) {
    std::vector<std::string> names;
    if (folder.empty()) {
        return names;
    }
    for (DirectoryEntry& entry : ListDirectory(folder).entries) {
        if (!entry.hidden && IsListedName(entry.name)) {
            names.push_back(std::move(entry.name));
        }
    }
    return names;
}

} // namespace ostrapel
