// The jobs' places: copies of the tool's folder made once, reused while the folder stays as it
// was, refreshed when it changed, and nothing left to grow after a batch cut short.

#include "conversion/JobPlaces.h"

#include "TestSupport.h"
#include "conversion/ProgramFolder.h"
#include "system/FileSystem.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace ostrapel;
using testsupport::Exists;
using testsupport::LeftInWorkFolder;
using testsupport::ReadFile;
using testsupport::SortedNames;
using testsupport::WriteFile;

namespace {

struct JobPlacesTest : ::testing::Test {
    JobPlacesTest() { WriteFile(tool + "/key.bin", "key one"); }

    JobPlaces Make(std::size_t jobs = 2) {
        return MakeJobPlaces(appDir, work, jobs, LookAtTool(appDir, work));
    }
    static void Mark(const JobPlaces& made) {
        for (const JobPlace& place : made.places) {
            WriteFile(place.workingFolder + "/Decrypt/mark", "");
        }
    }

    testsupport::TempDir root;
    std::string appDir = testsupport::MakeProgramFolder(root);
    std::string tool = appDir + "Decrypt";
    std::string work = WorkFolderOf(appDir);
};

} // namespace

// Reused as made (the mark stays) while the tool's folder stays as it was, its own and the work
// folder's changes aside; any change to a file of it gives another stamp and fresh copies.
TEST_F(JobPlacesTest, CopiesAreReusedUntilTheToolsFolderChanges) {
    const std::pair<std::string, bool> cases[] = {
        // a file written, and whether that changes the tool's folder
        {"temp/a.sav", false},
        {NewTemporaryName(), false},
        {".ostrapel-temp.lock", false}, // the work folder's lock, on Windows
        {".ostrapel-notes", true},      // merely named like the program's own
        {"key.bin", true},              // the same size
        {"data/table", true},
    };
    testsupport::MakeDir(tool + "/data");
    for (const auto& [file, changes] : cases) {
        SCOPED_TRACE(file);
        const std::string before = ToolStamp(appDir, work);
        const JobPlaces first = Make();
        ASSERT_EQ(first.places.size(), 2u);
        EXPECT_EQ(first.note, "");
        Mark(first);
        WriteFile(tool + "/" + file, file == "key.bin" ? "key two" : "x");
        EXPECT_EQ(ToolStamp(appDir, work) != before, changes);
        const JobPlaces second = Make();
        ASSERT_EQ(second.places.size(), 2u);
        EXPECT_EQ(second.places[1].tool, first.places[1].tool); // at the same path
        EXPECT_EQ(Exists(second.places[1].workingFolder + "/Decrypt/mark"), !changes);
    }
    // Only the work folder and the program's own files are left out of the copies.
    EXPECT_EQ(SortedNames(work + "/.jobs/0/Decrypt"),
              (std::vector<std::string>{".ostrapel-notes", "data", "decrypt.exe", "key.bin"}));
    EXPECT_EQ(ReadFile(work + "/.jobs/0/Decrypt/key.bin"), "key two");
}

// A copy is used only with the very tool it was made from, checked by its bytes: the tool
// rewritten in place with its size and time set back, or a copy's tool rewritten, gives a fresh
// copy; what a tool writes beside itself in its copy neither changes the stamp nor the copy.
TEST_F(JobPlacesTest, ACopyIsUsedOnlyWithTheToolsOwnBytes) {
    const auto rewrite = [](const std::string& path) {
        const auto time = std::filesystem::last_write_time(testsupport::Native(path));
        std::string bytes = ReadFile(path);
        bytes.back() = static_cast<char>(bytes.back() ^ 1);
        WriteFile(path, bytes);
        std::filesystem::last_write_time(testsupport::Native(path), time);
    };
    const std::pair<std::string, bool> cases[] = {
        // the file rewritten, and whether the copies are made again
        {tool + "/decrypt.exe", true},
        {work + "/.jobs/1/Decrypt/decrypt.exe", true},
        {work + "/.jobs/1/Decrypt/tool.log", false},
    };
    for (const auto& [file, fresh] : cases) {
        SCOPED_TRACE(file);
        const JobPlaces first = Make();
        ASSERT_EQ(first.places.size(), 2u);
        Mark(first);
        const std::string before = ToolStamp(appDir, work);
        if (Exists(file)) {
            rewrite(file);
        } else {
            WriteFile(file, "a log line");
        }
        EXPECT_EQ(ToolStamp(appDir, work) != before, file == tool + "/decrypt.exe");
        const JobPlaces second = Make();
        ASSERT_EQ(second.places.size(), 2u);
        EXPECT_EQ(Exists(second.places[1].workingFolder + "/Decrypt/mark"), !fresh);
        EXPECT_EQ(ReadFile(second.places[1].tool), ReadFile(tool + "/decrypt.exe"));
    }
}

// A tool's folder too large for its copies runs the tool where it is, and the note says why.
// Copies beyond a batch's jobs stay for the next while they are of the tool looked at; those of
// a tool since changed go with their stamps.
TEST_F(JobPlacesTest, CopiesOfAChangedToolBeyondTheJobsAreRemoved) {
    const std::string all = work + "/" + kJobsFolder;
    ASSERT_EQ(Make(4).places.size(), 4u);
    ASSERT_EQ(Make(2).places.size(), 2u);
    EXPECT_EQ(SortedNames(all), (std::vector<std::string>{"0", "0.stamp", "1", "1.stamp", "2",
                                                          "2.stamp", "3", "3.stamp"}));
    WriteFile(tool + "/key.bin", "key two");
    ASSERT_EQ(Make(2).places.size(), 2u);
    EXPECT_EQ(SortedNames(all), (std::vector<std::string>{"0", "0.stamp", "1", "1.stamp"}));
}

TEST_F(JobPlacesTest, CopiesThatWouldNotFitAreNotMade) {
    const std::optional<std::uint64_t> free = FreeSpaceOf(work);
    ASSERT_TRUE(free);
    // Sparse: it takes no room itself.
    std::filesystem::resize_file(
        (WriteFile(tool + "/big.dat", ""), testsupport::Native(tool + "/big.dat")),
        *free / kFreeSpaceShare + (std::uint64_t{1} << 20));
    const JobPlaces made = Make(2);
    EXPECT_TRUE(made.places.empty());
    EXPECT_NE(made.note.English().find("too little free space for a copy of"), std::string::npos)
        << made.note;
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
    EXPECT_EQ(made.note.English().rfind(
                  "The cipher tool ran on one save at a time from its own folder: its copies "
                  "could not be made (",
                  0),
              0u)
        << made.note;
    EXPECT_FALSE(Make(1).note.empty()); // one job runs a copy too
}

// With the work folder in the user's own place, the one beside the program is left out too:
// what it still holds (copies of an earlier layout, say) is neither stamped nor copied.
TEST_F(JobPlacesTest, AWorkFolderElsewhereLeavesTheOneBesideTheProgramOut) {
    const std::string elsewhere = root / "user work";
    testsupport::MakeDir(elsewhere);
    testsupport::MakeDir(tool + "/temp/.jobs/0");
    const std::string stamp = ToolStamp(appDir, elsewhere);
    WriteFile(tool + "/temp/.jobs/0/left", "x");
    EXPECT_EQ(ToolStamp(appDir, elsewhere), stamp);
    ASSERT_EQ(MakeJobPlaces(appDir, elsewhere, 2, LookAtTool(appDir, elsewhere)).places.size(), 2u);
    EXPECT_EQ(SortedNames(elsewhere + "/.jobs/1/Decrypt"),
              (std::vector<std::string>{"decrypt.exe", "key.bin"}));
}
