#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// A font's measure: the width a text takes, in the unit of the room it is fitted in (pixels).
using TextWidth = std::function<int(std::string_view)>;

// Stands for what a shown name leaves out.
inline constexpr std::string_view kElision = "\xE2\x80\xA6"; // U+2026

// The part of a name that tells it apart from its neighbours: from start to end, in bytes, and
// the character where it first differs from the nearer of them (at start or after).
struct Telling {
    std::size_t start = 0;
    std::size_t end = std::string_view::npos;
    std::size_t differs = 0;
};

// Where names[index] differs from its neighbours in list order: from the longer of the
// beginnings it shares with the entry before and the one after, moved back to the start of the
// word or number it falls in, to the longer of the ends it shares with them, moved on to the end
// of its word or number ("001" of "Autosave_001.sav" beside "Autosave_002.sav"). A CJK character
// is a word of its own. Never inside a character; the whole name for a name unlike both.
Telling TellingPart(const std::vector<std::string>& names, std::size_t index);

// name as it fits in room by width: whole when it fits; else without as little of its beginning
// before the telling part as it must, kElision in its place; else without as little of its end
// after it (an extension all share) too; else the telling part loses its middle, where that
// keeps the character where it differs; else the characters around that one. Never wider than
// room: at the narrowest, kElision alone or nothing.
std::string FittedName(std::string_view name, Telling telling, int room, const TextWidth& width);

// Every name fitted in the room roomOf(index) gives it, each shortened so that what tells it
// apart from its neighbours stays (TellingPart). Names that would still be shown alike are cut
// in the middle instead.
std::vector<std::string> FittedNames(const std::vector<std::string>& names,
                                     const std::function<int(std::size_t)>& roomOf,
                                     const TextWidth& width);

} // namespace ostrapel
