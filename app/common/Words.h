#pragma once

#include "Catalogue.h"
#include "system/Phrase.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// The words every front end shows, in one language for the whole program: chosen once at start
// (UseLanguage), before any thread reads them. English until then.

// The template's words in the program's language, parameters filled by name: Tr("copy failed:
// {reason}", {{"reason", why}}).
std::string Tr(const char* id, std::initializer_list<Filled> values = {});
// One of two templates by the count, {n} filled with it: TrN("{n} file", "{n} files", 3).
std::string TrN(const char* singular, const char* plural, std::uint64_t n,
                std::initializer_list<Filled> values = {});
// What the core says, in the program's language.
std::string Say(const Phrase& phrase);

// The translator behind Tr and Say.
const Translator& CurrentWords();

// The languages the program carries besides English, by their catalogues' names: "de", "fr",
// ..., "pt_BR", "zh_CN".
std::vector<std::string> AvailableLanguages();

// The tag of the pseudo-language that shows every text lengthened by about 40% and marked with
// accents, so texts not in the catalogue, or cut off, stand out.
inline constexpr const char* kPseudoLanguage = "pseudo";

// Chooses the program's language: chosen ("de", "pt_BR", "en", kPseudoLanguage; a platform tag
// such as "de_AT" or "de-AT" is taken as ChooseLanguage takes it) when not empty, else the
// language the user prefers (PreferredLanguages). English where none matches. Gives the
// catalogue's name, "" for English.
std::string UseLanguage(std::string_view chosen = {});

// Takes "--language TAG" or "--language=TAG" out of a program's arguments (those after its name)
// and gives TAG, the last one when given twice; "" when none is. A "--language" without its tag
// stays, for the program to refuse.
std::string TakeLanguageOption(std::vector<std::string>& arguments);

// The program's language as UseLanguage gave it: "" for English.
std::string CurrentLanguage();

// The catalogue a language carries inside the program: English (empty) for an unknown one.
Catalogue CatalogueOf(std::string_view language);

// Words lengthened and marked as the pseudo-language shows them; "{name}" and access key marks
// ("&x", "&&") are kept as they are.
std::string PseudoWords(std::string_view english);

} // namespace ostrapel
