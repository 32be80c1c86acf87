// Undoing the batches on a save folder back to a chosen one.

#include "Report.h"
#include "TestSupport.h"
#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "system/FileSystem.h"

#include <gtest/gtest.h>

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

constexpr std::size_t kSize = 1000;

struct RestoreSetsTest : ::testing::Test, testsupport::BatchScene {
    // Converts a.sav and b.sav to each value in turn; the sets, oldest first.
    std::vector<std::string> Convert(std::initializer_list<int> values) {
        std::vector<std::string> sets;
        for (int value : values) {
            Scn_Process runner;
            BatchResult result =
                ConvertSaves({saves, {"a.sav", "b.sav"}, appDir, std::to_string(value)}, runner);
            EXPECT_TRUE(result.allChanged()) << FullReport(result);
            sets.push_back(result.backupSet);
        }
        return sets;
    }
    bool Hold(int value) const {
        return ReadFile(saves + "/a.sav") == ConvertedSave(kSize, 'a', value) &&
               ReadFile(saves + "/b.sav") == ConvertedSave(kSize, 'b', value);
    }
};

} // namespace

// The walk back stops at a set that cannot be used, the newer ones undone, and says why; a set
// undone meanwhile undoes nothing older in its place.
TEST_F(RestoreSetsTest, StopsAtASetThatCannotBeUsed) {
    WriteFile(saves + "/a.sav", ConvertedSave(kSize, 'a', 100));
    WriteFile(saves + "/b.sav", ConvertedSave(kSize, 'b', 100));
    const std::vector<std::string> sets = Convert({200, 300, 400});
    ASSERT_TRUE(RemoveFile(sets[1] + "/original-1"));

    const RestoreResult result = RestoreBackTo(backups, saves, sets[0]);
    EXPECT_TRUE(Hold(300)); // the newest undone, the one before refused
    EXPECT_EQ(result.setFolder, sets[2]);
    EXPECT_EQ(
        result.notMarked.English().rfind("Stopped before the conversion chosen: The backup set " +
                                             sets[1] + " cannot be used",
                                         0),
        0u)
        << result.notMarked;
    EXPECT_FALSE(result.allRestored());

    const RestoreResult again = RestoreBackTo(backups, saves, sets[2]);
    EXPECT_TRUE(again.nothingToUndo);
    EXPECT_TRUE(Hold(300));
}
