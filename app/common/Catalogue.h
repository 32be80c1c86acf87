#pragma once

#include "system/Phrase.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ostrapel {

// A language's plural rule as gettext writes it in a catalogue's header, "plural=(n==1 ? 0 :
// 1)": C's integer expressions over n (?:, ||, &&, comparisons, + - * / %, !, parentheses).
class PluralRule {
public:
    // English's rule: one form for 1, another for the rest.
    PluralRule();
    // The rule of a "Plural-Forms:" value ("nplurals=3; plural=...;"); nullptr when it cannot be
    // read, or names no form or more than six.
    static std::unique_ptr<PluralRule> Parse(std::string_view pluralForms);
    ~PluralRule();
    PluralRule(PluralRule&&) noexcept;
    PluralRule& operator=(PluralRule&&) noexcept;

    std::size_t forms() const { return forms_; }
    // The form for n, from 0 to forms() - 1 (a rule that says otherwise gives 0).
    std::size_t FormFor(std::uint64_t n) const;

    struct Node;

private:
    std::size_t forms_ = 2;
    std::unique_ptr<Node> root_;
};

// A language's messages, read from gettext's compiled form (.mo). What cannot be trusted is left
// out and read in English: a catalogue that is damaged as a whole gives no message at all, a
// translation that fills a parameter its English does not know is left out alone, and so is a
// plural translation when the plural rule cannot be read or its forms are missing.
class Catalogue : public Translator {
public:
    // The empty catalogue: English.
    Catalogue() = default;
    // The catalogue in data; empty (English) when data is not a sound .mo.
    static Catalogue FromMo(std::string_view data);

    bool empty() const { return singular_.empty() && plural_.empty(); }
    std::size_t size() const { return singular_.size() + plural_.size(); }

    std::string_view Translate(std::string_view id) const override;
    std::string_view TranslatePlural(std::string_view singular, std::string_view plural,
                                     std::uint64_t n) const override;

    // Whether id has a translation of its own (a plural template: by its singular).
    bool Has(std::string_view id) const;
    // The plural rule of its header; nullptr when it has none that can be read.
    const PluralRule* rule() const { return rule_.get(); }

private:
    std::unordered_map<std::string, std::string> singular_;
    std::unordered_map<std::string, std::vector<std::string>> plural_; // by singular
    std::shared_ptr<PluralRule> rule_;
};

// A language tag as the platform gives it ("de_AT.UTF-8@euro", "pt-BR", "zh-Hans-CN") in the
// form the catalogues are named by: "de_AT", "pt_BR", "zh_CN". Empty for "C" and "POSIX".
std::string NormalisedLanguage(std::string_view tag);

// The language of available ("de", "pt_BR", ...) to show for the languages preferred, most
// preferred first: the first preferred one that is available as it stands, or by its language
// alone ("de_AT" gives "de", "pt_PT" gives "pt_BR"). English ("en", "C") where it comes first,
// and where nothing matches, is "".
std::string ChooseLanguage(const std::vector<std::string>& preferred,
                           const std::vector<std::string>& available);

} // namespace ostrapel
