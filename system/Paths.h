#pragma once

#include <string>
#include <string_view>

namespace ostrapel {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// folder + separator + name, without doubling a separator the folder already ends with.
std::string JoinPath(std::string_view folder, std::string_view name);

// folder with exactly one trailing separator.
std::string WithTrailingSeparator(std::string_view folder);

// The folder part of a path, without a trailing separator except at the root.
std::string ParentOf(std::string_view path);

// The directory of the running executable, resolved, ending in exactly one separator.
// Empty when the platform cannot tell.
std::string ApplicationDirectory();

// The program folder, ending in one separator: the executable's folder when it holds a
// Decrypt folder (the portable layout); otherwise, elsewhere than on Windows, the per-user
// folder $XDG_DATA_HOME/ostrapel/ (~/.local/share/ostrapel/ when XDG_DATA_HOME is unset or not
// absolute), whose Decrypt/temp/ is created when missing. Empty when none can be told.
std::string ProgramFolder();

// The same rule for given places: exeDir (ending in a separator; empty when unknown), and the
// values of XDG_DATA_HOME and HOME.
std::string ProgramFolderFor(const std::string& exeDir, const std::string& xdgDataHome,
                             const std::string& home);

// Whether two resolved paths name one place, compared as the platform's file systems compare
// names: on Windows without regard to case (as CompareStringOrdinal ignoring case), elsewhere
// byte for byte. A trailing separator does not count.
bool SamePathText(std::string_view a, std::string_view b);

// Whether a resolved path is folder or lies inside it, compared the same way.
bool PathIsWithin(std::string_view path, std::string_view folder);

// Two texts of names compared that way (the platform's part of the two above).
bool SameNamesText(std::string_view a, std::string_view b);
// Their order that way: negative, zero (SameNamesText) or positive.
int CompareNamesText(std::string_view a, std::string_view b);

// The one form of a text of names that all texts SameNamesText takes for it share: on Windows
// in upper case (invariant), elsewhere the text itself. For keys made from paths.
std::string NamesKeyText(std::string_view text);

// The path as a program that takes its command line in the system's ANSI code page can open it
// (the cipher tool may be one): on Windows the path itself when every character has a place in
// that code page, otherwise its 8.3 short form when the volume gives one that does, otherwise
// empty. The path must exist. Elsewhere the path as it is.
std::string PathForAnsiPrograms(const std::string& path);

// Whether a name has path syntax in it and so could name something other than one entry of
// its folder: a separator ('/' also on Windows), a NUL, and on Windows a ':' (a drive or a
// file's stream).
bool HasPathSyntax(std::string_view name);

// The first character of a text read as UTF-8. A byte that is not part of a valid UTF-8
// sequence (a stray continuation byte, an overlong form, a truncated sequence, a surrogate or a
// value past U+10FFFF) is a character of its own, one byte long, as it is shown: one
// replacement character per byte.
struct Utf8Character {
    char32_t codePoint = 0; // when valid
    std::size_t length = 0; // bytes; 0 only for an empty text
    bool valid = false;
};
Utf8Character FirstCharacter(std::string_view utf8);

// Number of characters in a text read as UTF-8, each byte that is not part of a valid
// sequence counting as one (see FirstCharacter).
std::size_t CharacterCount(std::string_view utf8);

} // namespace ostrapel
