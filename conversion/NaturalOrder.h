#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// Name order as file managers show it: runs of the digits 0-9 compare as numbers ("slot2.sav"
// before "slot10.sav"), other characters by code point without regard to case (folded for
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic). A run of digits sorts where the
// character '0' would. A byte that is not part of a valid UTF-8 sequence is a character of its
// own, after every valid one.
//
// Names equal by that measure ("Slot1" and "slot1", "a01" and "a1", or names differing only
// in invalid bytes that compare equal) are ordered by their bytes, so the order is a strict
// total order: whatever order the names come in, they are sorted the same way.
bool NaturalLess(std::string_view a, std::string_view b);

// Negative, zero or positive as a sorts before, with or after b by the first measure alone.
int NaturalCompare(std::string_view a, std::string_view b);

// Sorts names by NaturalLess.
void SortNaturally(std::vector<std::string>& names);

} // namespace ostrapel
