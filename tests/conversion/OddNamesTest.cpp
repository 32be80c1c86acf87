// Save names at the edges of what a file system allows, through a whole batch.

#include "Report.h"
#include "TestSupport.h"
#include "conversion/ConvertSaves.h"
#include "conversion/SaveFolder.h"
#include "system/FileSystem.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr std::size_t kSaveSize = 1200;

class OddNamesTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    void AddSaves(const std::vector<std::string>& added) {
        for (const std::string& name : added) {
            WriteFile(saves + "/" + name, Original(name));
        }
        names = ListSaveFolder(saves);
        ASSERT_EQ(names.size(), added.size()) << "the listing lost a name";
    }
    unsigned Seed(const std::string& name) const {
        return static_cast<unsigned>(std::hash<std::string>{}(name)&0xFFFF);
    }
    std::string Original(const std::string& name) const {
        return EncipheredSave(kSaveSize, Seed(name));
    }
    std::string Converted(const std::string& name) const {
        return ConvertedSave(kSaveSize, Seed(name), 300);
    }
    bool Holds(const std::string& name, const std::string& content) const {
        return ReadFile(saves + "/" + name) == content;
    }

    BatchResult Run() {
        Scn_Process runner;
        return ConvertSaves({saves, names, appDir, "300"}, runner);
    }

    std::vector<std::string> names;
};

// 251 + ".sav": the longest name a folder here takes; in UTF-8, 85 three-byte characters.
const std::string kLongAscii = std::string(251, 'L') + ".sav";
std::string LongUtf8() {
    std::string name;
    for (int i = 0; i < 85; ++i) {
        name += "\xe3\x82\xbb"; // U+30BB
    }
    return name;
}

} // namespace

TEST_F(OddNamesTest, ConvertsNamesThatAreHardToPassAround) {
    ASSERT_NO_FATAL_FAILURE(AddSaves({" leading blank.sav", "trailing blank.sav ", "tab\there.sav",
                                      "star*.sav", "what?.sav", "$(echo x).sav", "`id`.sav",
                                      "--help", "\xff\xfe not UTF-8.sav", "x.sav.backup.sav"}));
    BatchResult result = Run();
    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    for (const std::string& name : names) {
        EXPECT_TRUE(Holds(name, Converted(name))) << name;
    }
}

// Wine strips a trailing dot or space from the work copy's name as Windows does, so a Windows
// tool would open another file. The batch runs no tool for them (here Wine would fail anyway).
TEST_F(OddNamesTest, AWindowsToolIsGivenNoNameEndingInADotOrASpace) {
    ASSERT_NO_FATAL_FAILURE(AddSaves({"dot.", "blank ", "plain.sav"}));
    std::string windowsProgram(0x80, '\0');
    windowsProgram.replace(0, 2, "MZ");
    windowsProgram[0x3C] = 0x40;
    windowsProgram.replace(0x40, 4, std::string_view("PE\0\0", 4));
    WriteFile(appDir + "Decrypt/decrypt.exe", windowsProgram);
    ScopedEnv wine("WINE", "/bin/false");
    BatchResult result = Run();
    ASSERT_EQ(result.files.size(), 3u) << FullReport(result);
    for (const FileOutcome& file : result.files) {
        EXPECT_EQ(file.reason == kTrailingDotOrSpace, file.name != "plain.sav") << file.name;
        EXPECT_TRUE(Holds(file.name, Original(file.name))) << file.name;
    }
}

TEST_F(OddNamesTest, NamesDifferingOnlyInCaseAreSeparateSaves) {
    ASSERT_NO_FATAL_FAILURE(AddSaves({"Slot.sav", "slot.sav", "SLOT.SAV", "sLoT.sav"}));
    BatchResult result = Run();
    EXPECT_EQ(result.changedCount, 4u) << FullReport(result);
    for (const std::string& name : names) {
        EXPECT_TRUE(Holds(name, Converted(name))) << name;
    }
}

// The work copy of a 255-byte name fits, but the tool's side file beside it cannot.
TEST_F(OddNamesTest, LongestNamesAreConvertedOrLeftWholeAndNamed) {
    const std::string longUtf8 = LongUtf8();
    ASSERT_EQ(longUtf8.size(), 255u);
    ASSERT_EQ(kLongAscii.size(), 255u);
    ASSERT_NO_FATAL_FAILURE(AddSaves({kLongAscii, longUtf8, "short.sav"}));

    BatchResult result = Run();
    EXPECT_EQ(result.changedCount, 1u);
    EXPECT_TRUE(Holds("short.sav", Converted("short.sav")));
    for (const std::string& name : {kLongAscii, longUtf8}) {
        EXPECT_TRUE(Holds(name, Original(name))) << name;
        EXPECT_NE(FullReport(result).find("\n" + name + ": cipher tool failed (exit code 73)"),
                  std::string::npos)
            << FullReport(result);
    }
    EXPECT_TRUE(testsupport::LeftInWorkFolder(WorkFolderOf(appDir)).empty());

    // A tool that leaves no side file converts them.
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "any:nobackup:*");
    EXPECT_TRUE(Run().allChanged());
    for (const std::string& name : {kLongAscii, longUtf8}) {
        EXPECT_TRUE(Holds(name, Converted(name))) << name;
    }
    std::vector<std::string> present;
    for (const DirectoryEntry& entry : ListDirectory(saves).entries) {
        present.push_back(entry.name);
    }
    EXPECT_EQ(present.size(), 3u) << "a temporary was left beside a long name";
}
