#include "system/Phrase.h"

namespace ostrapel {

namespace {

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The placeholder starting at text[i] ('{'): its name, or empty when it is none.
std::string_view NameAt(std::string_view text, std::size_t i) {
    std::size_t end = i + 1;
    while (end < text.size() && IsNameChar(text[end])) {
        ++end;
    }
    if (end == i + 1 || end >= text.size() || text[end] != '}') {
        return {};
    }
    return text.substr(i + 1, end - i - 1);
}

std::string ArgText(const Phrase::Arg& arg, const Translator& words) {
    switch (arg.kind) {
    case Phrase::Arg::Kind::Text:
        return arg.text;
    case Phrase::Arg::Kind::Number:
        return std::to_string(arg.number);
    case Phrase::Arg::Kind::Phrase:
        return arg.phrase ? Render(*arg.phrase, words) : std::string();
    }
    return {};
}

} // namespace

Phrase::Phrase(const char* id) : id_(id ? id : "") {}

Phrase::Phrase(std::string text) : text_(std::move(text)) {}

Phrase Phrase::Verbatim(std::string text) {
    return Phrase(std::move(text));
}

Phrase Phrase::Plural(const char* singular, const char* plural, std::uint64_t n) {
    Phrase phrase(singular);
    phrase.plural_ = plural ? plural : "";
    phrase.count_ = n;
    return std::move(phrase).With("n", n);
}

Phrase& Phrase::With(std::string_view name, std::string text) & {
    Arg arg;
    arg.name = std::string(name);
    arg.text = std::move(text);
    args_.push_back(std::move(arg));
    return *this;
}

Phrase& Phrase::With(std::string_view name, std::uint64_t number) & {
    Arg arg;
    arg.name = std::string(name);
    arg.kind = Arg::Kind::Number;
    arg.number = number;
    args_.push_back(std::move(arg));
    return *this;
}

Phrase& Phrase::With(std::string_view name, Phrase phrase) & {
    Arg arg;
    arg.name = std::string(name);
    arg.kind = Arg::Kind::Phrase;
    arg.phrase = std::make_shared<const Phrase>(std::move(phrase));
    args_.push_back(std::move(arg));
    return *this;
}

const Phrase::Arg* Phrase::Find(std::string_view name) const {
    for (const Arg& arg : args_) {
        if (arg.name == name) {
            return &arg;
        }
    }
    return nullptr;
}

std::string Phrase::English() const {
    return Render(*this, Translator());
}

std::string Render(const Phrase& phrase, const Translator& words) {
    if (phrase.verbatim()) {
        return phrase.text();
    }
    const std::string_view text =
        phrase.plural() ? words.TranslatePlural(phrase.id(), phrase.pluralId(), phrase.count())
                        : words.Translate(phrase.id());
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view name = text[i] == '{' ? NameAt(text, i) : std::string_view();
        const Phrase::Arg* arg = name.empty() ? nullptr : phrase.Find(name);
        if (arg == nullptr) {
            out += text[i];
            continue;
        }
        out += ArgText(*arg, words);
        i += name.size() + 1;
    }
    return out;
}

std::string Fill(std::string_view text, const std::vector<Filled>& values) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view name = text[i] == '{' ? NameAt(text, i) : std::string_view();
        const Filled* value = nullptr;
        for (const Filled& candidate : values) {
            if (!name.empty() && candidate.name == name) {
                value = &candidate;
                break;
            }
        }
        if (value == nullptr) {
            out += text[i];
            continue;
        }
        out += value->value;
        i += name.size() + 1;
    }
    return out;
}

std::vector<std::string> PlaceholdersOf(std::string_view text) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view name = text[i] == '{' ? NameAt(text, i) : std::string_view();
        if (name.empty()) {
            continue;
        }
        bool seen = false;
        for (const std::string& known : names) {
            seen = seen || known == name;
        }
        if (!seen) {
            names.emplace_back(name);
        }
        i += name.size() + 1;
    }
    return names;
}

std::ostream& operator<<(std::ostream& out, const Phrase& phrase) {
    return out << phrase.English();
}

} // namespace ostrapel
