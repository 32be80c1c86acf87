#include "WindowTexts.h"

#include "conversion/DlcVersion.h"
#include "conversion/Report.h"

#include <algorithm>

namespace ostrapel {

std::string ReadVersionText(const FileOutcome& outcome) {
    return outcome.oldValue ? DlcValueText(*outcome.oldValue) : std::string(kVersionNotRead);
}

std::optional<std::string> VersionAfterBatch(const FileOutcome& outcome) {
    if (!outcome.done() || !outcome.newValue) {
        return std::nullopt;
    }
    return DlcValueText(*outcome.newValue);
}

std::string ProgressCount(std::size_t index, std::size_t count) {
    return std::to_string(index + 1) + " of " + std::to_string(count) + ": ";
}

std::string WithoutAccessKey(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i; // "&&" is one '&'; "&x" is x
        }
        plain += text[i];
    }
    return plain;
}

std::string EscapeAccessKeys(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '&') {
            escaped += '&';
        }
    }
    return escaped;
}

namespace {

std::size_t SharedLength(std::string_view a, std::string_view b) {
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first -
                                    a.begin());
}

enum class Kind { Digit, Letter, Other };

Kind KindOf(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= '0' && byte <= '9') {
        return Kind::Digit;
    }
    // Bytes of UTF-8 sequences count as letters: a cut never splits a character.
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte >= 0x80) {
        return Kind::Letter;
    }
    return Kind::Other;
}

// The beginning names[first, end) share, shortened so that it ends neither inside a word or a
// number nor inside a character: a word or number that goes on in some name is shown whole.
std::size_t SharedBeginning(const std::vector<std::string>& names, std::size_t first,
                            std::size_t end, std::size_t length) {
    const auto goesOn = [&](std::size_t at) {
        const Kind before = KindOf(names[first][at - 1]);
        if (before == Kind::Other) {
            return false;
        }
        for (std::size_t i = first; i < end; ++i) {
            if (KindOf(names[i][at]) == before) {
                return true;
            }
        }
        return false;
    };
    while (length > 0 && goesOn(length)) {
        --length;
    }
    return length;
}

} // namespace

std::vector<std::string> ShownNames(const std::vector<std::string>& names, std::size_t maxLength) {
    std::vector<std::string> shown(names.begin(), names.end());
    std::size_t first = 0;
    while (first < names.size()) {
        // The run of neighbours from first on that begin alike for long enough; at least one
        // character of each is left to show.
        std::size_t length = names[first].empty() ? 0 : names[first].size() - 1;
        std::size_t end = first + 1;
        for (; end < names.size(); ++end) {
            const std::size_t shared = std::min({length, SharedLength(names[first], names[end]),
                                                 names[end].empty() ? 0 : names[end].size() - 1});
            if (shared < kSharedBeginning) {
                break;
            }
            length = shared;
        }
        if (end - first >= 2) {
            length = SharedBeginning(names, first, end, length);
            if (length >= kSharedBeginning) {
                for (std::size_t i = first; i < end; ++i) {
                    shown[i] = "..." + names[i].substr(length);
                }
            }
        }
        first = end;
    }
    for (std::string& name : shown) {
        name = ShortenedInTheMiddle(name, maxLength);
    }
    return shown;
}

} // namespace ostrapel
