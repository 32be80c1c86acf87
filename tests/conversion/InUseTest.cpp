// A batch over saves that the game holds open, on Windows where that locks them.

#include "TestSupport.h"
#include "conversion/ConvertSaves.h"
#include "conversion/SaveFolder.h"

#include <gtest/gtest.h>
#include <windows.h>

using namespace ostrapel;
using testsupport::EncipheredSave;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

constexpr std::size_t kSaveSize = 1500;

class InUseTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    void AddSave(const std::string& name, unsigned seed) {
        WriteFile(saves + "/" + name, EncipheredSave(kSaveSize, seed));
    }
    BatchResult Run() {
        Scn_Process runner;
        return ConvertSaves({saves, ListSaveFolder(saves), appDir, "300"}, runner);
    }
    static HANDLE HoldWithoutSharing(const std::string& path) {
        return ::CreateFileW(testsupport::Native(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    }
};

} // namespace

TEST_F(InUseTest, ASaveTheGameHoldsOpenIsReportedInUseAndLeftAsItWas) {
    AddSave("a.sav", 1);
    AddSave("held.sav", 2);
    AddSave("b.sav", 3);
    HANDLE game = HoldWithoutSharing(saves + "/held.sav");
    ASSERT_NE(game, INVALID_HANDLE_VALUE);
    BatchResult result = Run();
    ::CloseHandle(game);

    EXPECT_EQ(ReadFile(saves + "/held.sav"), EncipheredSave(kSaveSize, 2));
    EXPECT_EQ(result.changedCount, 2u);
    EXPECT_NE(result.report.find("held.sav: copy failed: in use by another program (is the game "
                                 "running?)"),
              std::string::npos)
        << result.report;
    EXPECT_EQ(ReadFile(saves + "/a.sav"), testsupport::ConvertedSave(kSaveSize, 1, 300));
}

TEST_F(InUseTest, ASaveTheGameOpensDuringTheBatchIsLeftAsItWas) {
    AddSave("a.sav", 1);
    AddSave("b.sav", 2);
    // The game opens b.sav after it was copied, before it is replaced.
    class OpenDuringBatch : public BatchObserver {
    public:
        explicit OpenDuringBatch(std::string path) : path_(std::move(path)) {}
        ~OpenDuringBatch() override {
            if (game_ != INVALID_HANDLE_VALUE) {
                ::CloseHandle(game_);
            }
        }
        void cursorMoved(std::size_t) override {
            if (++moves_ == 3) { // the second pass has started
                game_ = HoldWithoutSharing(path_);
            }
        }
        HANDLE game_ = INVALID_HANDLE_VALUE;

    private:
        std::string path_;
        int moves_ = 0;
    } observer(saves + "/b.sav");
    Scn_Process runner;
    BatchResult result =
        ConvertSaves({saves, ListSaveFolder(saves), appDir, "300"}, runner, &observer);
    ASSERT_NE(observer.game_, INVALID_HANDLE_VALUE);
    ::CloseHandle(observer.game_);
    observer.game_ = INVALID_HANDLE_VALUE;

    EXPECT_EQ(ReadFile(saves + "/b.sav"), EncipheredSave(kSaveSize, 2));
    EXPECT_NE(result.report.find("b.sav: copy failed: in use by another program"),
              std::string::npos)
        << result.report;
    EXPECT_EQ(ReadFile(saves + "/a.sav"), testsupport::ConvertedSave(kSaveSize, 1, 300));
    EXPECT_EQ(testsupport::SortedNames(saves), (std::vector<std::string>{"a.sav", "b.sav"}));
}
