#include "system/Text.h"

#include <gtest/gtest.h>

using namespace ostrapel;

TEST(Utf8, TellsWellFormedSequencesFromBrokenOnes) {
    EXPECT_EQ(Utf8SequenceLength("a", 0), 1u);
    EXPECT_EQ(Utf8SequenceLength("\xC3\xA9", 0), 2u);         // é
    EXPECT_EQ(Utf8SequenceLength("\xE2\x82\xAC", 0), 3u);     // €
    EXPECT_EQ(Utf8SequenceLength("\xF0\x9F\x98\x80", 0), 4u); // an emoji
    EXPECT_EQ(Utf8SequenceLength("\xB2", 0), 0u);             // stray continuation byte
    EXPECT_EQ(Utf8SequenceLength("\xC0\xAF", 0), 0u);         // overlong '/'
    EXPECT_EQ(Utf8SequenceLength("\xE0\x80\xAF", 0), 0u);     // overlong '/'
    EXPECT_EQ(Utf8SequenceLength("\xED\xA0\x80", 0), 0u);     // a surrogate
    EXPECT_EQ(Utf8SequenceLength("\xF4\x90\x80\x80", 0), 0u); // past U+10FFFF
    EXPECT_EQ(Utf8SequenceLength("\xE2\x82", 0), 0u);         // cut short
    EXPECT_EQ(Utf8SequenceLength("\xE2\x82x", 0), 0u);        // interrupted
}

TEST(Printable, KeepsOneEntryOnOneLineAndTheTerminalAsItIs) {
    EXPECT_EQ(Printable("slot1.sav"), "slot1.sav");
    EXPECT_EQ(Printable("caf\xC3\xA9 \xE2\x82\xAC.sav"), "caf\xC3\xA9 \xE2\x82\xAC.sav");
    EXPECT_EQ(Printable("evil\nslot9.sav: changed"), "evil\\nslot9.sav: changed");
    EXPECT_EQ(Printable("\x1b[2Jclear"), "\\x1b[2Jclear");
    EXPECT_EQ(Printable(std::string("nul\0byte", 8)), "nul\\x00byte");
    EXPECT_EQ(Printable("tab\there\rdel\x7f"), "tab\\there\\rdel\\x7f");
    EXPECT_EQ(Printable("c1\xC2\x85next\xC2\x9B"), "c1\\u0085next\\u009b");
    EXPECT_EQ(Printable("ab\xB2"), "ab\\xb2");
    EXPECT_EQ(Printable("\xE9\xE9\xE9"), "\\xe9\\xe9\\xe9");
    EXPECT_EQ(Printable("C:\\Saves\\slot1.sav"), "C:\\Saves\\slot1.sav");
    EXPECT_EQ(Printable("\xC2\xA0nbsp"), "\xC2\xA0nbsp"); // printable, past the C1 range
}
