// Save names and folder paths as Windows compares and strips them, through a batch.

#include "Report.h"
#include "TestSupport.h"
#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "conversion/SaveFolder.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::ReadLines;

namespace {

constexpr std::size_t kSaveSize = 1500;

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// A folder inside parent whose path is well past the classic 260-character limit.
std::string LongFolderIn(std::string path) {
    for (int i = 0; i < 5; ++i) {
        path = JoinPath(path, std::string(60, static_cast<char>('a' + i)));
        EXPECT_TRUE(MakeDirectory(path).ok());
    }
    return path;
}

class WindowsPathsTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    // Written with the exact names, which the test support's streams would strip.
    void AddSave(const std::string& name, unsigned seed) {
        ASSERT_TRUE(WriteNewFile(JoinPath(saves, name), EncipheredSave(kSaveSize, seed)).ok());
    }
    std::string Save(const std::string& name) const {
        std::string content;
        EXPECT_TRUE(ReadWholeFile(JoinPath(saves, name), content).ok()) << name;
        return content;
    }
    BatchResult Run(const std::string& folder, const std::string& value = "300") {
        Scn_Process runner;
        return ConvertSaves({folder, ListSaveFolder(folder), appDir, value}, runner);
    }
};

} // namespace

TEST_F(WindowsPathsTest, ANameEndingInADotOrASpaceIsRefusedBeforeTheToolRuns) {
    AddSave("abc", 1);
    AddSave("abc.", 2);
    AddSave("abc ", 3);
    BatchResult result = Run(saves);
    ASSERT_EQ(result.files.size(), 3u);
    for (const FileOutcome& file : result.files) {
        EXPECT_EQ(file.reason, file.name == "abc" ? "" : kTrailingDotOrSpace) << file.name;
    }
    EXPECT_EQ(result.changedCount, 1u);
    EXPECT_EQ(Save("abc"), ConvertedSave(kSaveSize, 1, 300));
    EXPECT_EQ(Save("abc."), EncipheredSave(kSaveSize, 2));
    EXPECT_EQ(Save("abc "), EncipheredSave(kSaveSize, 3));
    for (const std::string& run : ReadLines(log)) {
        EXPECT_EQ(run.find("abc."), std::string::npos) << run;
        EXPECT_EQ(run.find("abc "), std::string::npos) << run;
    }
    ASSERT_TRUE(RemoveFile(JoinPath(saves, "abc.")).ok());
    ASSERT_TRUE(RemoveFile(JoinPath(saves, "abc ")).ok());
}

// A long program folder is named by hand, not from a handle; short ones both ways.
TEST_F(WindowsPathsTest, TheProgramFolderInAnotherCaseIsStillTheProgramFolder) {
    const std::string longApp = LongFolderIn(root.path());
    ASSERT_TRUE(MakeDirectory(JoinPath(longApp, "Decrypt")).ok());
    ASSERT_TRUE(MakeDirectory(JoinPath(longApp, "Decrypt\\temp")).ok());
    for (const std::string& app : {appDir, longApp}) {
        SCOPED_TRACE(app.size());
        const std::string work = JoinPath(JoinPath(app, "Decrypt"), "temp");
        EXPECT_FALSE(CheckSaveFolder(Upper(work), app).ok());
        EXPECT_FALSE(CheckSaveFolder(work, Upper(app)).ok());
        EXPECT_TRUE(CheckSaveFolder(saves, Upper(app)).ok());
    }
}

TEST_F(WindowsPathsTest, ARestoreFindsTheBackupsOfTheFolderTypedInAnotherCase) {
    const std::string shortFolder = saves;
    for (const std::string& folder : {shortFolder, LongFolderIn(saves)}) {
        SCOPED_TRACE(folder.size());
        saves = folder;
        AddSave("slot.sav", 1);
        ASSERT_EQ(Run(saves).changedCount, 1u);
        RestoreResult restored = RestoreLastConversion(backups, Upper(saves));
        EXPECT_TRUE(restored.allRestored()) << FullReport(restored) << restored.status.reason();
        EXPECT_EQ(Save("slot.sav"), EncipheredSave(kSaveSize, 1));
    }
    saves = shortFolder;
}
