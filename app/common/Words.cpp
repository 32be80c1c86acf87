#include "Words.h"

#include "EmbeddedCatalogues.h"
#include "system/Languages.h"

#include <map>
#include <memory>
#include <mutex>

namespace ostrapel {

namespace {

// Every text through a fixed table of accented letters, then padded to about 140%.
class PseudoTranslator : public Translator {
public:
    std::string_view Translate(std::string_view id) const override { return Stored(id); }
    std::string_view TranslatePlural(std::string_view singular, std::string_view plural,
                                     std::uint64_t n) const override {
        return Stored(n == 1 ? singular : plural);
    }

private:
    std::string_view Stored(std::string_view id) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto [at, added] = made_.try_emplace(std::string(id));
        if (added) {
            at->second = PseudoWords(id);
        }
        return at->second;
    }

    mutable std::mutex mutex_;
    mutable std::map<std::string, std::string, std::less<>> made_;
};

struct Current {
    std::string language;
    std::unique_ptr<Translator> words = std::make_unique<Translator>();
};

Current& TheCurrent() {
    static Current current;
    return current;
}

std::vector<Filled> Values(std::initializer_list<Filled> values) {
    return std::vector<Filled>(values.begin(), values.end());
}

} // namespace

const Translator& CurrentWords() {
    return *TheCurrent().words;
}

std::string Tr(const char* id, std::initializer_list<Filled> values) {
    return Fill(CurrentWords().Translate(id), Values(values));
}

std::string TrN(const char* singular, const char* plural, std::uint64_t n,
                std::initializer_list<Filled> values) {
    const std::string count = std::to_string(n);
    std::vector<Filled> all = Values(values);
    all.push_back({"n", count});
    return Fill(CurrentWords().TranslatePlural(singular, plural, n), all);
}

std::string Say(const Phrase& phrase) {
    return Render(phrase, CurrentWords());
}

std::vector<std::string> AvailableLanguages() {
    std::vector<std::string> languages;
    for (const EmbeddedCatalogue& embedded : EmbeddedCatalogues()) {
        languages.emplace_back(embedded.language);
    }
    return languages;
}

Catalogue CatalogueOf(std::string_view language) {
    for (const EmbeddedCatalogue& embedded : EmbeddedCatalogues()) {
        if (embedded.language == language) {
            return Catalogue::FromMo(embedded.mo);
        }
    }
    return {};
}

std::string UseLanguage(std::string_view chosen) {
    Current& current = TheCurrent();
    if (chosen == kPseudoLanguage) {
        current.language = kPseudoLanguage;
        current.words = std::make_unique<PseudoTranslator>();
        return current.language;
    }
    const std::vector<std::string> preferred =
        chosen.empty() ? PreferredLanguages() : std::vector<std::string>{std::string(chosen)};
    current.language = ChooseLanguage(preferred, AvailableLanguages());
    current.words = std::make_unique<Catalogue>(CatalogueOf(current.language));
    if (static_cast<const Catalogue&>(*current.words).empty()) {
        current.language.clear(); // a damaged catalogue reads as English
    }
    return current.language;
}

std::string TakeLanguageOption(std::vector<std::string>& arguments) {
    constexpr std::string_view kOption = "--language";
    std::string language;
    for (std::size_t i = 0; i < arguments.size();) {
        const std::string& argument = arguments[i];
        const auto at = arguments.begin() + static_cast<std::ptrdiff_t>(i);
        if (argument == kOption && i + 1 < arguments.size()) {
            language = arguments[i + 1];
            arguments.erase(at, at + 2);
        } else if (argument.starts_with(kOption) && argument.size() > kOption.size() &&
                   argument[kOption.size()] == '=') {
            language = argument.substr(kOption.size() + 1);
            arguments.erase(at);
        } else {
            ++i;
        }
    }
    return language;
}

std::string CurrentLanguage() {
    return TheCurrent().language;
}

std::string PseudoWords(std::string_view english) {
    // Accented forms of the ASCII letters, as UTF-8.
    static const std::map<char, const char*> kAccented = {
        {'a', "á"}, {'c', "ç"}, {'e', "é"}, {'i', "î"}, {'n', "ñ"}, {'o', "ö"}, {'u', "ü"},
        {'y', "ý"}, {'s', "š"}, {'z', "ž"}, {'A', "Å"}, {'C', "Ç"}, {'E', "É"}, {'I', "Î"},
        {'N', "Ñ"}, {'O', "Ö"}, {'U', "Ü"}, {'Y', "Ý"}, {'S', "Š"}, {'Z', "Ž"}};
    std::string out = "[";
    std::size_t letters = 0;
    for (std::size_t i = 0; i < english.size(); ++i) {
        const char c = english[i];
        if (c == '{') {
            const std::size_t end = english.find('}', i);
            if (end != std::string_view::npos) {
                out.append(english.substr(i, end - i + 1));
                i = end;
                continue;
            }
        }
        if (c == '&' && i + 1 < english.size()) {
            out += c;
            out += english[++i]; // the access key's letter, or the second '&'
            ++letters;
            continue;
        }
        if (c == '\n') {
            out += c;
            continue;
        }
        const auto accented = kAccented.find(c);
        out += accented == kAccented.end() ? std::string(1, c) : accented->second;
        ++letters;
    }
    // About 40% longer: a run of tildes, then the closing mark.
    for (std::size_t pad = (letters * 2 + 4) / 5; pad > 0; --pad) {
        out += '~';
    }
    out += ']';
    return out;
}

} // namespace ostrapel
