#pragma once

#include <string>

namespace ostrapel::win {

// The form of a path an ANSI program (one that takes its command line in the code page
// codePage) can open: the path itself when it survives a round trip through that code page,
// otherwise its short form (shortForm: the 8.3 names GetShortPathNameW gives, or the path
// itself where the volume has none) when that does. Empty when neither does.
std::wstring AnsiOpenableForm(const std::wstring& path, unsigned codePage,
                              std::wstring (*shortForm)(const std::wstring& path));

// The 8.3 short form of an existing path, or the path itself where the volume has none.
std::wstring ShortPathOf(const std::wstring& path);

// The form of a path a tool is given as its own location or as its current or temporary folder:
// AnsiOpenableForm's, so that a tool that reads its location with the ANSI calls finds it,
// otherwise the path itself (a Unicode tool can still use it).
std::wstring ToolPathForm(const std::wstring& path, unsigned codePage,
                          std::wstring (*shortForm)(const std::wstring& path));

} // namespace ostrapel::win
