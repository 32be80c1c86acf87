#include "Catalogue.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

namespace ostrapel {

// ---- plural rules -------------------------------------------------------------------------

struct PluralRule::Node {
    enum class Op { Number, N, Not, Binary, Choice } op = Op::Number;
    std::string binary; // the operator of a Binary node
    std::uint64_t value = 0;
    std::unique_ptr<Node> a, b, c;

    std::uint64_t Eval(std::uint64_t n) const {
        switch (op) {
        case Op::Number:
            return value;
        case Op::N:
            return n;
        case Op::Not:
            return a->Eval(n) == 0 ? 1 : 0;
        case Op::Choice:
            return a->Eval(n) != 0 ? b->Eval(n) : c->Eval(n);
        case Op::Binary:
            break;
        }
        const std::uint64_t x = a->Eval(n);
        if (binary == "||") {
            return (x != 0 || b->Eval(n) != 0) ? 1 : 0;
        }
        if (binary == "&&") {
            return (x != 0 && b->Eval(n) != 0) ? 1 : 0;
        }
        const std::uint64_t y = b->Eval(n);
        if (binary == "==")
            return x == y ? 1 : 0;
        if (binary == "!=")
            return x != y ? 1 : 0;
        if (binary == "<")
            return x < y ? 1 : 0;
        if (binary == ">")
            return x > y ? 1 : 0;
        if (binary == "<=")
            return x <= y ? 1 : 0;
        if (binary == ">=")
            return x >= y ? 1 : 0;
        if (binary == "+")
            return x + y;
        if (binary == "-")
            return x - y;
        if (binary == "*")
            return x * y;
        if (binary == "/")
            return y == 0 ? 0 : x / y;
        if (binary == "%")
            return y == 0 ? 0 : x % y;
        return 0;
    }
};

namespace {

using Node = PluralRule::Node;

// Recursive descent over C's precedence, from ?: down to unary !.
class RuleParser {
public:
    explicit RuleParser(std::string_view text) : text_(text) {}

    std::unique_ptr<Node> Whole() {
        std::unique_ptr<Node> node = Choice();
        Skip();
        if (!node || pos_ != text_.size()) {
            return nullptr;
        }
        return node;
    }

private:
    static constexpr int kMaxDepth = 64;

    void Skip() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool Take(std::string_view op) {
        Skip();
        if (text_.substr(pos_, op.size()) != op) {
            return false;
        }
        // "<" is not the start of "<=", "!" not of "!=".
        if (op.size() == 1 && pos_ + 1 < text_.size() && text_[pos_ + 1] == '=' &&
            (op == "<" || op == ">" || op == "!" || op == "=")) {
            return false;
        }
        pos_ += op.size();
        return true;
    }

    std::unique_ptr<Node> Choice() {
        if (++depth_ > kMaxDepth) {
            return nullptr;
        }
        std::unique_ptr<Node> condition = Binary(0);
        if (condition && Take("?")) {
            auto node = std::make_unique<Node>();
            node->op = Node::Op::Choice;
            node->a = std::move(condition);
            node->b = Choice();
            if (!node->b || !Take(":")) {
                return nullptr;
            }
            node->c = Choice();
            condition = node->c ? std::move(node) : nullptr;
        }
        --depth_;
        return condition;
    }

    // Levels from the loosest: || && (== !=) (< > <= >=) (+ -) (* / %).
    std::unique_ptr<Node> Binary(int level) {
        static const std::vector<std::vector<std::string_view>> kLevels = {
            {"||"}, {"&&"}, {"==", "!="}, {"<=", ">=", "<", ">"}, {"+", "-"}, {"*", "/", "%"}};
        if (level == static_cast<int>(kLevels.size())) {
            return Unary();
        }
        std::unique_ptr<Node> left = Binary(level + 1);
        while (left) {
            std::string_view taken;
            for (std::string_view op : kLevels[static_cast<std::size_t>(level)]) {
                if (Take(op)) {
                    taken = op;
                    break;
                }
            }
            if (taken.empty()) {
                break;
            }
            auto node = std::make_unique<Node>();
            node->op = Node::Op::Binary;
            node->binary = std::string(taken);
            node->a = std::move(left);
            node->b = Binary(level + 1);
            left = node->b ? std::move(node) : nullptr;
        }
        return left;
    }

