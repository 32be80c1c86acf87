#include "conversion/NaturalOrder.h"

#include "system/Paths.h"

#include <algorithm>

namespace ostrapel {

namespace {

// Where a byte outside a valid UTF-8 sequence sorts: past every code point, by its value.
constexpr char32_t kInvalidByteBase = 0x110000;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char32_t FoldCase(char32_t c) {
    if (c < 0x80) {
        return c >= U'A' && c <= U'Z' ? c + 0x20 : c;
    }
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) ||    // Latin-1 capitals, not the multiplication sign
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || // Greek capitals
        (c >= 0x410 && c <= 0x42F)) {               // Cyrillic capitals
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) { // Cyrillic capitals with marks
        return c + 0x50;
    }
    // Latin Extended-A: capital and small letter side by side.
    const bool evenCapital =
        (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenCapital && c % 2 == 0) || (oddCapital && c % 2 == 1)) {
        return c + 1;
    }
    if (c == 0x178) { // Y with diaeresis
        return 0xFF;
    }
    return c;
}

// One unit of comparison: a run of digits, or one character.
struct Token {
    char32_t key = 0;        // '0' for a run of digits
    std::string_view digits; // the run without its leading zeros; only for a run of digits
    bool number = false;
};

Token NextToken(std::string_view& text) {
    Token token;
    if (IsDigit(text.front())) {
        std::size_t end = 0;
        while (end < text.size() && IsDigit(text[end])) {
            ++end;
        }
        std::string_view run = text.substr(0, end);
        run.remove_prefix(std::min(run.find_first_not_of('0'), run.size()));
        text.remove_prefix(end);
        token.key = U'0';
        token.digits = run;
        token.number = true;
        return token;
    }
    const Utf8Character character = FirstCharacter(text);
    token.key = character.valid ? FoldCase(character.codePoint)
                                : kInvalidByteBase + static_cast<unsigned char>(text.front());
    text.remove_prefix(character.length);
    return token;
}

int Compare(const Token& a, const Token& b) {
    if (a.key != b.key) {
        return a.key < b.key ? -1 : 1;
    }
    if (!a.number) {
        return 0; // the same key: both characters, or both runs of digits
    }
    if (a.digits.size() != b.digits.size()) {
        return a.digits.size() < b.digits.size() ? -1 : 1;
    }
    const int digits = a.digits.compare(b.digits);
    return digits < 0 ? -1 : digits > 0 ? 1 : 0;
}

} // namespace

int NaturalCompare(std::string_view a, std::string_view b) {
    while (!a.empty() && !b.empty()) {
        if (int order = Compare(NextToken(a), NextToken(b)); order != 0) {
            return order;
        }
    }
    return a.empty() ? (b.empty() ? 0 : -1) : 1;
}

bool NaturalLess(std::string_view a, std::string_view b) {
    const int order = NaturalCompare(a, b);
    return order != 0 ? order < 0 : a < b;
}

void SortNaturally(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
}

} // namespace ostrapel
