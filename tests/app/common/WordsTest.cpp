#include "Words.h"

#include "Catalogue.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace ostrapel;
using namespace std::string_literals;

namespace {

// A .mo image of entries (original -> translation, "\0" between plural forms), header first;
// its numbers little-endian, or big-endian as a big-endian machine writes them.
std::string Mo(const std::string& header, std::vector<std::pair<std::string, std::string>> entries,
               bool bigEndian = false) {
    entries.insert(entries.begin(), {"", header});
    std::sort(entries.begin(), entries.end());
    const auto n = static_cast<std::uint32_t>(entries.size());
    std::string out;
    const auto put = [&out, bigEndian](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out += static_cast<char>((v >> (8 * (bigEndian ? 3 - i : i))) & 0xff);
        }
    };
    const std::uint32_t originals = 28;
    const std::uint32_t translations = originals + 8 * n;
    std::uint32_t offset = translations + 8 * n;
    for (std::uint32_t v : {0x950412deu, 0u, n, originals, translations, 0u, offset}) {
        put(v);
    }
    std::string strings;
    for (int table = 0; table < 2; ++table) {
        for (const auto& [original, translation] : entries) {
            const std::string& text = table == 0 ? original : translation;
            put(static_cast<std::uint32_t>(text.size()));
            put(offset + static_cast<std::uint32_t>(strings.size()));
            strings += text;
            strings += '\0';
        }
    }
    return out + strings;
}

const char* const kRussianRule =
    "nplurals=3; plural=(n%10==1 && n%100!=11 ? 0 : n%10>=2 && n%10<=4 && (n%100<10 || "
    "n%100>=20) ? 1 : 2);";

std::string Header(const std::string& pluralForms) {
    return "Content-Type: text/plain; charset=UTF-8\nPlural-Forms: " + pluralForms + "\n";
}

} // namespace

// Each language's forms as its grammar states them, not as its rule is written, for every number
// up to 200 and a few beyond.
TEST(PluralRules, EachShippedLanguageChoosesItsOwnForms) {
    using Grammar = std::size_t (*)(std::uint64_t);
    // German, Spanish: one, and every other number.
    const Grammar oneElse = [](std::uint64_t n) -> std::size_t { return n == 1 ? 0 : 1; };
    // French, Brazilian Portuguese: 0 and 1 take the singular.
    const Grammar upToOne = [](std::uint64_t n) -> std::size_t { return n < 2 ? 0 : 1; };
    const auto endsInTwoToFour = [](std::uint64_t n) {
        const std::uint64_t last = n % 10;
        const std::uint64_t tens = n / 10 % 10;
        return last >= 2 && last <= 4 && tens != 1; // not 12, 13, 14, 112...
    };
    // Russian: ending in 1 but not 11; ending in 2-4 but not 12-14; the rest.
    static const auto russian = [endsInTwoToFour](std::uint64_t n) -> std::size_t {
        if (n % 10 == 1 && n / 10 % 10 != 1) {
            return 0;
        }
        return endsInTwoToFour(n) ? 1 : 2;
    };
    // Polish: 1 alone; ending in 2-4 but not 12-14; the rest (21, 101 among them).
    static const auto polish = [endsInTwoToFour](std::uint64_t n) -> std::size_t {
        if (n == 1) {
            return 0;
        }
        return endsInTwoToFour(n) ? 1 : 2;
    };
    const Grammar one = [](std::uint64_t) -> std::size_t { return 0; };
    const std::map<std::string, Grammar> grammar = {
        {"de", oneElse},
        {"es", oneElse},
        {"fr", upToOne},
        {"pt_BR", upToOne},
        {"ru", [](std::uint64_t n) { return russian(n); }},
        {"pl", [](std::uint64_t n) { return polish(n); }},
        {"zh_CN", one},
        {"ja", one}};
    std::vector<std::uint64_t> numbers;
    for (std::uint64_t n = 0; n <= 200; ++n) {
        numbers.push_back(n);
    }
    for (std::uint64_t n :
         {1001ull, 1011ull, 1012ull, 1022ull, 1111ull, 1000000ull, 4294967296ull}) {
        numbers.push_back(n);
    }
    EXPECT_EQ(AvailableLanguages().size(), grammar.size());
    for (const auto& [language, forms] : grammar) {
        SCOPED_TRACE(language);
        const Catalogue catalogue = CatalogueOf(language);
        ASSERT_NE(catalogue.rule(), nullptr);
        for (std::uint64_t n : numbers) {
            EXPECT_EQ(catalogue.rule()->FormFor(n), forms(n)) << n;
        }
    }
}

