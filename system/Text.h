#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrapel {

// Length of the well-formed UTF-8 sequence starting at text[at]; 0 when the byte there does
// not start one (a stray continuation byte, an overlong form, a surrogate, a value past
// U+10FFFF, or a sequence cut short).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// The text made safe for one line of a terminal: control characters (C0, DEL and C1) and
// bytes that are not valid UTF-8 are written as escapes (\n, \t, \x1b, \xb2, \u0085).
// Everything else stays, backslashes too, so Windows paths read as they are.
std::string Printable(std::string_view text);

} // namespace ostrapel
