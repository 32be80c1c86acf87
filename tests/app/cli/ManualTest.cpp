// The help text and the manual pages made from one source.

#include "app/cli/Manual.h"

#include <gtest/gtest.h>
#include <sstream>

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
