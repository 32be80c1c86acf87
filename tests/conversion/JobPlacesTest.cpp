// The jobs' places: copies of the tool's folder made once, reused while the folder stays as it
// was, refreshed when it changed, and nothing left to grow after a batch cut short.

#include "conversion/JobPlaces.h"

#include "TestSupport.h"
#include "conversion/ProgramFolder.h"
#include "system/FileSystem.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

using namespace ostrapel;
using testsupport::Exists;
using testsupport::LeftInWorkFolder;
using testsupport::ReadFile;
using testsupport::SortedNames;
using testsupport::WriteFile;

namespace {

class JobPlacesTest : public ::testing::Test {
public:
    JobPlacesTest() { WriteFile(tool + "/key.bin", "key one"); }

    JobPlaces Make(std::size_t jobs = 2) {
        return MakeJobPlaces(appDir, work, jobs, ToolStamp(appDir, work));
    }
    // Marks the copies, so a copy made anew shows by the mark's absence.
    void Mark(const JobPlaces& made) const {
        for (const JobPlace& place : made.places) {
            WriteFile(place.workingFolder + "/Decrypt/mark", "");
        }
    }
    bool Marked(const JobPlaces& made) const {
        for (const JobPlace& place : made.places) {
            if (!Exists(place.workingFolder + "/Decrypt/mark")) {
                return false;
            }
        }
        return !made.places.empty();
    }

    testsupport::TempDir root;
    std::string appDir = testsupport::MakeProgramFolder(root);
    std::string tool = appDir + "Decrypt";
    std::string work = WorkFolderOf(appDir);
};

} // namespace

// Reused as made while the tool's folder stays as it was, its own and the work folder's changes
// aside; any change to a file of it gives another stamp and fresh copies.
TEST_F(JobPlacesTest, CopiesAreReusedUntilTheToolsFolderChanges) {
    struct Case {
        const char* what;
        std::function<void(JobPlacesTest&)> change;
        bool refreshed;
    };
    const Case cases[] = {
        {"nothing", [](JobPlacesTest&) {}, false},
        {"the work folder", [](JobPlacesTest& t) { WriteFile(t.work + "/a.sav", "x"); }, false},
        {"a temporary of the program's",
         [](JobPlacesTest& t) { WriteFile(t.tool + "/" + NewTemporaryName(), "x"); }, false},
        {"the work folder's lock file",
         [](JobPlacesTest& t) { WriteFile(t.tool + "/.ostrapel-temp.lock", ""); }, false},
        {"a file merely named like the program's",
         [](JobPlacesTest& t) { WriteFile(t.tool + "/.ostrapel-notes", "x"); }, true},
        {"a file's content, same size",
         [](JobPlacesTest& t) { WriteFile(t.tool + "/key.bin", "key two"); }, true},
        {"a file removed",
         [](JobPlacesTest& t) {
             std::filesystem::remove(testsupport::Native(t.tool + "/key.bin"));
         },
         true},
        {"a file in a sub-folder",
         [](JobPlacesTest& t) {
             testsupport::MakeDir(t.tool + "/data");
             WriteFile(t.tool + "/data/table", "x");
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = ToolStamp(appDir, work);
        const JobPlaces first = Make();
        ASSERT_EQ(first.places.size(), 2u);
        EXPECT_EQ(first.note, "");
        Mark(first);
        c.change(*this);
        EXPECT_EQ(ToolStamp(appDir, work) != before, c.refreshed);
        const JobPlaces second = Make();
        ASSERT_EQ(second.places.size(), 2u);
        EXPECT_EQ(second.places[1].tool, first.places[1].tool); // at the same path
        EXPECT_EQ(Marked(second), !c.refreshed);
        // The copy is the folder as it is now, without the program's own and the work folder.
        std::vector<std::string> expected;
        for (const std::string& name : SortedNames(tool)) {
            if (name != "temp" && name != ".ostrapel-temp.lock" && !IsTemporaryName(name)) {
                expected.push_back(name);
            }
        }
        if (!c.refreshed) {
            expected.push_back("mark");
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(SortedNames(second.places[0].workingFolder + "/Decrypt"), expected);
        if (Exists(tool + "/key.bin")) {
            EXPECT_EQ(ReadFile(second.places[0].workingFolder + "/Decrypt/key.bin"),
                      ReadFile(tool + "/key.bin"));
        }
    }
}

// A batch killed while a copy was built, or before its stamp was written, leaves what the next
// one removes or rebuilds: the job places do not grow, and none is used half-made.
TEST_F(JobPlacesTest, WhatAKilledBatchLeftIsRemovedOrRebuilt) {
    Mark(Make(3));
    const std::string jobs = work + "/.jobs";
    testsupport::MakeDir(jobs + "/" + NewTemporaryName()); // a build cut short
    WriteFile(jobs + "/" + NewTemporaryName(), "");        // a stamp's temporary
    std::filesystem::remove(testsupport::Native(jobs + "/1.stamp"));
    std::filesystem::remove(testsupport::Native(jobs + "/2/Decrypt/decrypt.exe")); // by hand
    WriteFile(jobs + "/0/temp/scratch", "deciphered");
    WriteFile(jobs + "/0/left.sav", "deciphered");

    ASSERT_TRUE(ClearWorkArea(work));
    EXPECT_EQ(LeftInWorkFolder(work), std::vector<std::string>{});
    const JobPlaces again = Make(3);
    ASSERT_EQ(again.places.size(), 3u);
    EXPECT_EQ(SortedNames(jobs),
              (std::vector<std::string>{"0", "0.stamp", "1", "1.stamp", "2", "2.stamp"}));
    EXPECT_TRUE(Exists(jobs + "/0/Decrypt/mark"));
    EXPECT_FALSE(Exists(jobs + "/1/Decrypt/mark")); // made anew: its stamp was missing
    EXPECT_FALSE(Exists(jobs + "/2/Decrypt/mark")); // and this one: its tool was missing
    EXPECT_TRUE(Exists(again.places[1].tool) && Exists(again.places[2].tool));
}

// Without a place for every job the tool runs where it is, and the note says why once.
TEST_F(JobPlacesTest, WithoutPlacesTheToolRunsAloneAndTheNoteSaysWhy) {
    WriteFile(work + "/.jobs", "in the way");
    const JobPlaces made = Make(4);
    EXPECT_TRUE(made.places.empty());
    EXPECT_EQ(made.note.rfind("The cipher tool ran on one save at a time: its copies for running "
                              "side by side could not be made (",
                              0),
              0u)
        << made.note;
    EXPECT_TRUE(Make(1).note.empty()); // one job needs none
}
