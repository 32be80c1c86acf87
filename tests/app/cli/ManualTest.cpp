// The help text and the manual pages made from one source.

#include "app/cli/Manual.h"

#include <gtest/gtest.h>
#include <sstream>
#include <vector>

using namespace ostrapel;

namespace {

// The line of the page after the given request line.
std::string LineAfter(const std::string& page, const std::string& request) {
    const std::size_t at = page.find(request + '\n');
    if (at == std::string::npos) {
        return "(no " + request + ")";
    }
    const std::size_t start = at + request.size() + 1;
    return page.substr(start, page.find('\n', start) - start);
}

} // namespace

TEST(ManualPageTest, TextIsEscapedAndOptionsAndPlaceholdersMarked) {
    const struct {
        const char* text;
        const char* roff;
    } paragraphs[] = {
        {".cipher is not a request", "\\&.cipher is not a request"},
        {"'neither is this", "\\&'neither is this"},
        {"Z:\\home\\me", "Z:\\ehome\\eme"},
        {"run ostrapel-cli --restore FOLDER, then",
         "run ostrapel-cli \\fB\\-\\-restore\\fR FOLDER, then"},
        {"per-user folder", "per-user folder"},
    };
    for (const auto& p : paragraphs) {
        Manual manual{"tool", "does it", {{"tool", ""}}, {{"Words", {p.text}, {}, false}}};
        EXPECT_EQ(LineAfter(ManualPage(manual, "1.0", "2026-01-01"), ".SH WORDS"), p.roff);
    }
    const struct {
        const char* term;
        const char* roff;
    } terms[] = {
        {"--jobs N", "\\fB\\-\\-jobs\\fR \\fIN\\fR"},
        {"[--null] FOLDER", "[\\fB\\-\\-null\\fR] \\fIFOLDER\\fR"},
        {"--help | --version", "\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR"},
        {"WINEPREFIX", "\\fIWINEPREFIX\\fR"},
        {"130", "130"},
    };
    for (const auto& t : terms) {
        Manual manual{
            "tool", "does it", {{"tool", ""}}, {{"Words", {}, {{t.term, "text"}}, false}}};
        EXPECT_EQ(LineAfter(ManualPage(manual, "1.0", "2026-01-01"), ".TP"), t.roff);
    }
}

TEST(HelpTextTest, FitsEightyColumnsAndKeepsEveryWord) {
    const std::string long_text(30, 'x');
    Manual manual{"tool",
                  "does it",
                  {{"tool --a", long_text + ' ' + long_text + ' ' + long_text}},
                  {{"Words", {}, {{"1", long_text + ' ' + long_text + ' ' + long_text}}, true},
                   {"Not in help", {"hidden"}, {}, false}}};
    for (const Manual& m : {manual, CliManual()}) {
        std::istringstream lines(HelpText(m));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(line.size(), 79u) << line;
        }
    }
    EXPECT_EQ(HelpText(manual), "Usage:\n"
                                "  tool --a\n"
                                "      " +
                                    long_text + ' ' + long_text +
                                    "\n"
                                    "      " +
                                    long_text +
                                    "\n"
                                    "\n"
                                    "Words:\n"
                                    "  1   " +
                                    long_text + ' ' + long_text +
                                    "\n"
                                    "      " +
                                    long_text + "\n");
}

namespace {

// Columns as a terminal shows them: a Chinese or Japanese character takes two.
std::size_t Columns(const std::string& line) {
    std::size_t columns = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if ((byte & 0xC0) != 0x80) {
            columns += byte >= 0xE3 && byte <= 0xEF ? 2 : 1; // U+3000 to U+FFFF: wide here
        }
    }
    return columns;
}

} // namespace

TEST(HelpTextTest, WrapsOtherScriptsByColumnsBreakingChineseBetweenCharacters) {
    std::string japanese;
    for (int i = 0; i < 20; ++i) {
        japanese += "セーブデー";
    }
    const struct {
        std::string text;
        std::size_t shortestLine; // in columns, but for the last line
    } cases[] = {
        {"", 0},
        // Cyrillic: two bytes a letter, one column.
        {"Показывать сообщения на языке TAG вместо языка системы; то, что читают скрипты, "
         "одинаково на всех языках, а имена файлов остаются как есть.",
         60},
        // No blanks: lines break between characters, never before 。 or ，.
        {"以标签指定的语言显示消息，而不是系统的语言。脚本读取的内容在所有语言中都相同，文件名保持"
         "原样。以标签指定的语言显示消息，而不是系统的语言。",
         70},
        // Japanese: never before the long vowel mark, which every fifth character here is.
        {japanese, 60},
    };
    for (const auto& c : cases) {
        Manual manual{"tool", "does it", {{"tool", c.text}}, {}};
        std::istringstream lines(HelpText(manual));
        std::string line;
        std::getline(lines, line); // "Usage:"
        std::getline(lines, line); // the synopsis' term
        std::string joined;
        std::vector<std::string> shown;
        while (std::getline(lines, line)) {
            shown.push_back(line);
        }
        for (std::size_t i = 0; i < shown.size(); ++i) {
            SCOPED_TRACE(shown[i]);
            EXPECT_LE(Columns(shown[i]), 79u);
            EXPECT_EQ(shown[i].rfind("      ", 0), 0u);
            const std::string words = shown[i].substr(6);
            EXPECT_NE(words.rfind("。", 0), 0u);
            EXPECT_NE(words.rfind("，", 0), 0u);
            EXPECT_NE(words.rfind("ー", 0), 0u);
            if (i + 1 < shown.size()) {
                EXPECT_GE(Columns(shown[i]), c.shortestLine);
            }
            joined +=
                (joined.empty() || static_cast<unsigned char>(words[0]) >= 0xE3 ? "" : " ") + words;
        }
        EXPECT_EQ(joined, c.text);
    }
}
