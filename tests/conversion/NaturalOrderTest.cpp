#include "conversion/NaturalOrder.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

using namespace ostrapel;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> names) {
    SortNaturally(names);
    return names;
}

// Every order of names sorts to expected.
void ExpectSortsTo(const std::vector<std::string>& expected) {
    std::vector<std::string> names = expected;
    std::reverse(names.begin(), names.end());
    EXPECT_EQ(Sorted(names), expected);
    std::mt19937 random(12);
    for (int round = 0; round < 50; ++round) {
        std::shuffle(names.begin(), names.end(), random);
        ASSERT_EQ(Sorted(names), expected) << "round " << round;
    }
}

} // namespace

TEST(NaturalOrder, NumbersCompareByValue) {
    ExpectSortsTo({"slot2.sav", "slot10.sav"});
    ExpectSortsTo({"screenshot_1.png", "screenshot_2.png", "screenshot_9.png", "screenshot_10.png",
                   "screenshot_16.png", "screenshot_52.png", "screenshot_100.png"});
    ExpectSortsTo({"a1b2", "a1b10", "a2b1", "a10b1"});
    // More digits than any integer holds.
    ExpectSortsTo({"save99999999999999999999999", "save100000000000000000000000"});
}

TEST(NaturalOrder, IgnoresCase) {
    ExpectSortsTo({"alpha.sav", "Beta.sav", "gamma.sav", "ZULU.sav"});
    ExpectSortsTo({"\xC3\xA9t\xC3\xA9-a", "\xC3\x89T\xC3\x89-b"}); // été, ÉTÉ
    ExpectSortsTo({"\xD0\xB0-1", "\xD0\x91-2", "\xD0\xB2-3"});     // а, Б, в
    ExpectSortsTo({"\xCE\xB1-1", "\xCE\x92-2", "\xCE\xB3-3"});     // α, Β, γ
    ExpectSortsTo({"\xC5\x81"
                   "a",
                   "\xC5\x82"
                   "b"}); // Ł, ł
    EXPECT_EQ(NaturalCompare("SLOT1.SAV", "slot1.sav"), 0);
    EXPECT_EQ(NaturalCompare("\xC5\xB8xx", "\xC3\xBFxx"), 0); // Ÿ and ÿ
}

TEST(NaturalOrder, RunsOfDigitsSortWhereZeroWould) {
    // '-' and '.' come before the digits, letters and '_' after them.
    ExpectSortsTo({"save-a", "save.1", "save1", "save9", "save10", "save_a", "savea"});
    ExpectSortsTo({"a", "a1", "ab"});
}

TEST(NaturalOrder, ShorterPrefixFirst) {
    ExpectSortsTo({"slot", "slot.sav", "slot1", "slot1.sav"});
}

TEST(NaturalOrder, EqualNamesByThatMeasureKeepAStableOrderByTheirBytes) {
    // Differing only in case, or in leading zeros: ordered by bytes, whatever came first.
    ExpectSortsTo({"SLOT1.sav", "Slot1.sav", "slot1.SAV", "slot1.sav"});
    ExpectSortsTo({"a001", "a01", "a1", "a2"});
    EXPECT_TRUE(NaturalLess("Slot1", "slot1"));
    EXPECT_FALSE(NaturalLess("slot1", "Slot1"));
    EXPECT_FALSE(NaturalLess("slot1", "slot1"));
}

TEST(NaturalOrder, BytesThatAreNotUtf8SortAfterEveryCharacterInAStableOrder) {
    ExpectSortsTo({"caf\xC3\xA9.sav", "caf\xE9.sav", "caf\xFE.sav", "caf\xFF.sav"});
    ExpectSortsTo({"ab\xB2", "ab\xB3", "Ab\xB3x", "ab\xB3x", "ab\xC0\xAF"});
    ExpectSortsTo({"\xF4\x8F\xBF\xBF", "\x80", "\xFF"}); // U+10FFFF, then the stray bytes
    // A truncated sequence followed by a digit: the stray bytes and the number stay apart.
    ExpectSortsTo({"x\xE2\x82"
                   "2",
                   "x\xE2\x82"
                   "10"});
}

TEST(NaturalOrder, IsAStrictTotalOrder) {
    const std::vector<std::string> names = {
        "a",    "A",          "a1",        "a01",       "a001", "A1",  "a10", "a2",
        "b",    "B",          "-",         ".",         "_",    "0",   "00",  "1",
        "01",   "é",          "\xC3\x89",  "\xE9",      "\xB2", "ab2", "aB2", "ab02",
        "ab2x", "slot10.sav", "Slot2.sav", "slot2.sav", ""};
    for (const std::string& a : names) {
        EXPECT_FALSE(NaturalLess(a, a)) << a;
        for (const std::string& b : names) {
            if (a != b) {
                EXPECT_NE(NaturalLess(a, b), NaturalLess(b, a)) << a << " / " << b;
            }
            for (const std::string& c : names) {
                if (NaturalLess(a, b) && NaturalLess(b, c)) {
                    EXPECT_TRUE(NaturalLess(a, c)) << a << " < " << b << " < " << c;
                }
            }
        }
    }
}
