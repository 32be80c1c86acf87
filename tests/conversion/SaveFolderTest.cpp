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

TEST(SaveFolder, ListsLongNamesOfFilesAndFoldersInEnumerationOrder) {
    TempDir dir;
    for (const char* name : {"x", "ab", "abc", "éé", "ééé", ".hidden-save", "slot 1.sav"}) {
        WriteFile(dir / name, "");
    }
    MakeDir(dir / "slots");
    MakeDir(dir / "zz");
    MakeDir(dir / ".hidden-folder");
    Hide(dir / ".hidden-save");
    Hide(dir / ".hidden-folder");

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
    EXPECT_FALSE(IsListedName(".ostrapel-x.tmp"));
#ifdef _WIN32
    EXPECT_TRUE(IsListedName(".dotted")); // hidden is an attribute there
#else
    EXPECT_FALSE(IsListedName("..."));
#endif
}