    std::unique_ptr<Node> Unary() {
        if (++depth_ > kMaxDepth) {
            return nullptr;
        }
        std::unique_ptr<Node> node;
        Skip();
        if (Take("!")) {
            node = std::make_unique<Node>();
            node->op = Node::Op::Not;
            node->a = Unary();
            node = node->a ? std::move(node) : nullptr;
        } else if (Take("(")) {
            node = Choice();
            node = (node && Take(")")) ? std::move(node) : nullptr;
        } else if (pos_ < text_.size() && text_[pos_] == 'n') {
            ++pos_;
            node = std::make_unique<Node>();
            node->op = Node::Op::N;
        } else if (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            node = std::make_unique<Node>();
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' &&
                   node->value < 1000000000) {
                node->value = node->value * 10 + static_cast<std::uint64_t>(text_[pos_] - '0');
                ++pos_;
            }
        }
        --depth_;
        return node;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

// The value of "key=VALUE;" in text, the value trimmed; nullopt when absent.
std::optional<std::string_view> Field(std::string_view text, std::string_view key) {
    for (std::size_t at = text.find(key); at != std::string_view::npos;
         at = text.find(key, at + 1)) {
        if (at > 0 && text[at - 1] != ' ' && text[at - 1] != ';' && text[at - 1] != '\t') {
            continue;
        }
        std::size_t value = at + key.size();
        while (value < text.size() && text[value] == ' ') {
            ++value;
        }
        if (value >= text.size() || text[value] != '=') {
            continue;
        }
        ++value;
        const std::size_t end = text.find(';', value);
        return text.substr(value,
                           end == std::string_view::npos ? text.size() - value : end - value);
    }
    return std::nullopt;
}

} // namespace

PluralRule::PluralRule() {
    // n != 1
    root_ = std::make_unique<Node>();
    root_->op = Node::Op::Binary;
    root_->binary = "!=";
    root_->a = std::make_unique<Node>();
    root_->a->op = Node::Op::N;
    root_->b = std::make_unique<Node>();
    root_->b->value = 1;
}

PluralRule::~PluralRule() = default;
PluralRule::PluralRule(PluralRule&&) noexcept = default;
PluralRule& PluralRule::operator=(PluralRule&&) noexcept = default;

std::unique_ptr<PluralRule> PluralRule::Parse(std::string_view pluralForms) {
    const std::optional<std::string_view> forms = Field(pluralForms, "nplurals");
    const std::optional<std::string_view> expression = Field(pluralForms, "plural");
    if (!forms || !expression) {
        return nullptr;
    }
    std::size_t count = 0;
    std::string_view digits = *forms;
    while (!digits.empty() && digits.back() == ' ') {
        digits.remove_suffix(1);
    }
    if (digits.empty() || digits.size() > 1 || digits[0] < '1' || digits[0] > '6') {
        return nullptr;
    }
    count = static_cast<std::size_t>(digits[0] - '0');
    std::unique_ptr<Node> root = RuleParser(*expression).Whole();
    if (!root) {
        return nullptr;
    }
    auto rule = std::make_unique<PluralRule>();
    rule->forms_ = count;
    rule->root_ = std::move(root);
    return rule;
}

std::size_t PluralRule::FormFor(std::uint64_t n) const {
    const std::uint64_t form = root_->Eval(n);
    return form < forms_ ? static_cast<std::size_t>(form) : 0;
}

// ---- catalogues -----------------------------------------------------------------------------

namespace {

// Every name filled in candidate is one english knows.
bool FillsOnlyKnownNames(std::string_view candidate, const std::vector<std::string>& known) {
    for (const std::string& name : PlaceholdersOf(candidate)) {
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> Split(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\0', start);
        parts.emplace_back(
            text.substr(start, end == std::string_view::npos ? text.npos : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

} // namespace

Catalogue Catalogue::FromMo(std::string_view data) {
    const auto word = [&data](std::size_t at, bool swapped) -> std::optional<std::uint32_t> {
        if (at > data.size() || data.size() - at < 4) {
            return std::nullopt;
        }
        unsigned char b[4];
        std::memcpy(b, data.data() + at, 4);
        if (swapped) {
            std::swap(b[0], b[3]);
            std::swap(b[1], b[2]);
        }
        return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
               static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    };
    const std::optional<std::uint32_t> magic = word(0, false);
    if (!magic || (*magic != 0x950412deu && *magic != 0xde120495u)) {
        return {};
    }
    const bool swapped = *magic == 0xde120495u;
    const auto count = word(8, swapped);
    const auto originals = word(12, swapped);
    const auto translations = word(16, swapped);
    if (!count || !originals || !translations || *count > data.size() / 16) {
        return {};
    }
    // The string of the table at table, entry i: its length, its offset, a NUL after it.
    const auto text = [&](std::uint32_t table, std::uint32_t i) -> std::optional<std::string_view> {
        const std::size_t at = static_cast<std::size_t>(table) + std::size_t{8} * i;
        const auto length = word(at, swapped);
        const auto offset = word(at + 4, swapped);
        if (!length || !offset || *offset > data.size() || data.size() - *offset <= *length ||
            data[*offset + *length] != '\0') {
            return std::nullopt;
        }
        return data.substr(*offset, *length);
    };

    struct Entry {
        std::string_view original;
        std::string_view translation;
    };
    std::vector<Entry> entries;
    std::string_view header;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto original = text(*originals, i);
        const auto translation = text(*translations, i);
        if (!original || !translation) {
            return {};
        }
        if (original->empty()) {
            header = *translation;
        } else if (original->find('\x04') == std::string_view::npos) { // no contexts are used
            entries.push_back({*original, *translation});
        }
    }

    Catalogue catalogue;
    std::shared_ptr<PluralRule> rule;
    if (const std::size_t at = header.find("Plural-Forms:"); at != std::string_view::npos) {
        const std::size_t end = header.find('\n', at);
        rule = PluralRule::Parse(
            header.substr(at + 13, end == header.npos ? header.npos : end - at - 13));
    }
    catalogue.rule_ = rule;
    for (const Entry& entry : entries) {
        const std::vector<std::string> ids = Split(entry.original);
        const std::vector<std::string> forms = Split(entry.translation);
        if (ids.size() == 1) {
            const std::vector<std::string> known = PlaceholdersOf(ids[0]);
            if (!forms[0].empty() && forms.size() == 1 && FillsOnlyKnownNames(forms[0], known)) {
                catalogue.singular_.emplace(ids[0], forms[0]);
            }
            continue;
        }
        if (ids.size() != 2 || !rule || forms.size() != rule->forms()) {
            continue;
        }
        std::vector<std::string> known = PlaceholdersOf(ids[0]);
        for (const std::string& name : PlaceholdersOf(ids[1])) {
            known.push_back(name);
        }
        const bool sound = std::all_of(forms.begin(), forms.end(), [&known](const std::string& f) {
            return !f.empty() && FillsOnlyKnownNames(f, known);
        });
        if (sound) {
            catalogue.plural_.emplace(ids[0], forms);
        }
    }
    return catalogue;
}

std::string_view Catalogue::Translate(std::string_view id) const {
    const auto found = singular_.find(std::string(id));
    return found == singular_.end() ? id : std::string_view(found->second);
}

std::string_view Catalogue::TranslatePlural(std::string_view singular, std::string_view plural,
                                            std::uint64_t n) const {
    const auto found = plural_.find(std::string(singular));
    if (found == plural_.end() || !rule_) {
        return Translator::TranslatePlural(singular, plural, n);
    }
    return found->second[rule_->FormFor(n)];
}

bool Catalogue::Has(std::string_view id) const {
    const std::string key(id);
    return singular_.count(key) != 0 || plural_.count(key) != 0;
}

// ---- languages ------------------------------------------------------------------------------

std::string NormalisedLanguage(std::string_view tag) {
    tag = tag.substr(0, tag.find_first_of(".@"));
    if (tag.empty() || tag == "C" || tag == "POSIX") {
        return {};
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= tag.size()) {
        const std::size_t end = tag.find_first_of("_-", start);
        parts.emplace_back(tag.substr(start, end == tag.npos ? tag.npos : end - start));
        if (end == tag.npos) {
            break;
        }
        start = end + 1;
    }
    std::string language;
    for (char c : parts[0]) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            language += static_cast<char>(c | 0x20);
        } else {
            return {};
        }
    }
    if (language.size() < 2 || language.size() > 3) {
        return {};
    }
    // The region: the first later part of two letters (a script such as "Hans" is passed over).
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part.size() == 2 && std::isalpha(static_cast<unsigned char>(part[0])) &&
            std::isalpha(static_cast<unsigned char>(part[1]))) {
            language += '_';
            language += static_cast<char>(std::toupper(static_cast<unsigned char>(part[0])));
            language += static_cast<char>(std::toupper(static_cast<unsigned char>(part[1])));
            break;
        }
    }
    return language;
}

std::string ChooseLanguage(const std::vector<std::string>& preferred,
                           const std::vector<std::string>& available) {
    const auto languageOf = [](std::string_view tag) { return tag.substr(0, tag.find('_')); };
    for (const std::string& raw : preferred) {
        const std::string tag = NormalisedLanguage(raw);
        if (tag.empty()) {
            if (raw == "C" || raw.rfind("C.", 0) == 0 || raw == "POSIX") {
                return {};
            }
            continue;
        }
        if (languageOf(tag) == "en") {
            return {};
        }
        for (const std::string& candidate : available) {
            if (candidate == tag) {
                return candidate;
            }
        }
        for (const std::string& candidate : available) {
            if (languageOf(candidate) == languageOf(tag)) {
                return candidate;
            }
        }
    }
    return {};
}

} // namespace ostrapel
