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

// What a Windows error code means, in the words the POSIX build uses where there are some.
std::string ErrorText(unsigned long code);
Status ErrorStatus(unsigned long code);
Status LastErrorStatus();

// How long, in milliseconds, a file another program holds open is tried again before it is
// reported in use.
inline constexpr unsigned long kInUsePatienceMs = 2000;

inline constexpr const char* kInUse = "in use by another program (is the game running?)";

} // namespace ostrapel::win
