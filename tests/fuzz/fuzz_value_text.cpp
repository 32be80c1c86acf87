// ConvertValueText on any text: never crashes, and wherever a long double reads the text
// without doubt, agrees with it (rounded half to even, in the 16-bit range, else no value).

#include "conversion/DlcVersion.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether text is [sign] digits [. digits] with a digit somewhere; counts the significant
// digits (without leading zeros of the whole part or trailing zeros of the fraction).
bool IsDecimal(std::string_view text, std::size_t& significant) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    const std::size_t whole = i;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
    }
    std::string_view wholeDigits = text.substr(whole, i - whole);
    std::string_view fraction;
    if (i < text.size() && text[i] == '.') {
        const std::size_t start = ++i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
        }
        fraction = text.substr(start, i - start);
    }
    if (i != text.size() || (wholeDigits.empty() && fraction.empty())) {
        return false;
    }
    const auto firstWhole = wholeDigits.find_first_not_of('0');
    const auto lastFraction = fraction.find_last_not_of('0');
    significant = (firstWhole == std::string_view::npos ? 0 : wholeDigits.size() - firstWhole) +
                  (lastFraction == std::string_view::npos ? 0 : lastFraction + 1);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int16_t> got = ostrapel::ConvertValueText(text);

    std::size_t significant = 0;
    if (!IsDecimal(text, significant)) {
        if (got) {
            std::abort(); // not a decimal number, yet converted
        }
        return 0;
    }
    // Up to 18 significant digits a long double holds the number closely enough that no
    // other text reads as an exact half.
    if (significant > 18) {
        return 0;
    }
    std::fesetround(FE_TONEAREST);
    const long double exact = std::strtold(text.c_str(), nullptr);
    const long double rounded = std::nearbyint(exact);
    const std::optional<std::int16_t> expected =
        rounded < -32768.0L || rounded > 32767.0L
            ? std::nullopt
            : std::optional<std::int16_t>(static_cast<std::int16_t>(rounded));
    if (got != expected) {
        std::abort();
    }
    return 0;
}
