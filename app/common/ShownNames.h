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

// Where names[index] starts to differ from its neighbours in list order (the longer of the
// beginnings it shares with the entry before and the one after), moved back to the start of the
// word or number it falls in and never inside a character: 0 for a name unlike both.
std::size_t TellingStart(const std::vector<std::string>& names, std::size_t index);

// name as it fits in room by width: whole when it fits; else without as little of its beginning
// before telling as it must, kElision in its place; when even the rest from telling on is too
// wide, that rest keeps its beginning and its end (the extension) and loses its middle.
std::string FittedName(std::string_view name, std::size_t telling, int room,
                       const TextWidth& width);

// Every name fitted in the room roomOf(index) gives it, each shortened so that what tells it
// apart from its neighbours stays (TellingStart). Names that would still be shown alike are cut
// in the middle instead.
std::vector<std::string> FittedNames(const std::vector<std::string>& names,
                                     const std::function<int(std::size_t)>& roomOf,
                                     const TextWidth& width);

} // namespace ostrapel
