#pragma once

#include "conversion/DlcVersion.h"

#include <cstddef>
#include <string>

namespace ostrapel {

// A sample save for the screenshot scenes, as their cipher tool stores it: bytes 0 and 1 swapped,
// which is that tool's whole cipher. Its field holds value; no field when size leaves no room.
inline std::string SampleSaveHolding(int value, std::size_t size) {
    std::string plain(size, 's');
    if (size >= static_cast<std::size_t>(DlcField::kEnd)) {
        plain[DlcField::kOffset] = static_cast<char>(value & 0xFF);
        plain[DlcField::kOffset + 1] = static_cast<char>(value >> 8);
    }
    for (char& c : plain) {
        c = c == '\0' ? '\1' : c == '\1' ? '\0' : c;
    }
    return plain;
}

} // namespace ostrapel
