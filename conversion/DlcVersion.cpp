#include "conversion/DlcVersion.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

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

FieldReadResult ReadDlcField(const std::string& path) {
    FieldReadResult result;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        result.status = Status::FromErrno(errno);
        return result;
    }
    unsigned char bytes[2] = {0, 0};
    ssize_t got;
    do {
        got = ::pread(fd, bytes, sizeof bytes, DlcField::kOffset);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        result.status = Status::FromErrno(errno);
    } else if (got == static_cast<ssize_t>(sizeof bytes)) {
        result.value =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8));
    }
    ::close(fd);
    return result;
}

FieldWriteResult WriteDlcField(const std::string& path, std::string_view valueText) {
    FieldWriteResult result;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        result.status = Status::FromErrno(errno);
        return result;
    }
    if (auto value = ConvertValueText(valueText)) {
        const auto bits = static_cast<std::uint16_t>(*value);
        const unsigned char bytes[2] = {static_cast<unsigned char>(bits & 0xFF),
                                        static_cast<unsigned char>(bits >> 8)};
        ssize_t put;
        do {
            put = ::pwrite(fd, bytes, sizeof bytes, DlcField::kOffset);
        } while (put < 0 && errno == EINTR);
        if (put != static_cast<ssize_t>(sizeof bytes)) {
            result.status = Status::FromErrno(put < 0 ? errno : EIO);
        } else {
            result.written = true;
        }
    }
    if (::close(fd) != 0 && result.status.ok()) {
        result.status = Status::FromErrno(errno);
        result.written = false;
    }
    return result;
}

} // namespace ostrapel
