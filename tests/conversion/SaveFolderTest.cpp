#include "conversion/SaveFolder.h"

#include "TestSupport.h"
#include "system/FileSystem.h"

#include <algorithm>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

using namespace ostrapel;
using testsupport::MakeDir;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Names starting ".hidden" are hidden: by the name itself on POSIX, by the attribute on
// Windows, where a leading dot hides nothing.
void Hide(const std::string& path) {
#ifdef _WIN32
    ASSERT_TRUE(::SetFileAttributesW(testsupport::Native(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
#else
    (void)path;
#endif
}

} // namespace

TEST(SaveFolder, ListsLongNamesOfFilesAndFoldersInNameOrder) {
    TempDir dir;
    for (const char* name : {"x", "ab", "abc", "éé", "ééé", ".hidden-save", "slot 1.sav"}) {
        WriteFile(dir / name, "");
    }
    MakeDir(dir / "slots");
    MakeDir(dir / "zz");
    MakeDir(dir / ".hidden-folder");
    Hide(dir / ".hidden-save");
    Hide(dir / ".hidden-folder");

    const std::vector<std::string> expected = {"abc", "slot 1.sav", "slots", "ééé"};
    EXPECT_EQ(ListSaveFolder(dir.path()), expected);
    EXPECT_EQ(ListSaveFolder(dir.path()), ListSaveFolder(dir.path()));
}

// Natural, case-insensitive order, as file managers show it, whatever order the file system
// enumerates the entries in.
TEST(SaveFolder, ListsInNaturalCaseInsensitiveOrder) {
    TempDir dir;
    std::vector<std::string> expected;
    for (int i = 1; i <= 60; ++i) {
        expected.push_back("screenshot_" + std::to_string(i) + ".png");
    }
#ifdef _WIN32 // names differing only in case are one name there, and names are UTF-16
    expected.insert(expected.end(), {"Slot1.sav", "slot2.sav", "SLOT10.sav", "slot10.sav.old",
                                     "slots", "slotsé.sav"});
#else
    expected.insert(expected.end(), {"Slot1.sav", "slot1.sav", "slot2.sav", "SLOT10.sav",
                                     "slot10.sav.old", "slots", "slot\xE9.sav"});
#endif
    // Created in an order that is neither the name order nor its reverse.
    std::vector<std::string> created = expected;
    std::rotate(created.begin(), created.begin() + 37, created.end());
    for (const std::string& name : created) {
        if (name == "slots") {
            MakeDir(dir / name);
        } else {
            WriteFile(dir / name, "");
        }
    }
    EXPECT_EQ(ListSaveFolder(dir.path()), expected);
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
#ifdef _WIN32
    const std::vector<std::string> names = {"Ünïcödé セーブ.sav", "%PATH% & ;", "-dash.sav",
                                            ".dotted", std::string(255, 'n')};
#else
    const std::vector<std::string> names = {"new\nline.sav", "quote\".sav",  "back\\slash",
                                            "-dash.sav",     "\xff\xfe.sav", std::string(255, 'n')};
#endif
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
    EXPECT_FALSE(IsListedName(NewTemporaryName()));
    // Names that are not valid UTF-8 count their characters as they are shown.
    EXPECT_TRUE(IsListedName("ab\xB2"));        // a stray byte: "ab\uFFFD"
    EXPECT_TRUE(IsListedName("a\xC0\xAF"));     // an overlong sequence: two characters
    EXPECT_TRUE(IsListedName("a\xE2\x82"));     // a truncated sequence: two characters
    EXPECT_FALSE(IsListedName("\xE2\x82\xAC")); // one valid character, the euro sign
    EXPECT_FALSE(IsListedName("a\xB2"));
#ifdef _WIN32
    EXPECT_TRUE(IsListedName(".dotted")); // hidden is an attribute there
    EXPECT_TRUE(IsListedName(".ostrapel-notes"));
#else
    EXPECT_FALSE(IsListedName("..."));
#endif
}
