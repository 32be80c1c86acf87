// A batch over saves another program has a hand on, on Windows: the game holding them open
// (which locks them there), a cloud client keeping their data online only.

#include "Report.h"
#include "TestSupport.h"
#include "conversion/ConvertSaves.h"
#include "conversion/SaveFolder.h"
#include "system/FileSystem.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
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
    EXPECT_NE(
        FullReport(result).find("held.sav: copy failed: in use by another program (is the game "
                                "running?)"),
        std::string::npos)
        << FullReport(result);
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
    EXPECT_NE(FullReport(result).find("b.sav: copy failed: in use by another program"),
              std::string::npos)
        << FullReport(result);
    EXPECT_EQ(ReadFile(saves + "/a.sav"), testsupport::ConvertedSave(kSaveSize, 1, 300));
    EXPECT_EQ(testsupport::SortedNames(saves), (std::vector<std::string>{"a.sav", "b.sav"}));
}

TEST_F(InUseTest, ASaveTheGameWritesWhileTheReplacementWaitsForItIsLeftToTheGame) {
    AddSave("slot1.sav", 1);
    // Once the save is copied, the game holds it for writing as fopen does (no delete sharing),
    // so the replacement is refused and tried again; it writes a new save and closes during
    // those tries.
    class GameOpensBeforeCopyBack : public BatchObserver {
    public:
        explicit GameOpensBeforeCopyBack(std::string path) : path_(std::move(path)) {}
        void passStarted(std::size_t pass, std::size_t passes) override {
            if (pass + 1 == passes) { // the copy back is next, the backup made
                game_ = ::CreateFileW(testsupport::Native(path_).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr);
            }
        }
        std::atomic<HANDLE> game_{INVALID_HANDLE_VALUE};

    private:
        std::string path_;
    } observer(saves + "/slot1.sav");
    const std::string progress = "the game's new save";
    std::thread writer([&] {
        // The replacement's temporary beside the save: its rename is about to be tried.
        for (int i = 0; i < 3000; ++i) {
            bool temporary = false;
            for (const std::string& name : testsupport::SortedNames(saves)) {
                temporary = temporary || name.rfind(kTemporaryPrefix, 0) == 0;
            }
            if (temporary && observer.game_ != INVALID_HANDLE_VALUE) {
                break;
            }
            ::Sleep(10);
        }
        ::Sleep(300);
        const HANDLE game = observer.game_;
        DWORD put = 0;
        ::WriteFile(game, progress.data(), static_cast<DWORD>(progress.size()), &put, nullptr);
        ::SetEndOfFile(game);
        ::CloseHandle(game);
    });
    Scn_Process runner;
    BatchResult result =
        ConvertSaves({saves, ListSaveFolder(saves), appDir, "300"}, runner, &observer);
    writer.join();

    ASSERT_NE(observer.game_.load(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(ReadFile(saves + "/slot1.sav") == progress) << "the game's save was replaced";
    EXPECT_EQ(result.changedCount, 0u);
    EXPECT_NE(FullReport(result).find("slot1.sav: changed on disk during conversion"),
              std::string::npos)
        << FullReport(result);
}

// Reading versions downloads no save that is in the cloud only (here marked offline, the one
// such attribute a program may set); converting reads it as any other.
TEST_F(InUseTest, ASaveInTheCloudOnlyIsNotReadForItsVersionButIsConverted) {
    AddSave("a.sav", 1);
    AddSave("cloud.sav", 2);
    const std::wstring cloud = testsupport::Native(saves + "/cloud.sav").wstring();
    ASSERT_TRUE(::SetFileAttributesW(cloud.c_str(), FILE_ATTRIBUTE_OFFLINE));
    if ((::GetFileAttributesW(cloud.c_str()) & FILE_ATTRIBUTE_OFFLINE) == 0) {
        GTEST_SKIP() << "this file system keeps no offline attribute";
    }
    Scn_Process runner;
    const BatchRequest request{saves, ListSaveFolder(saves), appDir, "300"};
    BatchResult read = ReadSaveVersions(request, runner);
    ASSERT_EQ(read.files.size(), 2u);
    EXPECT_TRUE(read.files[0].oldValue) << read.files[0].reason;
    EXPECT_FALSE(read.files[1].oldValue);
    EXPECT_EQ(read.files[1].reason, "online-only (open it once to download it)");

    BatchResult result = ConvertSaves(request, runner);
    EXPECT_EQ(result.changedCount, 2u) << FullReport(result);
    EXPECT_EQ(ReadFile(saves + "/cloud.sav"), testsupport::ConvertedSave(kSaveSize, 2, 300));
}
