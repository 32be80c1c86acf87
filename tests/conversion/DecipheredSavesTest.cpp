// Deciphered saves kept from reading their versions, so that a batch deciphers again only
// what changed since or was not kept.

#include "conversion/DecipheredSaves.h"

#include "Report.h"
#include "TestSupport.h"
#include "conversion/ConvertSaves.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::ReadFile;
using testsupport::ReadLines;
using testsupport::WriteFile;

namespace {

constexpr std::size_t kSaveSize = 1200; // deciphered as enciphered: the tool adds a header only

class DecipheredSavesTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    std::string Save(const std::string& name, int value) const {
        return ConvertedSave(kSaveSize, static_cast<unsigned>(std::hash<std::string>{}(name)),
                             value);
    }
    void AddSave(const std::string& folder, const std::string& name, int value) {
        WriteFile(folder + "/" + name, Save(name, value));
    }
    // One job, so that saves are kept in list order.
    BatchRequest Request(const std::string& folder, std::vector<std::string> names) {
        BatchRequest request{folder, std::move(names), appDir, "200"};
        request.jobs = 1;
        request.deciphered = &kept;
        return request;
    }
    // The tool's runs per save since the log was emptied.
    std::map<std::string, int> RunsPerSave() const {
        std::map<std::string, int> runs;
        for (const std::string& line : ReadLines(log)) {
            ++runs[line.substr(line.find(' ') + 1)];
        }
        return runs;
    }

    DecipheredSaves kept{3 * kSaveSize}; // room for three saves
    Scn_Process runner;
};

} // namespace

TEST(DecipheredSaves, KeepsWithinItsBoundAndTheNewestUnderADigest) {
    DecipheredSaves kept(25);
    const Sha256Digest one = Sha256Of("1"), two = Sha256Of("2"), three = Sha256Of("3");
    kept.keep(one, std::string(10, 'a'));
    kept.keep(two, std::string(10, 'b'));
    kept.keep(two, std::string(5, 'c'));
    EXPECT_EQ(kept.bytes(), 15u);
    EXPECT_EQ(kept.find(two), std::optional<std::string>("ccccc"));
    kept.keep(three, std::string(12, 'd')); // the oldest goes
    EXPECT_FALSE(kept.find(one));
    EXPECT_EQ(kept.bytes(), 17u);
    kept.keep(one, std::string(26, 'e')); // more than the bound is not kept
    EXPECT_FALSE(kept.find(one));
    EXPECT_EQ(kept.count(), 2u);
}

// Only what is kept now counts as a twin: bytes replaced or dropped are not.
TEST(DecipheredSaves, TwinsAreTheSameBytesKeptUnderAnotherDigest) {
    DecipheredSaves kept(25);
    const Sha256Digest one = Sha256Of("1"), two = Sha256Of("2"), three = Sha256Of("3");
    kept.keep(one, "same");
    kept.keep(one, "other");
    EXPECT_FALSE(kept.dropTwins(two, Sha256Of("same")));
    kept.keep(two, "same");
    kept.keep(three, std::string(20, 'x')); // drops one
    EXPECT_FALSE(kept.dropTwins(three, Sha256Of("other")));
    EXPECT_FALSE(kept.dropTwins(two, Sha256Of("same")));
    EXPECT_TRUE(kept.dropTwins(one, Sha256Of("same")));
    EXPECT_FALSE(kept.find(two));
    EXPECT_EQ(kept.count(), 1u);
}

TEST_F(DecipheredSavesTest, ABatchDeciphersAgainOnlyWhatChangedOrWasDroppedSinceReading) {
    const std::vector<std::string> names{"a.sav", "b.sav", "c.sav", "d.sav"};
    for (const std::string& name : names) {
        AddSave(saves, name, 100);
    }
    ASSERT_EQ(ReadSaveVersions(Request(saves, names), runner).files.at(3).oldValue, 100);
    EXPECT_EQ(kept.count(), 3u);  // a.sav dropped for d.sav
    AddSave(saves, "b.sav", 300); // written by the game since

    WriteFile(log, "");
    BatchResult result = ConvertSaves(Request(saves, names), runner);

    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    // a.sav and b.sav four runs each; c.sav and d.sav only the witness, the encipher and its
    // proof: with the reading, four a save.
    EXPECT_EQ(RunsPerSave(),
              (std::map<std::string, int>{{"a.sav", 4}, {"b.sav", 4}, {"c.sav", 3}, {"d.sav", 3}}));
    EXPECT_EQ(result.files[1].oldValue, 300);
    EXPECT_EQ(result.files[2].oldValue, 100);
    for (const std::string& name : names) {
        EXPECT_TRUE(ReadFile(saves + "/" + name) == Save(name, 200)) << name;
    }
    EXPECT_TRUE(testsupport::LeftInWorkFolder(WorkFolderOf(appDir)).empty());
}

TEST_F(DecipheredSavesTest, AnotherFolderDropsItAllAndABatchKeepsWhatItWrote) {
    const std::string other = root / "other";
    testsupport::MakeDir(other);
    AddSave(saves, "a.sav", 0);
    AddSave(saves, "b.sav", 0);
    AddSave(other, "c.sav", 0);
    (void)ReadSaveVersions(Request(saves, {"a.sav", "b.sav"}), runner);
    EXPECT_EQ(kept.count(), 2u);
    (void)ReadSaveVersions(Request(other, {"c.sav"}), runner);
    EXPECT_EQ(kept.count(), 1u);

    WriteFile(log, "");
    EXPECT_TRUE(ConvertSaves(Request(saves, {"a.sav", "b.sav"}), runner).allChanged());
    EXPECT_EQ(RunsPerSave(), (std::map<std::string, int>{{"a.sav", 4}, {"b.sav", 4}}));

    // The versions after the batch are read without the tool.
    WriteFile(log, "");
    BatchResult read = ReadSaveVersions(Request(saves, {"a.sav", "b.sav"}), runner);
    EXPECT_EQ(read.files.at(0).oldValue, 200);
    EXPECT_EQ(read.files.at(1).oldValue, 200);
    EXPECT_TRUE(ReadLines(log).empty());
}
