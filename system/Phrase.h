#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Marks an English text for the message catalogue where it is not handed to Phrase, Fail or a
// front end's Tr directly (xgettext finds it by this name). The text itself, untranslated.
#define N_(text) text

namespace ostrapel {

// What the core says, kept apart from its words: an English template from the catalogue with
// named parameters ("copy failed: {reason}"), or words that are not ours (a tool's own output,
// a system's message), shown as they are. A front end turns it into the player's language
// (Words::Say); English() gives the template filled in as it stands.
//
// Templates name their parameters in braces: lower-case ASCII letters, digits and '_'. A
// parameter is verbatim text (a file name, a path, a tool's words: never translated), a number,
// or a phrase of its own, translated in turn. A plural phrase has a singular and a plural
// template and fills {n} with its count.
class Phrase {
public:
    Phrase() = default;
    // A template from the catalogue; nullptr or "" give the empty phrase.
    Phrase(const char* id); // NOLINT(google-explicit-constructor): texts read as phrases
    // Words made at run time are not the catalogue's: verbatim. Prefer a template with
    // parameters to words put together; this is for words that are not ours.
    Phrase(std::string text); // NOLINT(google-explicit-constructor)
    // Words that are not ours, shown as they are.
    static Phrase Verbatim(std::string text);
    // One of two templates by the count, "{n} file" / "{n} files" in English.
    static Phrase Plural(const char* singular, const char* plural, std::uint64_t n);

    // Fills {name}. Later values of the same name are ignored.
    Phrase& With(std::string_view name, std::string text) &;
    Phrase& With(std::string_view name, std::uint64_t number) &;
    Phrase& With(std::string_view name, Phrase phrase) &;
    Phrase&& With(std::string_view name, std::string text) && {
        return std::move(With(name, std::move(text)));
    }
    Phrase&& With(std::string_view name, std::uint64_t number) && {
        return std::move(With(name, number));
    }
    Phrase&& With(std::string_view name, Phrase phrase) && {
        return std::move(With(name, std::move(phrase)));
    }
    // Keeps string literals from choosing the number overload.
    Phrase& With(std::string_view name, const char* text) & {
        return With(name, std::string(text));
    }
    Phrase&& With(std::string_view name, const char* text) && {
        return std::move(With(name, std::string(text)));
    }

    bool empty() const { return id_.empty() && text_.empty(); }
    bool verbatim() const { return id_.empty(); }
    // The template (the singular one for a plural phrase); empty for verbatim words.
    const std::string& id() const { return id_; }
    const std::string& pluralId() const { return plural_; }
    bool plural() const { return !plural_.empty(); }
    std::uint64_t count() const { return count_; }
    // The verbatim words; empty for a template.
    const std::string& text() const { return text_; }

    struct Arg {
        std::string name;
        enum class Kind { Text, Number, Phrase } kind = Kind::Text;
        std::string text;
        std::uint64_t number = 0;
        std::shared_ptr<const class Phrase> phrase;
    };
    const std::vector<Arg>& args() const { return args_; }
    // The parameter of that name; nullptr when there is none.
    const Arg* Find(std::string_view name) const;

    // The phrase in English: the template filled in, nested phrases in English too.
    std::string English() const;

private:
    std::string id_;
    std::string plural_;
    std::uint64_t count_ = 0;
    std::string text_;
    std::vector<Arg> args_;
};

// Turns a template into the words to show: the catalogue's side of Phrase. English gives the
// templates as they are.
class Translator {
public:
    virtual ~Translator() = default;
    virtual std::string_view Translate(std::string_view id) const { return id; }
    virtual std::string_view TranslatePlural(std::string_view singular, std::string_view plural,
                                             std::uint64_t n) const {
        return n == 1 ? singular : plural;
    }
};

// The phrase in words: its template translated, then its parameters filled in, nested phrases
// in the same words. A name in braces the phrase does not fill stays as it is.
std::string Render(const Phrase& phrase, const Translator& words);

// A template filled in by name from values, "{name}" for each; what Render does for one level.
struct Filled {
    std::string_view name;
    std::string_view value;
};
std::string Fill(std::string_view text, const std::vector<Filled>& values);

// The names a template fills, in order of first appearance ("copy failed: {reason}" gives
// "reason").
std::vector<std::string> PlaceholdersOf(std::string_view text);

// Compares the English words: how tests and logs read a phrase.
inline bool operator==(const Phrase& phrase, std::string_view english) {
    return phrase.English().compare(english) == 0;
}
std::ostream& operator<<(std::ostream& out, const Phrase& phrase);

} // namespace ostrapel