// C's precedence and associativity, as gettext evaluates a rule; a form past nplurals is the
// first.
TEST(PluralRules, AreReadWithCsPrecedence) {
    const struct {
        const char* expression;
        std::uint64_t (*c)(std::uint64_t);
    } cases[] = {
        {"n+1*2", [](std::uint64_t n) { return n + 1 * 2; }},
        {"n-1-1", [](std::uint64_t n) { return n - 1 - 1; }},
        {"n/2/2", [](std::uint64_t n) { return n / 2 / 2; }},
        {"n%4*2", [](std::uint64_t n) { return n % 4 * 2; }},
        {"n<3==1", [](std::uint64_t n) -> std::uint64_t { return (n < 3) == 1; }},
        {"!n==0", [](std::uint64_t n) -> std::uint64_t { return (!n) == 0; }},
        {"n==1 || n==2 && n==3", [](std::uint64_t n) -> std::uint64_t { return n == 1; }},
        {"n%10==1 && n%100!=11",
         [](std::uint64_t n) -> std::uint64_t { return n % 10 == 1 && n % 100 != 11; }},
        {"n>1 ? n>4 ? 2 : 1 : 0",
         [](std::uint64_t n) -> std::uint64_t { return n > 1 ? (n > 4 ? 2 : 1) : 0; }},
        {"(n>=2) + (n>=4) * 2",
         [](std::uint64_t n) -> std::uint64_t {
             return std::uint64_t{n >= 2} + std::uint64_t{n >= 4} * 2;
         }},
        {"n<=1 ? 0 : n>=5 ? 4 : n",
         [](std::uint64_t n) -> std::uint64_t { return n <= 1 ? 0 : (n >= 5 ? 4 : n); }},
    };
    for (const auto& c : cases) {
        const auto rule =
            PluralRule::Parse("nplurals=6; plural=" + std::string(c.expression) + ";");
        ASSERT_NE(rule, nullptr) << c.expression;
        for (std::uint64_t n = 0; n <= 120; ++n) {
            const std::uint64_t form = c.c(n);
            EXPECT_EQ(rule->FormFor(n), form < 6 ? form : 0) << c.expression << " at " << n;
        }
    }
}

TEST(Catalogues, EveryMessageIsTranslatedInEveryShippedLanguage) {
    std::ifstream pot(OSTRAPEL_SOURCE_DIR "/po/ostrapel.pot");
    ASSERT_TRUE(pot) << "po/ostrapel.pot";
    // A quoted string's text, escapes as in C.
    const auto unquoted = [](const std::string& line, std::size_t from) {
        std::string text;
        for (std::size_t i = from; i + 1 < line.size(); ++i) {
            if (line[i] == '\\' && i + 2 < line.size()) {
                const char c = line[++i];
                text += c == 'n' ? '\n' : c == 't' ? '\t' : c;
            } else {
                text += line[i];
            }
        }
        return text;
    };
    std::vector<std::string> ids;
    std::string line;
    std::optional<std::string> reading; // the msgid read; one with a line break spans lines
    while (std::getline(pot, line)) {
        if (reading && line.starts_with('"')) {
            *reading += unquoted(line, 1);
            continue;
        }
        if (reading && !reading->empty()) {
            ids.push_back(*reading);
        }
        reading.reset();
        if (line.starts_with("msgid \"")) {
            reading = unquoted(line, 7);
        }
    }
    ASSERT_GT(ids.size(), 50u);
    for (const std::string& language : AvailableLanguages()) {
        const Catalogue catalogue = CatalogueOf(language);
        for (const std::string& id : ids) {
            EXPECT_TRUE(catalogue.Has(id)) << language << ": \"" << id << '"';
        }
    }
}

TEST(Catalogues, WhatCannotBeTrustedReadsInEnglish) {
    const std::string header = Header(kRussianRule);
    const std::string sound =
        Mo(header, {{"Apply", "Применить"},
                    {"copy failed: {reason}", "ошибка: {why}"},
                    {"{n} file\0{n} files"s, "{n} файл\0{n} файла\0{n} файлов"s}});
    const Catalogue catalogue = Catalogue::FromMo(sound);
    EXPECT_EQ(catalogue.Translate("Apply"), "Применить");
    // A parameter its English does not fill: that message alone in English.
    EXPECT_EQ(catalogue.Translate("copy failed: {reason}"), "copy failed: {reason}");
    EXPECT_EQ(catalogue.TranslatePlural("{n} file", "{n} files", 22), "{n} файла");

    // Cut anywhere, or with a bad magic number, a catalogue gives no message at all.
    for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{27}, sound.size() - 1}) {
        EXPECT_TRUE(Catalogue::FromMo(sound.substr(0, cut)).empty()) << cut;
    }
    std::string garbled = sound;
    garbled[0] = 'x';
    EXPECT_TRUE(Catalogue::FromMo(garbled).empty());
    garbled = sound;
    garbled[32] = '\x7f'; // the first original's offset, far past the end
    EXPECT_TRUE(Catalogue::FromMo(garbled).empty());

    // Read alike from a big-endian machine's catalogue.
    const Catalogue big = Catalogue::FromMo(
        Mo(header,
           {{"Apply", "Применить"}, {"{n} file\0{n} files"s, "{n} файл\0{n} файла\0{n} файлов"s}},
           true));
    EXPECT_EQ(big.Translate("Apply"), "Применить");
    EXPECT_EQ(big.TranslatePlural("{n} file", "{n} files", 22), "{n} файла");

    // A form the rule gives past nplurals is the first; a plural form filling a name neither
    // English form has leaves that message in English.
    const Catalogue past = Catalogue::FromMo(Mo(
        Header("nplurals=2; plural=n;"), {{"{n} file\0{n} files"s, "{n} plik\0{n} pliki"s},
                                          {"{n} save\0{n} saves"s, "{n} zapis\0{count} zapisy"s}}));
    EXPECT_EQ(past.TranslatePlural("{n} file", "{n} files", 1), "{n} pliki");
    EXPECT_EQ(past.TranslatePlural("{n} file", "{n} files", 2), "{n} plik");
    EXPECT_EQ(past.TranslatePlural("{n} file", "{n} files", 7), "{n} plik");
    EXPECT_EQ(past.TranslatePlural("{n} save", "{n} saves", 0), "{n} saves");
    EXPECT_EQ(past.TranslatePlural("{n} save", "{n} saves", 1), "{n} save");

    // A plural rule that cannot be read, or forms it does not give: plurals in English.
    for (const char* rule : {"nplurals=3; plural=(n%10==1 ? 0 :;", "nplurals=2; plural=n!=1;"}) {
        const Catalogue broken = Catalogue::FromMo(
            Mo(Header(rule), {{"Apply", "Применить"},
                              {"{n} file\0{n} files"s, "{n} файл\0{n} файла\0{n} файлов"s}}));
        EXPECT_EQ(broken.Translate("Apply"), "Применить") << rule;
        EXPECT_EQ(broken.TranslatePlural("{n} file", "{n} files", 5), "{n} files") << rule;
    }
}

