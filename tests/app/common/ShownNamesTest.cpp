#include "ShownNames.h"

#include "system/Paths.h"

#include <gtest/gtest.h>
#include <set>

using namespace ostrapel;

namespace {

// One unit a character; as a skin's font measures CJK, two for a character past U+2E80.
int Width(std::string_view text) {
    int width = 0;
    while (!text.empty()) {
        const Utf8Character c = FirstCharacter(text);
        width += c.valid && c.codePoint >= 0x2E80 ? 2 : 1;
        text.remove_prefix(c.length);
    }
    return width;
}

std::string Numbered(const char* prefix, int n, const char* suffix) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", n);
    return prefix + std::string(digits) + suffix;
}

struct FitCase {
    const char* what;
    std::vector<std::string> names;
    int room;
    std::vector<std::string> shown; // empty: only that all differ and fit
};

} // namespace

TEST(ShownNames, KeepWhatTellsNeighboursApartInTheRoomThereIs) {
    std::vector<std::string> autosaves;
    for (int n = 1; n <= 300; ++n) {
        autosaves.push_back(Numbered("Autosave_Chapter03_Checkpoint_", n, ".sav"));
    }
    const std::vector<FitCase> cases = {
        {"names that fit are whole",
         {"slot1.sav", "slot2.sav", "slot3.sav"},
         9,
         {"slot1.sav", "slot2.sav", "slot3.sav"}},
        {"then the end they share",
         {"Autosave_001.sav", "Autosave_002.sav"},
         5,
         {"\xE2\x80\xA6"
          "001\xE2\x80\xA6",
          "\xE2\x80\xA6"
          "002\xE2\x80\xA6"}},
        {"a shared beginning goes first",
         {"Autosave_Chapter03_Checkpoint_001.sav", "Autosave_Chapter03_Checkpoint_002.sav"},
         19,
         {"\xE2\x80\xA6"
          "Checkpoint_001.sav",
          "\xE2\x80\xA6"
          "Checkpoint_002.sav"}},
        {"300 numbered saves", autosaves, 16, {}},
        {"a shared end goes, beginnings that differ stay",
         {"a_first_very_long_shared_tail.sav", "b_second_very_long_shared_tail.sav"},
         12,
         {"a_first_ver\xE2\x80\xA6", "b_second_ve\xE2\x80\xA6"}},
        {"all digits", {"1000000001", "1000000002", "1000000010"}, 5, {}},
        {"one name, cut in the middle",
         {"Autosave_Chapter03_Checkpoint_123.sav"},
         12,
         {"Autosa\xE2\x80\xA6"
          "3.sav"}},
        {"a very long tail after the differing number",
         {"Save_001_" + std::string(200, 'x') + ".sav",
          "Save_002_" + std::string(200, 'x') + ".sav"},
         14,
         {}},
        {"names alike only far apart, in a narrow room",
         {"profile.sav", "screenshot_1.png", "screenshot_2.png", "screenshot_3.png", "slot1.sav",
          "slot2.sav", "slot3.sav"},
         4,
         {}},
        {"CJK names by their width",
         {"\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0_01.sav",
          "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0_02.sav"},
         10,
         {"\xE2\x80\xA6\xE7\xAB\xA0_01.sav", "\xE2\x80\xA6\xE7\xAB\xA0_02.sav"}},
        {"CJK names that differ in a character: each character is a word",
         {"\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0_save_slot.sav",
          "\xE7\xAC\xAC\xE4\xBA\x8C\xE7\xAB\xA0_save_slot.sav"},
         5,
         {"\xE2\x80\xA6\xE4\xB8\x80\xE2\x80\xA6", "\xE2\x80\xA6\xE4\xBA\x8C\xE2\x80\xA6"}},
        {"a CJK name loses its beginning up to the character that differs",
         {"\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\xE7\xAC\xAC\xE4"
          "\xB8\x80\xE7\xAB\xA0\xE3\x81\xAE\xE8\xA8\x98\xE9\x8C\xB2.sav",
          "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF\xE7\xAC\xAC\xE4"
          "\xBA\x8C\xE7\xAB\xA0\xE3\x81\xAE\xE8\xA8\x98\xE9\x8C\xB2.sav"},
         15,
         {"\xE2\x80\xA6\xE4\xB8\x80\xE7\xAB\xA0\xE3\x81\xAE\xE8\xA8\x98\xE9\x8C\xB2.sav",
          "\xE2\x80\xA6\xE4\xBA\x8C\xE7\xAB\xA0\xE3\x81\xAE\xE8\xA8\x98\xE9\x8C\xB2.sav"}},
        {"a word too wide keeps where it differs",
         {"Checkpoint_Alpha.sav", "Checkpoint_Alpine.sav"},
         5,
         {"Alpha", "\xE2\x80\xA6pin\xE2\x80\xA6"}},
    };
    for (const FitCase& c : cases) {
        const std::vector<std::string> shown = FittedNames(
            c.names, [&](std::size_t) { return c.room; }, Width);
        if (!c.shown.empty()) {
            EXPECT_EQ(shown, c.shown) << c.what;
        }
        EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()).size(), c.names.size())
            << c.what;
        for (const std::string& text : shown) {
            EXPECT_LE(Width(text), c.room) << c.what << ": " << text;
        }
    }
}

