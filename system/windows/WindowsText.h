#pragma once

// UTF-8 <-> UTF-16 at the Windows API boundary, path forms the wide API takes, and readable
// texts for Windows error codes.

#include "system/Status.h"

#include <string>
#include <string_view>

namespace ostrapel::win {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// A path for the wide file API: made absolute and given the \\?\ prefix, so every name is taken
// exactly as it is (a trailing dot or space is not stripped) and long paths work without a
// manifest setting. "." and ".." are resolved, '/' becomes '\\'.
std::wstring FilePath(const std::string& utf8);

// What a Windows error code means, in the words the POSIX build uses where there are some: our
// words from the catalogue, the system's message verbatim.
Phrase ErrorPhrase(unsigned long code);
Status ErrorStatus(unsigned long code);
Status LastErrorStatus();

// What a program printed, as UTF-8: as it is when it is UTF-8 already (cut: its start was
// dropped, so a character cut there is left out first); otherwise read in the code page it
// writes its narrow text in (WritesConsoleCodePage): the console's, the OEM code page, or the
// ANSI one.
std::string ToolOutputText(std::string_view bytes, bool cut, bool consoleCodePage,
                           unsigned oemCodePage, unsigned ansiCodePage);

// Whether a program whose file begins with head (its first kilobytes) writes its narrow text in its
// console's code page (OEM) rather than the ANSI one: a .NET console program, whose Console encodes
// in the console's output code page even into a pipe, and what is no PE image (a batch file, which
// cmd.exe runs). A native program's C runtime puts its narrow text into a pipe untranslated,
// and that text is ANSI, as its arguments and the system's narrow calls are.
bool WritesConsoleCodePage(std::string_view head);

// How long, in milliseconds, a file another program holds open is tried again before it is
// reported in use.
inline constexpr unsigned long kInUsePatienceMs = 2000;

inline constexpr const char* kInUse = N_("in use by another program (is the game running?)");

// A system message for code in a language (0: the user's), empty when there is none.
using MessageLookup = std::string (*)(unsigned long code, unsigned long language);

// ErrorPhrase with the system's messages looked up by lookup: in US English, else in the user's
// language (a Windows without the English pack), else "Windows error N".
Phrase ErrorPhraseWith(unsigned long code, MessageLookup lookup);

} // namespace ostrapel::win
