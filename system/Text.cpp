#include "system/Text.h"

#include "system/Paths.h"

namespace ostrapel {

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    const Utf8Character character = FirstCharacter(text.substr(at));
    return character.valid ? character.length : 0;
}

std::string Printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0) {
            shown += {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
            ++at;
        } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            const unsigned char code = static_cast<unsigned char>(text[at + 1]); // C1 control
            shown += {'\\', 'u', '0', '0', kHex[code >> 4], kHex[code & 0xF]};
            at += 2;
        } else if (c == '\n') {
            shown += "\\n";
            ++at;
        } else if (c == '\r') {
            shown += "\\r";
            ++at;
        } else if (c == '\t') {
            shown += "\\t";
            ++at;
        } else if (c < 0x20 || c == 0x7F) {
            shown += {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
            ++at;
        } else {
            shown.append(text.substr(at, length));
            at += length;
        }
    }
    return shown;
}

} // namespace ostrapel
