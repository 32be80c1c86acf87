#pragma once

#include <string>

namespace ostrapel::win {

// The form of a path an ANSI program (one that takes its command line in the code page
// codePage) can open: the path itself when it survives a round trip through that code page,
// otherwise its short form (shortForm: the 8.3 names GetShortPathNameW gives, or the path
// itself where the volume has none) when that does. Empty when neither does.
std::wstring AnsiOpenableForm(const std::wstring& path, unsigned codePage,
                              std::wstring (*shortForm)(const std::wstring& path));

} // namespace ostrapel::win