// Every room from one unit to the whole width: never wider than the room, and the character
// where a name first differs from its neighbours shown whenever the room holds it.
TEST(ShownNames, EveryRoomFromOneToTheWholeWidth) {
    const std::vector<std::vector<std::string>> lists = {
        {"profile.sav", "screenshot_1.png", "screenshot_2.png", "slot1.sav", "slot2.sav",
         "locked.sav"},
        {"\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0_save_slot.sav",
         "\xE7\xAC\xAC\xE4\xBA\x8C\xE7\xAB\xA0_save_slot.sav",
         "\xE7\xAC\xAC\xE4\xB8\x89\xE7\xAB\xA0_save_slot.sav"},
        {"1000000001", "1000000002", "1000000010"},
        {"Autosave_Chapter03_Checkpoint_001.sav", "Autosave_Chapter03_Checkpoint_002.sav"},
        {"Checkpoint_Alpha.sav", "Checkpoint_Alpine.sav", "Checkpoint_Beta.sav"},
        {"\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96_one_long_name_alone.sav"},
    };
    for (const std::vector<std::string>& names : lists) {
        int whole = 0;
        for (const std::string& name : names) {
            whole = std::max(whole, Width(name));
        }
        for (int room = 1; room <= whole; ++room) {
            const std::vector<std::string> shown = FittedNames(
                names, [room](std::size_t) { return room; }, Width);
            for (std::size_t i = 0; i < names.size(); ++i) {
                SCOPED_TRACE(names[i] + " in " + std::to_string(room) + ": " + shown[i]);
                EXPECT_LE(Width(shown[i]), room);
                const std::size_t differs = TellingPart(names, i).differs;
                if (names.size() > 1 && differs < names[i].size()) {
                    const std::string character(names[i].substr(
                        differs,
                        FirstCharacter(std::string_view(names[i]).substr(differs)).length));
                    if (Width(character) <= room) {
                        EXPECT_NE(shown[i].find(character), std::string::npos) << character;
                    }
                }
            }
            if (room >= 8) { // room for a mark, a differing character and a mark, twice over
                EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()).size(), names.size())
                    << room;
            }
        }
    }
}

TEST(ShownNames, TheTellingPartIsTheWordOrNumberThatDiffers) {
    const std::vector<std::string> names = {"Slot_Profile_100.sav", "Slot_Profile_199.sav",
                                            "Slot_Profile_199b.sav", "notes.txt"};
    const auto part = [&](std::size_t i) {
        const Telling telling = TellingPart(names, i);
        return std::pair{telling.start, telling.end};
    };
    EXPECT_EQ(part(0), std::pair(std::size_t{13}, std::size_t{16})); // "100"
    EXPECT_EQ(part(1), std::pair(std::size_t{16}, std::size_t{20})); // after "199", to the end
    EXPECT_EQ(part(3), std::pair(std::size_t{0}, std::size_t{9}));   // unlike both: whole
}
