#pragma once

#include "system/Status.h"

#include <string>
#include <vector>

namespace ostrapel {

// Names of a save folder's entries, files and sub-folders alike, in natural name order
// (NaturalOrder.h): only names longer than two characters, hidden entries left out. An
// unreadable or missing folder gives an empty list.
std::vector<std::string> ListSaveFolder(const std::string& folder);

struct SaveFolderListing {
    Status status = Status::Ok(); // failed when the folder could not be read, or not wholly
    std::vector<std::string> names;
};

// The same names, telling when the folder could not be read.
SaveFolderListing ReadSaveFolder(const std::string& folder);

// Whether the listing keeps an entry of this name.
bool IsListedName(const std::string& name);

} // namespace ostrapel