TEST(Languages, ThePreferredOneFoundByItsRegionOrItsLanguage) {
    const std::vector<std::string> available = {"de", "fr", "es",    "pt_BR",
                                                "ru", "pl", "zh_CN", "ja"};
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"de_AT.UTF-8@euro"}, "de"},
        {{"pt_PT.UTF-8"}, "pt_BR"},
        {{"pt-BR"}, "pt_BR"},
        {{"zh-Hans-CN"}, "zh_CN"},
        {{"zh_TW"}, "zh_CN"},
        {{"ja-JP"}, "ja"},
        {{"sv_SE", "pl_PL"}, "pl"},
        {{"en_GB.UTF-8", "de_DE"}, ""},
        {{"C.UTF-8"}, ""},
        {{"sv_SE"}, ""},
        {{}, ""},
        {{"", "x-y", "fr_CA"}, "fr"},
    };
    for (const auto& [preferred, chosen] : cases) {
        EXPECT_EQ(ChooseLanguage(preferred, available), chosen)
            << (preferred.empty() ? "(none)" : preferred[0]);
    }
}

// The last one wins; a --language without its tag stays for the program to refuse.
TEST(Languages, TheOptionIsTakenOutOfTheArguments) {
    struct Case {
        std::vector<std::string> given;
        std::string language;
        std::vector<std::string> left;
    };
    for (const Case& c :
         {Case{{"out.png", "--loaded"}, "", {"out.png", "--loaded"}},
          Case{{"--language", "de", "out.png"}, "de", {"out.png"}},
          Case{{"out.png", "--language=pt_BR", "--loaded"}, "pt_BR", {"out.png", "--loaded"}},
          Case{{"--language", "de", "--language", "zh-CN"}, "zh-CN", {}},
          Case{{"out.png", "--language"}, "", {"out.png", "--language"}},
          Case{{"--languages", "de"}, "", {"--languages", "de"}}}) {
        std::vector<std::string> arguments = c.given;
        EXPECT_EQ(TakeLanguageOption(arguments), c.language);
        EXPECT_EQ(arguments, c.left);
    }
}

TEST(Words, PhrasesAreSaidInTheChosenLanguageWithVerbatimPartsKept) {
    const Catalogue russian = Catalogue::FromMo(
        Mo(Header(kRussianRule), {{"copy failed: {reason}", "не удалось скопировать: {reason}"},
                                  {"is read-only", "только для чтения"},
                                  {"{n} file\0{n} files"s, "{n} файл\0{n} файла\0{n} файлов"s}}));
    const Phrase why = Phrase("copy failed: {reason}").With("reason", Phrase("is read-only"));
    EXPECT_EQ(Render(why, russian), "не удалось скопировать: только для чтения");
    EXPECT_EQ(why.English(), "copy failed: is read-only");
    const Phrase tools = Phrase("copy failed: {reason}").With("reason", "is read-only");
    EXPECT_EQ(Render(tools, russian), "не удалось скопировать: is read-only");
    EXPECT_EQ(Render(Phrase::Plural("{n} file", "{n} files", 21), russian), "21 файл");

    const std::string pseudo = PseudoWords("&Open {path} && more");
    EXPECT_EQ(pseudo.rfind("[&Opéñ {path} && ", 0), 0u) << pseudo;
    EXPECT_GT(pseudo.size(), std::string("&Open {path} && more").size() * 14 / 10);
}
