#include "ShownNames.h"

#include "system/Paths.h"

#include <algorithm>
#include <map>

namespace ostrapel {

namespace {

enum class Kind { Digit, Letter, Ideograph, Other };

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

// The kind of the character the byte at is part of. From U+3000 on (CJK), each character is a
// word of its own.
Kind KindAt(std::string_view name, std::size_t at) {
    while (at > 0 && (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80) {
        --at;
    }
    return static_cast<unsigned char>(name[at]) >= 0xE3 ? Kind::Ideograph : KindOf(name[at]);
}

bool InWord(Kind kind) {
    return kind == Kind::Digit || kind == Kind::Letter;
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

Telling TellingPart(const std::vector<std::string>& names, std::size_t index) {
    const std::string& name = names[index];
    std::size_t start = 0;
    std::size_t shared = 0; // the end the name shares with a neighbour
    for (std::size_t other : {index - 1, index + 1}) {
        if (other < names.size() && other != index) {
            start = std::max(start, SharedLength(name, names[other]));
            shared = std::max(shared, static_cast<std::size_t>(
                                          std::mismatch(name.rbegin(), name.rend(),
                                                        names[other].rbegin(), names[other].rend())
                                              .first -
                                          name.rbegin()));
        }
    }
    start = std::min(start, name.size());
    const auto toCharacterStart = [&name](std::size_t at) {
        while (at > 0 && at < name.size() &&
               (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80) {
            --at;
        }
        return at;
    };
    start = toCharacterStart(start);
    const std::size_t differs = start;
    // Back to the start of the word or number.
    if (start < name.size()) {
        const Kind kind = KindAt(name, start);
        while (InWord(kind) && start > 0 && KindAt(name, start - 1) == kind) {
            --start;
        }
    }
    start = toCharacterStart(start);
    // On to the end of the word or number the shared end begins in, or of its character.
    std::size_t end = name.size() - std::min(shared, name.size());
    if (end > 0) {
        const Kind kind = KindAt(name, end - 1);
        while (end < name.size() && ((InWord(kind) && KindAt(name, end) == kind) ||
                                     (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)) {
            ++end;
        }
    }
    return {start, end > start ? end : name.size(), differs};
}

std::string FittedName(std::string_view name, Telling telling, int room, const TextWidth& width) {
    if (width(name) <= room) {
        return std::string(name);
    }
    const std::vector<std::size_t> starts = CharacterStarts(name);
    const auto characterAt = [&starts](std::size_t byte) {
        return static_cast<std::size_t>(std::lower_bound(starts.begin(), starts.end(), byte) -
                                        starts.begin());
    };
    const std::size_t length = starts.size() - 1;
    const std::size_t first = characterAt(std::min(telling.start, name.size()));
    const std::size_t last = std::max(first, characterAt(std::min(telling.end, name.size())));
    const std::string lead = first > 0 ? std::string(kElision) : std::string();
    const auto from = [&](std::size_t chars) {
        return std::string(kElision) + std::string(name.substr(starts[chars]));
    };
    // Drop as few characters of the beginning as let it fit, never more than come before the
    // telling part.
    if (first > 0 && width(from(first)) <= room) {
        const std::size_t kept = Largest(0, first - 1, [&](std::size_t keep) {
            return keep == 0 || width(from(first - keep)) <= room;
        });
        return from(first - kept);
    }
    // Then as few of the end the neighbours share (the extension).
    const auto upTo = [&](std::size_t chars) {
        return lead + std::string(name.substr(starts[first], starts[chars] - starts[first])) +
               std::string(kElision);
    };
    if (last < length && width(upTo(last)) <= room) {
        return upTo(Largest(last, length - 1, [&](std::size_t end) {
            return end == last || width(upTo(end)) <= room;
        }));
    }
    // Room for the telling part alone: the mark of what went before it is the one kept.
    const std::string_view part = name.substr(starts[first], starts[last] - starts[first]);
    for (const std::string& alone : {lead + std::string(part), std::string(part)}) {
        if (last < length && width(alone) <= room) {
            return alone;
        }
    }
    // The telling part is too wide itself: its middle goes, where that keeps the character
    // where it differs.
    const std::string trail = last < length ? std::string(kElision) : std::string();
    const std::vector<std::size_t> partStarts = CharacterStarts(part);
    const std::size_t partLength = partStarts.size() - 1;
    const std::size_t differs =
        std::min(std::max(characterAt(std::min(telling.differs, name.size())), first),
                 length == 0 ? 0 : length - 1);
    const auto fits = [&](const std::string& text) { return width(text) <= room; };
    if (partLength > 2 && fits(lead + CutInTheMiddle(part, partStarts, 2) + trail)) {
        const std::size_t count = Largest(2, partLength - 1, [&](std::size_t n) {
            return fits(lead + CutInTheMiddle(part, partStarts, n) + trail);
        });
        const std::size_t at = differs - first; // in the part
        if (at < count - count / 2 || at >= partLength - count / 2) {
            return lead + CutInTheMiddle(part, partStarts, count) + trail;
        }
    }
    // Else the characters around it, with the marks of what went where they fit.
    for (bool marked : {true, false}) {
        const auto around = [&](std::size_t n) {
            const std::size_t begin =
                std::min(differs - std::min(differs, (n - 1) / 2), length - n);
            std::string text(name.substr(starts[begin], starts[begin + n] - starts[begin]));
            if (marked && begin > 0) {
                text = std::string(kElision) + text;
            }
            if (marked && begin + n < length) {
                text += kElision;
            }
            return text;
        };
        if (length > 0 && fits(around(1))) {
            return around(Largest(1, length, [&](std::size_t n) { return fits(around(n)); }));
        }
    }
    return fits(std::string(kElision)) ? std::string(kElision) : std::string();
}

std::vector<std::string> FittedNames(const std::vector<std::string>& names,
                                     const std::function<int(std::size_t)>& roomOf,
                                     const TextWidth& width) {
    std::vector<std::string> shown(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        shown[i] = FittedName(names[i], TellingPart(names, i), roomOf(i), width);
    }
    // In a room too narrow for what tells them apart, names far from each other may still come
    // out alike ("…1.…" of slot1.sav and of screenshot_1.png). Each such name takes the first
    // form no other name shows: its telling part with the name's end, with its beginning, or the
    // name cut in the middle; none of them unique, it stays as it is.
    std::map<std::string, std::size_t> uses;
    for (const std::string& text : shown) {
        ++uses[text];
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (uses[shown[i]] < 2 || shown[i] == names[i]) {
            continue;
        }
        const Telling telling = TellingPart(names, i);
        for (const Telling other : {Telling{telling.start, std::string_view::npos, telling.differs},
                                    Telling{0, telling.end, telling.differs},
                                    Telling{0, std::string_view::npos, telling.differs}}) {
            std::string text = FittedName(names[i], other, roomOf(i), width);
            if (uses.count(text) == 0 || uses[text] == 0) {
                --uses[shown[i]];
                ++uses[text];
                shown[i] = std::move(text);
                break;
            }
        }
    }
    return shown;
}

} // namespace ostrapel
