#include "conversion/BackupManifest.h"

#include "system/Paths.h"

#include <charconv>
#include <set>

namespace ostrapel {

namespace {

constexpr std::string_view kMagic = "ostrapel-backup";
constexpr std::size_t kMaxNameBytes = 4096;
constexpr std::int64_t kMaxTime = std::int64_t{1} << 40;

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsSha256Hex(std::string_view text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// A decimal number without sign or leading zeros, within 0 to max.
std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max) {
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0') ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

// A 16-bit DLC value in decimal, "-" before a negative one.
std::optional<std::int16_t> ParseValue(std::string_view text) {
    const bool negative = text.starts_with('-');
    auto magnitude = ParseCount(negative ? text.substr(1) : text, negative ? 32768 : 32767);
    if (!magnitude || (negative && *magnitude == 0)) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(negative ? -*magnitude : *magnitude);
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t blank = line.find(' ', start);
        fields.push_back(line.substr(start, blank - start));
        if (blank == std::string_view::npos) {
            return fields;
        }
        start = blank + 1;
    }
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    ManifestReading read();

private:
    // The next line without its newline; false at the end or on a line without one.
    bool next(std::vector<std::string_view>& fields);
    ManifestReading fail(Phrase why) const {
        return {Status::Fail(Phrase(N_("line {line}: {reason}"))
                                 .With("line", std::uint64_t{line_})
                                 .With("reason", std::move(why))),
                {}};
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t line_ = 0;
    bool unterminated_ = false;
};

bool Reader::next(std::vector<std::string_view>& fields) {
    if (at_ >= text_.size()) {
        ++line_;
        return false;
    }
    ++line_;
    const std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) {
        unterminated_ = true;
        return false;
    }
    fields = Fields(text_.substr(at_, end - at_));
    at_ = end + 1;
    return true;
}

ManifestReading Reader::read() {
    BackupManifest manifest;
    std::vector<std::string_view> f;
    auto missing = [&](const char* what) {
        return fail(unterminated_ ? Phrase(N_("a line without its end")) : Phrase(what));
    };

    if (!next(f)) {
        return missing(N_("missing the header"));
    }
    if (f.size() != 2 || f[0] != kMagic) {
        return fail(N_("not a backup manifest"));
    }
    if (f[1] != std::to_string(kManifestVersion)) {
        return fail(Phrase(N_("unknown manifest version \"{version}\""))
                        .With("version", std::string(f[1].substr(0, 20))));
    }

    if (!next(f)) {
        return missing(N_("missing the folder"));
    }
    std::optional<std::string> folder;
    if (f.size() != 2 || f[0] != "folder" || !(folder = PercentDecode(f[1])) || folder->empty() ||
        folder->find('\0') != std::string::npos) {
        return fail(N_("expected the folder"));
    }
    manifest.folder = std::move(*folder);

    if (!next(f)) {
        return missing(N_("missing the time"));
    }
    std::optional<std::int64_t> time;
    if (f.size() != 2 || f[0] != "time" || !(time = ParseCount(f[1], kMaxTime))) {
        return fail(N_("expected the time"));
    }
    manifest.time = *time;

    if (!next(f)) {
        return missing(N_("missing the value"));
    }
    if (f.size() != 2 || f[0] != "value") {
        return fail(N_("expected the value"));
    }
    const std::optional<std::int16_t> value = ParseValue(f[1]);
    if (!value) {
        return fail(N_("expected the value"));
    }
    manifest.value = *value;

    std::set<std::string> names;
    bool more = next(f);
    for (; more && f[0] == "save"; more = next(f)) {
        std::optional<std::int64_t> file;
        std::optional<std::string> name;
        std::optional<std::int16_t> before;
        if ((f.size() != 5 && f.size() != 6) || !(file = ParseCount(f[1], std::int64_t{1} << 32)) ||
            *file == 0 || !IsSha256Hex(f[2]) || !IsSha256Hex(f[3]) ||
            !(name = PercentDecode(f[4])) || (f.size() == 6 && !(before = ParseValue(f[5])))) {
            return fail(N_("expected a save"));
        }
        if (!manifest.saves.empty() &&
            static_cast<std::size_t>(*file) <= manifest.saves.back().file) {
            return fail(N_("save numbers out of order"));
        }
        if (name->empty() || name->size() > kMaxNameBytes || *name == "." || *name == ".." ||
            name->find('/') != std::string::npos ||
            name->find(kPathSeparator) != std::string::npos ||
            name->find('\0') != std::string::npos) {
            return fail(N_("not a plain file name"));
        }
        if (!names.insert(*name).second) {
            return fail(N_("a save named twice"));
        }
        manifest.saves.push_back({static_cast<std::size_t>(*file), std::move(*name),
                                  std::string(f[2]), std::string(f[3]), before});
    }
    if (manifest.saves.empty()) {
        return more ? fail(N_("expected a save")) : missing(N_("missing the saves"));
    }
    if (more && f.size() == 1 && f[0] == "complete") {
        manifest.complete = true;
        more = next(f);
    }
    if (more && f[0] == "undone") {
        std::optional<std::int64_t> undone;
        if (f.size() != 2 || !(undone = ParseCount(f[1], kMaxTime))) {
            return fail(N_("expected the time it was undone"));
        }
        manifest.undone = *undone;
        more = next(f);
    }
    if (!more) {
        return missing(N_("missing the end"));
    }
    if (f.size() != 1 || f[0] != "end") {
        return fail(N_("unexpected line"));
    }
    if (at_ != text_.size()) {
        ++line_;
        return fail(N_("text after the end"));
    }
    return {Status::Ok(), std::move(manifest)};
}

} // namespace

std::string PercentEncode(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (Unreserved(byte)) {
            text.push_back(c);
        } else {
            text.push_back('%');
            text.push_back(kDigits[byte >> 4]);
            text.push_back(kDigits[byte & 0x0F]);
        }
    }
    return text;
}

