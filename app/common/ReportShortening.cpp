// Texts cut to a number of characters, "..." standing for what was cut.

#include "Report.h"
#include "ReportInternal.h"
#include "system/Paths.h"

namespace ostrapel {

namespace {

constexpr std::string_view kEllipsis = "...";

// Byte offsets at which the characters of text start, and the text's size last.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    std::size_t at = 0;
    while (at < text.size()) {
        starts.push_back(at);
        at += FirstCharacter(text.substr(at)).length;
    }
    starts.push_back(text.size());
    return starts;
}

// text cut to maxLength characters with "..." for what was cut: from the middle when keepEnd,
// else from the end.
std::string Shortened(std::string_view text, std::size_t maxLength, bool keepEnd) {
    const std::vector<std::size_t> starts = CharacterStarts(text);
    const std::size_t length = starts.size() - 1;
    if (length <= maxLength) {
        return std::string(text);
    }
    if (maxLength <= kEllipsis.size()) {
        return std::string(kEllipsis.substr(0, maxLength));
    }
    const std::size_t kept = maxLength - kEllipsis.size();
    const std::size_t tail = keepEnd ? kept / 2 : 0;
    return std::string(text.substr(0, starts[kept - tail])) + std::string(kEllipsis) +
           std::string(text.substr(starts[length - tail]));
}

} // namespace

std::string ShortenedInTheMiddle(std::string_view text, std::size_t maxLength) {
    return Shortened(text, maxLength, true);
}

std::string ShortenedAtTheEnd(std::string_view text, std::size_t maxLength) {
    return Shortened(text, maxLength, false);
}

// text cut at the end to maxLength characters, between words where a word boundary lies in its
// second half, with "..." for what was cut.
std::string ShortenedBetweenWords(std::string_view text, std::size_t maxLength) {
    const std::vector<std::size_t> starts = CharacterStarts(text);
    if (starts.size() - 1 <= maxLength || maxLength <= 2 * kEllipsis.size()) {
        return ShortenedAtTheEnd(text, maxLength);
    }
    const std::size_t kept = maxLength - kEllipsis.size();
    for (std::size_t at = kept; at > kept / 2; --at) {
        if (text[starts[at]] == ' ') {
            std::string_view head = text.substr(0, starts[at]);
            while (!head.empty() && (head.back() == ',' || head.back() == ':')) {
                head.remove_suffix(1);
            }
            return std::string(head) + std::string(kEllipsis);
        }
    }
    return ShortenedAtTheEnd(text, maxLength);
}

} // namespace ostrapel
