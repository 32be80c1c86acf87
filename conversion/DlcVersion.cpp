#include "conversion/DlcVersion.h"

#include "system/FileSystem.h"

namespace ostrapel {

std::array<std::string_view, 5> DlcVersionTable::Labels() {
    std::array<std::string_view, 5> labels;
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        labels[i] = kRows[i].label;
    }
    return labels;
}

std::optional<std::int16_t> DlcVersionTable::LookUp(std::string_view label) {
    for (const DlcVersion& row : kRows) {
        if (row.label == label) {
            return row.value;
        }
    }
    return std::nullopt;
}

std::optional<std::string_view> DlcVersionTable::LabelOf(std::int16_t value) {
    for (const DlcVersion& row : kRows) {
        if (row.value == value) {
            return row.label;
        }
    }
    return std::nullopt;
}

std::string DlcValueText(std::int16_t value) {
    if (auto label = DlcVersionTable::LabelOf(value)) {
        return std::string(*label);
    }
    return std::to_string(value);
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<std::int16_t> ConvertValueText(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t intStart = i;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
    }
    const std::string_view integerDigits = text.substr(intStart, i - intStart);
    std::string_view fractionDigits;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
        }
        fractionDigits = text.substr(fracStart, i - fracStart);
    }
    if (i != text.size() || (integerDigits.empty() && fractionDigits.empty())) {
        return std::nullopt;
    }

    // The magnitude, exactly, as long as it can still fit: any text of more significant
    // digits is out of range whatever its fraction.
    std::int32_t magnitude = 0;
    for (char c : integerDigits) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 40000) {
            return std::nullopt;
        }
    }
    if (!fractionDigits.empty()) {
        const char first = fractionDigits.front();
        const bool restZero = fractionDigits.find_first_not_of('0', 1) == std::string_view::npos;
        const bool up = first > '5' || (first == '5' && (!restZero || magnitude % 2 == 1));
        if (up) {
            ++magnitude;
        }
    }
    const std::int32_t value = negative ? -magnitude : magnitude;
    if (value < -32768 || value > 32767) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

namespace {

std::string FieldBytes(std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    return {static_cast<char>(bits & 0xFF), static_cast<char>(bits >> 8)};
}

constexpr auto kFieldAt = static_cast<std::size_t>(DlcField::kOffset);

// The field's value from its two bytes, low byte first.
std::int16_t FieldValue(char low, char high) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(
        static_cast<unsigned char>(low) | static_cast<unsigned char>(high) << 8));
}

} // namespace

std::optional<std::int16_t> DlcFieldOf(std::string_view save) {
    if (save.size() < kFieldAt + 2) {
        return std::nullopt;
    }
    return FieldValue(save[kFieldAt], save[kFieldAt + 1]);
}

void SetDlcField(std::string& save, std::int16_t value) {
    const std::string bytes = FieldBytes(value);
    save.at(kFieldAt) = bytes[0];
    save.at(kFieldAt + 1) = bytes[1];
}

FieldReadResult ReadDlcField(const std::string& path) {
    FieldReadResult result;
    std::string bytes;
    result.status = ReadBytesAt(path, DlcField::kOffset, 2, bytes);
    if (result.status.ok() && bytes.size() == 2) {
        result.value = FieldValue(bytes[0], bytes[1]);
    }
    return result;
}

FieldWriteResult WriteDlcField(const std::string& path, std::string_view valueText) {
    FieldWriteResult result;
    std::string bytes;
    if (auto value = ConvertValueText(valueText)) {
        bytes = FieldBytes(*value);
    }
    result.status = WriteBytesAt(path, DlcField::kOffset, bytes);
    result.written = result.status.ok() && !bytes.empty();
    return result;
}

} // namespace ostrapel
