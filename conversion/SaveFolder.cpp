#include "conversion/SaveFolder.h"

#include "conversion/NaturalOrder.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

namespace ostrapel {

bool IsListedName(const std::string& name) {
    // Hidden entries start with a dot here; this also leaves out "." and "..".
    return !name.empty() && name.front() != '.' && CharacterCount(name) > 2;
}

std::vector<std::string> ListSaveFolder(const std::string& folder) {
    std::vector<std::string> names;
    if (folder.empty()) {
        return names;
    }
    for (DirectoryEntry& entry : ListDirectory(folder).entries) {
        if (IsListedName(entry.name)) {
            names.push_back(std::move(entry.name));
        }
    }
    SortNaturally(names);
    return names;
}

} // namespace ostrapel
