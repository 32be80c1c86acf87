#include "conversion/SaveFolder.h"

#include "TestSupport.h"
#include "system/FileSystem.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace ostrapel;
using testsupport::MakeDir;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(SaveFolder, ListsLongNamesOfFilesAndFoldersInEnumerationOrder) {
    TempDir dir;
    for (const char* name : {"x", "ab", "abc", "éé", "ééé", ".hidden-save", "slot 1.sav"}) {
        WriteFile(dir / name, "");
    }
    MakeDir(dir / "slots");
    MakeDir(dir / "zz");
    MakeDir(dir / ".hidden-folder");

    std::vector<std::string> expected;
    for (const DirectoryEntry& entry : ListDirectory(dir.path()).entries) {
        if (entry.name == "abc" || entry.name == "ééé" || entry.name == "slots" ||
            entry.name == "slot 1.sav") {
            expected.push_back(entry.name);
        }
    }
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(ListSaveFolder(dir.path()), expected);
    EXPECT_EQ(ListSaveFolder(dir.path()), ListSaveFolder(dir.path()));
}

TEST(SaveFolder, GivesAnEmptyListForNothingToList) {
    TempDir dir;
    EXPECT_TRUE(ListSaveFolder(dir.path()).empty());
    WriteFile(dir / "a", "");
    WriteFile(dir / "bc", "");
    EXPECT_TRUE(ListSaveFolder(dir.path()).empty());
    EXPECT_TRUE(ListSaveFolder(dir / "missing").empty());
    EXPECT_TRUE(ListSaveFolder(dir / "a").empty());
    EXPECT_TRUE(ListSaveFolder("").empty());
}

TEST(SaveFolder, KeepsOddNamesExactly) {
    TempDir dir;
    const std::vector<std::string> names = {"new\nline.sav", "quote\".sav",  "back\\slash",
                                            "-dash.sav",     "\xff\xfe.sav", std::string(255, 'n')};
    for (const std::string& name : names) {
        WriteFile(dir / name, "");
    }
    std::vector<std::string> listed = ListSaveFolder(dir.path());
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
}

TEST(SaveFolder, TellsWhichNamesAreListed) {
    EXPECT_TRUE(IsListedName("abc"));
    EXPECT_FALSE(IsListedName("ab"));
    EXPECT_FALSE(IsListedName("éé"));
    EXPECT_FALSE(IsListedName("..."));
    EXPECT_FALSE(IsListedName(".ostrapel-x.tmp"));
    // Names that are not valid UTF-8 count their characters as they are shown.
    EXPECT_TRUE(IsListedName("ab\xB2"));         // a stray byte: "ab\uFFFD"
    EXPECT_TRUE(IsListedName("a\xC0\xAF"));      // an overlong sequence: two characters
    EXPECT_TRUE(IsListedName("a\xE2\x82"));      // a truncated sequence: two characters
    EXPECT_FALSE(IsListedName("\xE2\x82\xAC"));  // one valid character, the euro sign
    EXPECT_FALSE(IsListedName("a\xB2"));
}