std::optional<std::string> PercentDecode(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            const int byte = high * 16 + low;
            // Only bytes that must be encoded may be; one text per byte string.
            if (high < 0 || low < 0 || Unreserved(static_cast<unsigned char>(byte))) {
                return std::nullopt;
            }
            bytes.push_back(static_cast<char>(byte));
            i += 2;
        } else if (Unreserved(c)) {
            bytes.push_back(static_cast<char>(c));
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

std::string ComposeManifest(const BackupManifest& manifest) {
    std::string text = std::string(kMagic) + " " + std::to_string(kManifestVersion) + "\n";
    text += "folder " + PercentEncode(manifest.folder) + "\n";
    text += "time " + std::to_string(manifest.time) + "\n";
    text += "value " + std::to_string(manifest.value) + "\n";
    for (const BackupManifest::Save& save : manifest.saves) {
        // Appended piece by piece: GCC 12's release build takes a literal glued before a
        // string for an overlapping copy.
        text.append("save ").append(std::to_string(save.file)).append(" ");
        text.append(save.originalSha256).append(" ").append(save.writtenSha256).append(" ");
        text.append(PercentEncode(save.name));
        if (save.before) {
            text.append(" ").append(std::to_string(*save.before));
        }
        text.append("\n");
    }
    if (manifest.complete) {
        text += "complete\n";
    }
    if (manifest.undone) {
        text += "undone " + std::to_string(*manifest.undone) + "\n";
    }
    text += "end\n";
    return text;
}

ManifestReading ParseManifest(std::string_view text) {
    if (text.size() > kManifestMaxBytes) {
        return {Status::Fail("too large"), {}};
    }
    return Reader(text).read();
}

std::string OriginalFileName(std::size_t file) {
    return "original-" + std::to_string(file);
}

} // namespace ostrapel
