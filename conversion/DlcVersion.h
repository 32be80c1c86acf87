#pragma once

#include "system/Status.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrapel {

struct DlcVersion {
    std::string_view label;
    std::int16_t value;
};

// The DLC versions a user can choose, in the order they are offered.
class DlcVersionTable {
public:
    static constexpr std::array<DlcVersion, 5> kRows{{
        {"0.00", 0},
        {"1.00", 100},
        {"2.00", 200},
        {"3.00", 300},
        {"4.00", 400},
    }};

    static std::array<std::string_view, 5> Labels();
    // Exact match: no trimming, no case folding, no numeric reading.
    static std::optional<std::int16_t> LookUp(std::string_view label);
    // The label of the row holding value, when one does.
    static std::optional<std::string_view> LabelOf(std::int16_t value);
};

// How a stored value is shown: its table label ("2.00"), or else the number ("250").
std::string DlcValueText(std::int16_t value);

// The DLC field of a deciphered save: a little-endian signed 16-bit value at a fixed offset.
struct DlcField {
    static constexpr std::int64_t kOffset = 788;
    static constexpr std::int64_t kEnd = kOffset + 2;
};

// Reads a value text as a decimal number (optional sign, digits, optional fraction; the
// point is always '.'), rounds halves to even and fails outside the 16-bit range.
std::optional<std::int16_t> ConvertValueText(std::string_view text);

struct FieldWriteResult {
    Status status = Status::Ok(); // opening, writing or closing failed
    bool written = false;         // the value text converted and its two bytes were written
};

struct FieldReadResult {
    Status status = Status::Ok();      // opening or reading failed
    std::optional<std::int16_t> value; // empty when the file ends before the field does
};

// The field of a deciphered save's bytes; empty when they end before the field does.
std::optional<std::int16_t> DlcFieldOf(std::string_view save);

// Puts value into the field of a deciphered save's bytes, which hold the field.
void SetDlcField(std::string& save, std::int16_t value);

// Reads the field of a deciphered save.
FieldReadResult ReadDlcField(const std::string& path);

// Opens path for reading and writing without truncating (creating it when missing), writes
// the converted value at the field's offset when the text converts, and closes it.
FieldWriteResult WriteDlcField(const std::string& path, std::string_view valueText);

} // namespace ostrapel
