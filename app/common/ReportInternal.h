#pragma once

// What the pieces of the reports share.

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrapel {

// text cut at the end to maxLength characters, between words where a word boundary lies in its
// second half, with "..." for what was cut.
std::string ShortenedBetweenWords(std::string_view text, std::size_t maxLength);

} // namespace ostrapel
