#include "conversion/SaveFolder.h"

#include "conversion/NaturalOrder.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

namespace ostrapel {

bool IsListedName(const std::string& name) {
    // "." and ".." are too short; other hidden names are the platform's to say.
    return !IsHiddenName(name) && CharacterCount(name) > 2;
}

std::vector<std::string> ListSaveFolder(const std::string& folder) {
    return ReadSaveFolder(folder).names;
}

SaveFolderListing ReadSaveFolder(const std::string& folder) {
    SaveFolderListing listing;
    if (folder.empty()) {
        listing.status = Status::Fail("no folder chosen");
        return listing;
    }
    ListingResult read = ListDirectory(folder);
    listing.status = read.status;
    for (DirectoryEntry& entry : read.entries) {
        if (!entry.hidden && IsListedName(entry.name)) {
            listing.names.push_back(std::move(entry.name));
        }
    }
    SortNaturally(listing.names);
    return listing;
}

} // namespace ostrapel
