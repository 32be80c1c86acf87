// Reading the saves' current versions, leaving saves already at the value alone, and passes
// that run the cipher tool on several saves at once.

#include "Report.h"
#include "TestSupport.h"
#include "conversion/ConvertSaves.h"
#include "conversion/DlcVersion.h"
#include "system/Cancel.h"
#include "system/FileSystem.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::LeftInWorkFolder;
using testsupport::ReadFile;
using testsupport::ReadLines;
using testsupport::ScopedEnv;
using testsupport::SortedNames;
using testsupport::WriteFile;

namespace {

constexpr std::size_t kSaveSize = 1200;

// Bytes and modification time of a file.
struct Snapshot {
    std::string bytes;
    std::int64_t modifiedNs = 0;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return {ReadFile(path), std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

// Records what the observer hears, from whichever thread, and checks that no two calls
// overlap.
class Recorder : public BatchObserver {
public:
    void cursorMoved(std::size_t index) override {
        Enter guard(*this);
        cursor.push_back(index);
    }
    void fileFinished(std::size_t index, const FileOutcome& outcome) override {
        Enter guard(*this);
        finished[index] = outcome;
    }

    std::vector<std::size_t> cursor;
    std::map<std::size_t, FileOutcome> finished;
    bool overlapped = false;

private:
    struct Enter {
        explicit Enter(Recorder& r) : recorder(r) {
            if (!recorder.mutex.try_lock()) {
                recorder.overlapped = true;
                recorder.mutex.lock();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ~Enter() { recorder.mutex.unlock(); }
        Recorder& recorder;
    };
    std::mutex mutex;
};

bool SameOutcome(const FileOutcome& a, const FileOutcome& b) {
    return a.name == b.name && a.changed == b.changed && a.already == b.already &&
           a.oldValue == b.oldValue && a.newValue == b.newValue &&
           a.reason.English() == b.reason.English();
}

class SaveVersionsTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    // A save whose deciphered field holds value.
    void AddSave(const std::string& name, int value) {
        WriteFile(saves + "/" + name, Original(name, value));
        names.push_back(name);
    }
    unsigned Seed(const std::string& name) const {
        return static_cast<unsigned>(std::hash<std::string>{}(name)&0xFFFF);
    }
    std::string Original(const std::string& name, int value) const {
        return ConvertedSave(kSaveSize, Seed(name), value);
    }
    std::string Save(const std::string& name) const { return ReadFile(saves + "/" + name); }
    std::map<std::string, Snapshot> SnapshotSaves() const {
        std::map<std::string, Snapshot> all;
        for (const std::string& name : SortedNames(saves)) {
            if (std::filesystem::is_regular_file(saves + "/" + name)) {
                all[name] = Take(saves + "/" + name);
            }
        }
        return all;
    }
    BatchRequest Request(const std::string& value = "200", std::size_t jobs = 1) const {
        BatchRequest request{saves, names, appDir, value};
        request.jobs = jobs;
        return request;
    }

    std::vector<std::string> names;
    Recorder recorder;
};

} // namespace

TEST(DlcValueText, TableValuesByLabelOthersByNumber) {
    EXPECT_EQ(DlcValueText(0), "0.00");
    EXPECT_EQ(DlcValueText(300), "3.00");
    EXPECT_EQ(DlcValueText(250), "250");
    EXPECT_EQ(DlcValueText(-1), "-1");
    EXPECT_EQ(DlcVersionTable::LabelOf(400), std::optional<std::string_view>("4.00"));
    EXPECT_FALSE(DlcVersionTable::LabelOf(401));
}

TEST_F(SaveVersionsTest, ReadsEveryVersionAndChangesNothing) {
    AddSave("zero.sav", 0);
    AddSave("one.sav", 100);
    AddSave("three.sav", 300);
    AddSave("odd.sav", 250);
    WriteFile(saves + "/plain.sav", testsupport::PlainSave(kSaveSize, 5));
    names.push_back("plain.sav");
    WriteFile(saves + "/short.sav", EncipheredSave(100, 1));
    names.push_back("short.sav");
    testsupport::MakeDir(saves + "/folder.sav");
    names.push_back("folder.sav");
    ASSERT_EQ(::chmod((saves + "/one.sav").c_str(), 0444), 0); // read-only saves read too
    const auto before = SnapshotSaves();

    Scn_Process runner;
    BatchResult result = ReadSaveVersions(Request("not a value"), runner, &recorder);

    ASSERT_EQ(result.files.size(), names.size());
    const std::vector<std::optional<std::int16_t>> values{0, 100, 300, 250};
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(result.files[i].oldValue, values[i]) << names[i];
        EXPECT_EQ(result.files[i].reason, "") << names[i];
        EXPECT_FALSE(result.files[i].changed || result.files[i].already);
    }
    EXPECT_EQ(result.files[4].reason,
              "cipher tool failed (exit code 65): plain.sav is not enciphered");
    EXPECT_EQ(result.files[5].reason, "deciphered save too short (100 bytes)");
    EXPECT_EQ(result.files[6].reason, "is a folder");
    for (std::size_t i = 4; i < names.size(); ++i) {
        EXPECT_FALSE(result.files[i].oldValue) << names[i];
    }
    EXPECT_FALSE(result.allChanged());
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(recorder.finished.size(), names.size());
    EXPECT_EQ(recorder.finished[2].oldValue, std::optional<std::int16_t>(300));

    EXPECT_EQ(SnapshotSaves(), before);
    EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
    for (const std::string& line : ReadLines(log)) {
        EXPECT_TRUE(line.starts_with("decrypt ")) << line;
    }
}

TEST_F(SaveVersionsTest, ReadingIsRefusedWhereABatchIs) {
    AddSave("a.sav", 0);
    {
        FolderLock other(WorkFolderOf(appDir));
        Scn_Process runner;
        BatchResult result = ReadSaveVersions(Request(), runner);
        EXPECT_EQ(result.refusal, kWorkFolderBusy);
        EXPECT_EQ(result.files.at(0).reason, "not read");
    }
    std::filesystem::remove(CipherToolOf(appDir));
    Scn_Process runner;
    EXPECT_EQ(ReadSaveVersions(Request(), runner).refusal,
              "Cipher tool not found: " + CipherToolOf(appDir));
    EXPECT_TRUE(ReadLines(log).empty());
}

TEST_F(SaveVersionsTest, ASaveAlreadyAtTheValueIsLeftAloneAfterOneToolRun) {
    AddSave("a.sav", 100);
    AddSave("b.sav", 200);
    AddSave("c.sav", 250);
    const Snapshot b = Take(saves + "/b.sav");

    Scn_Process runner;
    BatchResult result = ConvertSaves(Request("200"), runner, &recorder);

    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    EXPECT_EQ(result.changedCount, 2u);
    EXPECT_EQ(result.alreadyCount, 1u);
    EXPECT_EQ(FullReport(result).rfind(
                  "Changed versions DLC in 2 files\nAlready at 2.00: 1 file\n\nThe originals are "
                  "kept in ",
                  0),
              0u)
        << FullReport(result);
    EXPECT_EQ(Take(saves + "/b.sav"), b);
    EXPECT_EQ(Save("a.sav"), Original("a.sav", 200));
    EXPECT_EQ(Save("c.sav"), Original("c.sav", 200));

    const std::vector<std::string> runs = ReadLines(log);
    EXPECT_EQ(std::count_if(runs.begin(), runs.end(),
                            [](const std::string& run) { return run.ends_with(" b.sav"); }),
              2); // deciphered, and its plain form enciphered back to it
    EXPECT_EQ(runs.size(), 10u);

    const FileOutcome& already = result.files[1];
    EXPECT_TRUE(already.already && !already.changed);
    EXPECT_EQ(already.oldValue, std::optional<std::int16_t>(200));
    EXPECT_EQ(already.newValue, std::optional<std::int16_t>(200));
    EXPECT_EQ(result.files[2].oldValue, std::optional<std::int16_t>(250));
    EXPECT_EQ(result.files[2].newValue, std::optional<std::int16_t>(200));
    EXPECT_TRUE(recorder.finished[1].already);
    EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
    EXPECT_EQ(ListChangedSaves(result.files), "Changed:\na.sav: 1.00 -> 2.00\nc.sav: 250 -> 2.00");
}

TEST(ComposeReport, AlreadyLineFollowsTheFirstAndFailuresStillListed) {
    FileOutcome changed;
    changed.name = "a.sav";
    changed.changed = true;
    FileOutcome already;
    already.name = "b.sav";
    already.already = true;
    already.oldValue = already.newValue = 300;
    FileOutcome failed;
    failed.name = "c.sav";
    failed.reason = "not found";
    EXPECT_EQ(ComposeReport({changed, already, already, failed}),
              "Changed versions DLC in 1 files\nAlready at 3.00: 2 files\n\nNot changed:\n"
              "c.sav: not found");
    EXPECT_EQ(ComposeReport({changed}), "Changed versions DLC in 1 files");
    EXPECT_EQ(ListChangedSaves({already, failed}), "");
}

// Four jobs give what one job gives: the same saves, outcomes and report, in the same pass
// order, with the observer called one call at a time.
TEST_F(SaveVersionsTest, FourJobsGiveTheResultsOfOne) {
    const std::string first = saves;
    const std::string second = root / "saves2";
    testsupport::MakeDir(second);
    for (int i = 0; i < 9; ++i) {
        AddSave("s" + std::to_string(i) + ".sav", i == 4 ? 300 : 100 * (i % 3));
    }
    names.push_back("gone.sav");
    testsupport::MakeDir(saves + "/sub");
    names.push_back("sub");
    std::filesystem::copy(first, second, std::filesystem::copy_options::recursive);
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "encrypt:exit=3:s7.sav;decrypt:exit=5:s2.sav");

