#include "WindowTexts.h"

#include "Catalogue.h"
#include "Words.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

using namespace ostrapel;

TEST(WindowTexts, AccessKeyMarksAreLeftOutOrEscaped) {
    EXPECT_EQ(WithoutAccessKey(kApplyText), "Apply and Save");
    EXPECT_EQ(WithoutAccessKey(kVersionLabel), "Select DLC Version :");
    EXPECT_EQ(WithoutAccessKey("Saves && more&"), "Saves & more&");
    EXPECT_EQ(WithoutAccessKey(EscapeAccessKeys("R&D && more")), "R&D && more");
}

namespace {

// The letter after text's single '&', folded to lower case where the letter has a case in the
// shipped languages' scripts (Latin, Latin-1, Cyrillic); 0 when there is none.
char32_t AccessKeyOf(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') {
            continue;
        }
        if (text[i + 1] == '&') {
            ++i;
            continue;
        }
        const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
        char32_t c = byte(i + 1);
        if (c >= 0xC0 && c < 0xE0 && i + 2 < text.size()) {
            c = ((c & 0x1F) << 6) | (byte(i + 2) & 0x3F);
        }
        if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
            (c >= 0x410 && c <= 0x42F)) {
            c += 0x20;
        } else if (c >= 0x400 && c <= 0x40F) {
            c += 0x50;
        }
        return c;
    }
    return 0;
}

} // namespace

// Alt with a letter reaches one control: in every language the window's texts mark one letter
// each, and no two the same (the save button's two texts included, so that a key pressed as a
// batch ends does not reach another control).
TEST(WindowTexts, EachLanguagesAccessKeysAreDistinct) {
    std::vector<std::string> languages = AvailableLanguages();
    languages.push_back("en");
    for (const std::string& language : languages) {
        SCOPED_TRACE(language);
        const Catalogue catalogue = CatalogueOf(language);
        std::map<char32_t, std::string> taken;
        for (const FittedText& fitted : FittedTexts()) {
            if (fitted.control == FittedControl::FrameTitle) {
                continue; // the frame around the controls takes no key of its own
            }
            const std::string text(catalogue.Translate(fitted.id));
            const char32_t key = AccessKeyOf(text);
            EXPECT_NE(key, 0u) << text;
            const auto [at, added] = taken.emplace(key, text);
            EXPECT_TRUE(added) << '"' << text << "\" and \"" << at->second << "\" share a key";
        }
    }
}
