#include "ShownNames.h"

#include "system/Paths.h"

#include <algorithm>
#include <map>

namespace ostrapel {

namespace {

enum class Kind { Digit, Letter, Other };

Kind KindOf(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= '0' && byte <= '9') {
        return Kind::Digit;
    }
    // Bytes of UTF-8 sequences count as letters: a word of them is kept whole.
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || byte >= 0x80) {
        return Kind::Letter;
    }
    return Kind::Other;
}

std::size_t SharedLength(std::string_view a, std::string_view b) {
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first -
                                    a.begin());
}

// Byte offsets at which the characters of text start, and its size last.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < text.size(); at += FirstCharacter(text.substr(at)).length) {
        starts.push_back(at);
    }
    starts.push_back(text.size());
    return starts;
}

// The first count characters of text from starts, and its last: the middle given up.
std::string CutInTheMiddle(std::string_view text, const std::vector<std::size_t>& starts,
                           std::size_t count) {
    const std::size_t length = starts.size() - 1;
    const std::size_t tail = count / 2;
    const std::size_t head = count - tail;
    return std::string(text.substr(0, starts[head])) + std::string(kElision) +
           std::string(text.substr(starts[length - tail]));
}

// The largest n in [low, high] for which fits(n) holds, fits(low) assumed; rows are fitted often
// and names may be long, so by halving.
template <typename Fits> std::size_t Largest(std::size_t low, std::size_t high, Fits fits) {
    while (low < high) {
        const std::size_t middle = low + (high - low + 1) / 2;
        if (fits(middle)) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

} // namespace

std::size_t TellingStart(const std::vector<std::string>& names, std::size_t index) {
    const std::string& name = names[index];
    std::size_t at = 0;
    if (index > 0) {
        at = SharedLength(name, names[index - 1]);
    }
    if (index + 1 < names.size()) {
        at = std::max(at, SharedLength(name, names[index + 1]));
    }
    at = std::min(at, name.size());
    // Back to the start of the word or number, which also starts a character.
    if (at < name.size()) {
        const Kind kind = KindOf(name[at]);
        while (kind != Kind::Other && at > 0 && KindOf(name[at - 1]) == kind) {
            --at;
        }
    }
    while (at > 0 && at < name.size() && (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80) {
        --at;
    }
    return at;
}

std::string FittedName(std::string_view name, std::size_t telling, int room,
                       const TextWidth& width) {
    if (width(name) <= room) {
        return std::string(name);
    }
    const std::vector<std::size_t> starts = CharacterStarts(name);
    const std::size_t tellingChar = static_cast<std::size_t>(
        std::lower_bound(starts.begin(), starts.end(), std::min(telling, name.size())) -
        starts.begin());
    const auto dropped = [&](std::size_t chars) {
        return std::string(kElision) + std::string(name.substr(starts[chars]));
    };
    // Drop as few characters of the beginning as let it fit, never more than come before telling.
    if (tellingChar > 0 && width(dropped(tellingChar)) <= room) {
        const std::size_t kept = Largest(0, tellingChar - 1, [&](std::size_t keep) {
            return keep == 0 || width(dropped(tellingChar - keep)) <= room;
        });
        return dropped(tellingChar - kept);
    }
    // The rest from telling on is too wide itself: its middle goes.
    const std::string_view rest = name.substr(starts[tellingChar]);
    const std::string lead = tellingChar > 0 ? std::string(kElision) : std::string();
    const std::vector<std::size_t> restStarts = CharacterStarts(rest);
    const std::size_t restLength = restStarts.size() - 1;
    if (restLength <= 2) {
        return lead + std::string(rest);
    }
    const std::size_t count = Largest(2, restLength - 1, [&](std::size_t n) {
        return width(lead + CutInTheMiddle(rest, restStarts, n)) <= room;
    });
    return lead + CutInTheMiddle(rest, restStarts, count);
}

std::vector<std::string> FittedNames(const std::vector<std::string>& names,
                                     const std::function<int(std::size_t)>& roomOf,
                                     const TextWidth& width) {
    std::vector<std::string> shown(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        shown[i] = FittedName(names[i], TellingStart(names, i), roomOf(i), width);
    }
    // In a room too narrow for what tells them apart two names may still come out alike: those
    // are cut in the middle, which keeps their beginnings and ends.
    std::map<std::string_view, std::vector<std::size_t>> alike;
    for (std::size_t i = 0; i < names.size(); ++i) {
        alike[shown[i]].push_back(i);
    }
    std::vector<std::size_t> redo;
    for (const auto& [text, indexes] : alike) {
        if (indexes.size() > 1) {
            redo.insert(redo.end(), indexes.begin(), indexes.end());
        }
    }
    for (std::size_t i : redo) {
        if (shown[i] != names[i]) {
            shown[i] = FittedName(names[i], 0, roomOf(i), width);
        }
    }
    return shown;
}

} // namespace ostrapel