    std::vector<BatchResult> results;
    std::vector<std::vector<std::string>> runs;
    for (std::size_t jobs : {1u, 4u}) {
        saves = jobs == 1 ? first : second;
        WriteFile(log, "");
        Recorder seen;
        Scn_Process runner;
        results.push_back(ConvertSaves(Request("300", jobs), runner, &seen));
        runs.push_back(ReadLines(log));
        EXPECT_FALSE(seen.overlapped) << jobs << " jobs";
        EXPECT_EQ(seen.finished.size(), names.size());
        EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
    }

    // The same but for where each run's originals are kept.
    auto withoutBackupNote = [](const std::string& report) {
        return report.substr(0, report.find("\n\nThe originals are kept in "));
    };
    EXPECT_EQ(withoutBackupNote(FullReport(results[0])), withoutBackupNote(FullReport(results[1])));
    EXPECT_NE(FullReport(results[0]).find("\n\nThe originals are kept in "), std::string::npos);
    EXPECT_EQ(results[0].changedCount, 6u);
    EXPECT_EQ(results[0].alreadyCount, 1u);
    EXPECT_EQ(results[1].changedCount, results[0].changedCount);
    EXPECT_EQ(results[1].alreadyCount, results[0].alreadyCount);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_TRUE(SameOutcome(results[0].files[i], results[1].files[i])) << names[i];
    }
    for (const std::string& name : SortedNames(first)) {
        if (name != "sub") {
            EXPECT_EQ(ReadFile(first + "/" + name), ReadFile(second + "/" + name)) << name;
        }
    }
    // Every decipher ran before any encipher, with four jobs as with one. With four, each
    // failure was tried once more alone: s2's decipher, and s7 from its decipher on.
    runs[0].insert(runs[0].end(), {"decrypt s2.sav", "decrypt s7.sav", "encrypt s7.sav"});
    std::vector<std::string> sorted[2];
    for (std::size_t k = 0; k < 2; ++k) {
        const auto firstEncrypt = std::find_if(runs[k].begin(), runs[k].end(),
                                               [](auto& r) { return r.starts_with("encrypt"); });
        EXPECT_EQ(firstEncrypt - runs[k].begin(), 9 + k) << k;
        sorted[k] = runs[k];
        std::sort(sorted[k].begin(), sorted[k].end());
    }
    EXPECT_EQ(sorted[0], sorted[1]);
}

// With as many jobs as saves, every save's decipher is under way at once: three tool runs
// hang together until the batch is cancelled, and nothing is changed.
TEST_F(SaveVersionsTest, JobsRunTheToolOnSeveralSavesAtOnceAndCancelEndsThemAll) {
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        AddSave(name, 0);
    }
    const auto before = SnapshotSaves();
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "decrypt:hang=30000:*");
    CancelFlag cancel;
    std::thread canceller([&] {
        for (int i = 0; i < 4000 && ReadLines(log).size() < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        cancel.raise();
    });
    BatchRequest request = Request("200", 3);
    request.cancel = &cancel;
    Scn_Process runner;
    BatchResult result = ConvertSaves(request, runner, &recorder);
    canceller.join();

    EXPECT_EQ(ReadLines(log).size(), 3u);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.changedCount, 0u);
    for (const FileOutcome& file : result.files) {
        EXPECT_EQ(file.reason, "cancelled") << file.name;
    }
    EXPECT_EQ(SnapshotSaves(), before);
    EXPECT_TRUE(LeftInWorkFolder(WorkFolderOf(appDir)).empty());
}
