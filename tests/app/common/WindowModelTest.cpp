// The window's flows, driven through the model with a recording view and real workers running
// the stand-in cipher tool.

#include "WindowModel.h"

#include "RestoreChoices.h"
#include "TestSupport.h"
#include "Words.h"
#include "conversion/Backups.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Wine.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <thread>

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::ReadFile;
using testsupport::ReadLines;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

namespace ostrapel {
void PrintTo(const WindowControls& c, std::ostream* out) {
    *out << "{open " << c.open << ", combo " << c.combo << ", save " << c.save << " \""
         << c.saveText << "\", busy " << c.busy << ", folders " << c.folders << "}";
}
} // namespace ostrapel

namespace {

constexpr std::size_t kSize = 1000;
constexpr auto kTimeout = std::chrono::seconds(60 * testsupport::kTimeFactor);

// Records what the model shows; answers the browser and the question from scripts.
struct FakeView final : WindowView {
    struct Report {
        ReportBox::Kind kind;
        bool warning;
        BoxReport box;
        // What the window showed behind the box.
        WindowControls controls;
        std::string caption;
        ListCaption listCaption;
    };

    void ShowRows(const std::vector<ListRow>& shown) override {
        rows = shown;
        selected.reset();
    }
    void ShowRow(std::size_t index, const ListRow& row) override { rows.at(index) = row; }
    void Select(std::size_t index) override {
        selected = index;
        selects.push_back(index);
    }
    void ShowControls(const WindowControls& shown) override { controls = shown; }
    void ShowCaption(const std::string& shown) override { caption = shown; }
    void ShowListCaption(const ListCaption& shown) override {
        listCaption = shown;
        listCaptions.push_back(shown);
    }
    void ShowFolder(const std::string& shown) override { listFolder = shown; }
    void ShowValue(const std::string& shown) override { value = shown; }
    void ShowReport(const ReportBox& box) override {
        reports.push_back({box.kind, box.warning, box.Compose(), controls, caption, listCaption});
    }
    bool Ask(const Question& question) override {
        asked.push_back(question.text);
        return answer;
    }
    std::optional<std::string> ChooseFolder() override {
        ++chooserCalls;
        if (folders.empty()) {
            return std::nullopt;
        }
        std::optional<std::string> folder = folders.front();
        folders.pop_front();
        return folder;
    }
    void RememberFolder(const std::string& folder) override { remembered.push_back(folder); }
    void StartPaceTimer(std::chrono::milliseconds) override { ++paceTimers; }
    void Close() override {
        closed = true;
        closeAccepted = model->CloseRequested();
    }
    void Ended(Work work) override { ended.push_back(work); }

    // The versions shown, by name.
    std::map<std::string, std::string> Versions() const {
        std::map<std::string, std::string> versions;
        for (const ListRow& row : rows) {
            versions[row.name] = row.version;
        }
        return versions;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const ListRow& row : rows) {
            names.push_back(row.name);
        }
        return names;
    }
    std::size_t EndedCount(Work work) const {
        return static_cast<std::size_t>(std::count(ended.begin(), ended.end(), work));
    }

    WindowModel* model = nullptr;
    std::vector<ListRow> rows;
    std::optional<std::size_t> selected;
    std::vector<std::size_t> selects;
    // Nothing the model would show, so a check of what it showed cannot pass on these.
    WindowControls controls{.open = false,
                            .combo = false,
                            .save = true,
                            .saveText = "not shown",
                            .busy = true,
                            .folders = false};
    std::string caption = "not shown";
    ListCaption listCaption = [] {
        ListCaption unseen;
        unseen.prefix = unseen.name = unseen.tooltip = unseen.description = "not shown";
        return unseen;
    }();
    std::vector<ListCaption> listCaptions;
    std::string listFolder = "not shown";
    std::string value = "not shown";
    std::vector<Report> reports;
    std::vector<std::string> asked;
    bool answer = false;
    std::deque<std::optional<std::string>> folders;
    int chooserCalls = 0;
    std::vector<std::string> remembered;
    int paceTimers = 0;
    bool closed = false;
    bool closeAccepted = false;
    std::vector<Work> ended;
};

// The window's thread, as far as the workers see it: post only counts wake-ups; the test's
// thread runs them.
class Poster {
public:
    void Post() {
        std::lock_guard lock(mutex_);
        ++posts_;
        posted_.notify_all();
    }
    // Waits up to timeout for a wake-up and takes it.
    bool Take(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_for(lock, timeout, [this] { return posts_ > 0; })) {
            return false;
        }
        posts_ = 0;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    int posts_ = 0;
};

// Makes a folder current for its life and then puts the one before back.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path& folder) {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() {
        std::error_code ignored;
        std::filesystem::current_path(before_, ignored);
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    // An earlier model may have made a scene's program folder current that is gone by now.
    static std::filesystem::path Current() {
        std::error_code gone;
        std::filesystem::path current = std::filesystem::current_path(gone);
        return gone ? std::filesystem::temp_directory_path() : current;
    }
    std::filesystem::path before_ = Current();
};

// A program folder with the stand-in tool, a save folder, and a window model over both.
struct Window {
    explicit Window(std::function<void(WindowOptions&)> tune = {}) {
        testsupport::MakeDir(other);
        WindowOptions options;
        options.appDir = scene.appDir;
        if (tune) {
            tune(options);
        }
        model = std::make_unique<WindowModel>(
            view, [this] { poster.Post(); }, std::move(options));
        view.model = model.get();
        model->Show();
    }
    ~Window() { model.reset(); }

    void WriteSave(const std::string& name, int value, const std::string& folder = {}) const {
        WriteFile((folder.empty() ? scene.saves : folder) + "/" + name,
                  ConvertedSave(kSize, static_cast<unsigned>(name[0]), value));
    }
    bool Holds(const std::string& name, int value) const {
        return ReadFile(scene.saves + "/" + name) ==
               ConvertedSave(kSize, static_cast<unsigned>(name[0]), value);
    }
    bool Ran(const std::string& run) const {
        const std::vector<std::string> runs = ReadLines(scene.log);
        return std::find(runs.begin(), runs.end(), run) != runs.end();
    }
    // Nothing in it but the job places, which stay.
    bool WorkFolderEmpty() const {
        return testsupport::LeftInWorkFolder(scene.appDir + "Decrypt/temp").empty();
    }

    // Runs the window's thread (wake-ups, and the pace timer at once) until done holds.
    bool RunUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + kTimeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            if (poster.Take(std::chrono::milliseconds(5))) {
                model->Posted();
            }
            model->PaceElapsed();
        }
        return true;
    }
    bool RunUntilEnded(WindowView::Work work) {
        const std::size_t before = view.EndedCount(work);
        return RunUntil([&] { return view.EndedCount(work) > before; });
    }
    // Lists the save folder through the open button and waits for its versions.
    void ListAndRead(const std::string& folder = {}) {
        view.folders.push_back(folder.empty() ? scene.saves : folder);
        model->OpenClicked();
        ASSERT_TRUE(RunUntilEnded(WindowView::Work::Reading));
    }
    void Convert(const std::string& label) {
        model->VersionChosen(label);
        model->SaveClicked();
    }

    testsupport::BatchScene scene;
    std::string other = scene.root / "other";
    FakeView view;
    Poster poster;
    std::unique_ptr<WindowModel> model;
};

} // namespace

TEST(WindowModel, StartsIdleWithNothingListed) {
    Window window;
    EXPECT_EQ(window.view.caption, "Ostrapel by Penmorrow");
    const WindowControls& controls = window.view.controls;
    EXPECT_TRUE(controls.open);
    EXPECT_TRUE(controls.combo);
    EXPECT_FALSE(controls.save);
    EXPECT_EQ(controls.saveText, "&Apply and Save");
    EXPECT_FALSE(controls.busy);
    EXPECT_TRUE(controls.folders);
    EXPECT_EQ(window.view.listCaption.prefix, "&File List");
    EXPECT_EQ(window.view.listCaption.name, "");
    EXPECT_EQ(window.view.listCaption.tooltip, "");
    EXPECT_EQ(window.view.value, "400");
    EXPECT_TRUE(window.view.rows.empty());
    EXPECT_EQ(WindowModel::VersionLabels().front(), "0.00");
}

TEST(WindowModel, StartupNoticeNamesWhatIsMissing) {
    Window ready;
    EXPECT_EQ(ready.model->StartupNotice(), "");

    testsupport::TempDir root;
    const std::string appDir = testsupport::MakeProgramFolder(root, false);
    FakeView view;
    WindowModel noTool(view, [] {}, {.appDir = appDir});
    EXPECT_EQ(noTool.StartupNotice(), "Cipher tool not found: " + CipherToolOf(appDir) +
                                          "\n\nPut decrypt.exe there before converting saves.");
    WindowModel noFolder(view, [] {}, {});
    EXPECT_EQ(noFolder.StartupNotice(), kNoProgramFolder);
#ifndef _WIN32
    // A Windows program as the tool, and no Wine anywhere.
    std::string pe(256, '\0');
    pe.replace(0, 2, "MZ");
    pe[0x3C] = 0x40;
    pe.replace(0x40, 4, std::string("PE\0\0", 4));
    WriteFile(CipherToolOf(appDir), pe);
    ScopedEnv path("PATH", root / "nowhere");
    ScopedEnv wine("WINE", "");
    EXPECT_EQ(noTool.StartupNotice(), kWineMissing);
    ScopedEnv found("WINE", "/bin/true");
    EXPECT_EQ(noTool.StartupNotice(), "");
#endif
}

// Without a known program folder nothing runs relative to wherever the window was started, and
// no work folder there is emptied.
TEST(WindowModel, WithoutAProgramFolderTheBatchIsRefused) {
    Window window([](WindowOptions& options) { options.appDir.clear(); });
    // Where a relative "Decrypt" would lead.
    CurrentFolder current(testsupport::Native(window.scene.appDir));
    window.WriteSave("a.sav", 100);
    const std::string keep = window.scene.appDir + "Decrypt/temp/keep.sav";
    WriteFile(keep, "someone else's");
    window.view.folders.push_back(window.scene.saves);
    window.model->OpenClicked();
    EXPECT_FALSE(window.model->ReadingVersions());
    window.Convert("2.00");
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    ASSERT_EQ(window.view.reports.size(), 1u);
    EXPECT_NE(window.view.reports[0].box.text.find(kNoProgramFolder), std::string::npos);
    EXPECT_TRUE(window.view.reports[0].warning);
    EXPECT_FALSE(testsupport::Exists(window.scene.log));
    EXPECT_EQ(ReadFile(keep), "someone else's");
    EXPECT_TRUE(window.Holds("a.sav", 100));
    EXPECT_TRUE(window.model->CloseRequested());
    EXPECT_EQ(ReadFile(keep), "someone else's");
}

// Apply needs a version and a listed folder, an empty one too; after a cancelled browser it is
// disabled and does nothing, rather than report on a folder with no name.
TEST(WindowModel, ApplyNeedsAChosenVersionAndAListedFolder) {
    Window window;
    window.model->VersionChosen("2.0");
    EXPECT_FALSE(window.view.controls.save);
    EXPECT_EQ(window.view.value, "400");
    window.model->VersionChosen("2.00");
    EXPECT_EQ(window.view.value, "200");
    window.view.folders.push_back(window.other); // empty
    window.model->OpenClicked();
    EXPECT_TRUE(window.view.controls.save);

    window.model->OpenClicked(); // cancelled
    EXPECT_FALSE(window.view.controls.save);
    window.model->SaveClicked();
    EXPECT_FALSE(window.model->BatchRunning());
    EXPECT_TRUE(window.view.reports.empty());

    window.view.folders.push_back(window.other);
    window.model->OpenClicked();
    EXPECT_TRUE(window.view.controls.save);
    window.model->SaveClicked();
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    ASSERT_EQ(window.view.reports.size(), 1u);
    EXPECT_EQ(window.view.reports[0].box.text.rfind("Changed versions DLC in 0 files\n", 0), 0u);
    EXPECT_EQ(window.view.reports[0].controls.save, true);
}

TEST(WindowModel, ListsSelectsTheFirstAndReadsTheVersions) {
    Window window;
    window.WriteSave("zero.sav", 0);
    window.WriteSave("one.sav", 100);
    window.WriteSave("odd.sav", 250);
    WriteFile(window.scene.saves + "/plain.sav", "not enciphered");

    // The program folder is made current on every open; the cipher tool inherits it.
    CurrentFolder elsewhere(std::filesystem::temp_directory_path());
    window.ListAndRead(window.scene.saves + kPathSeparator);
    EXPECT_EQ(KindOf(std::string("Decrypt") + kPathSeparator + "decrypt.exe"), EntryKind::File);
    EXPECT_EQ(window.model->Folder(), window.scene.saves);
    EXPECT_EQ(window.view.Names(),
              (std::vector<std::string>{"odd.sav", "one.sav", "plain.sav", "zero.sav"}));
    EXPECT_EQ(window.view.selects, std::vector<std::size_t>{0});
    EXPECT_EQ(
        window.view.Versions(),
        (std::map<std::string, std::string>{
            {"odd.sav", "250"}, {"one.sav", "1.00"}, {"plain.sav", "?"}, {"zero.sav", "0.00"}}));
    EXPECT_EQ(window.view.rows[1].tooltip, "one.sav: 1.00");
    EXPECT_EQ(
        window.view.rows[2].tooltip,
        "plain.sav: not read (cipher tool failed (exit code 65): plain.sav is not enciphered)");
    // A screen reader hears the name and the version, and why it was not read.
    EXPECT_EQ(window.view.rows[1].accessibleName, "one.sav, 1.00");
    EXPECT_EQ(window.view.rows[1].description, "");
    EXPECT_EQ(window.view.rows[2].accessibleName, "plain.sav, not read");
    EXPECT_EQ(window.view.rows[2].description,
              "cipher tool failed (exit code 65): plain.sav is not enciphered");
    EXPECT_EQ(window.view.listFolder, window.scene.saves);
    EXPECT_EQ(window.view.rows, window.model->Rows());
    EXPECT_FALSE(window.model->ReadingVersions());
    EXPECT_TRUE(window.Holds("one.sav", 100));
    EXPECT_TRUE(window.WorkFolderEmpty());

    // Cancelling the browser empties the list and forgets the folder.
    window.model->OpenClicked();
    EXPECT_EQ(window.view.chooserCalls, 2);
    EXPECT_TRUE(window.view.rows.empty());
    EXPECT_TRUE(window.model->Folder().empty());
    EXPECT_EQ(window.view.listFolder, "");
    EXPECT_FALSE(window.model->RestoreMenu().front().enabled);
}

// Files beside the saves that the tool will not decipher are told apart from a fault of the
// run: one group with the tool's words, the "?" in the list, and no warning.
TEST(WindowModel, FilesTheToolRefusesAreReportedAsNoSaves) {
    Window window;
    window.WriteSave("a.sav", 100);
    WriteFile(window.scene.saves + "/shot.png", "a picture");
    WriteFile(window.scene.saves + "/config.ini", "[game]");
    window.ListAndRead();
    EXPECT_EQ(window.view.Versions(),
              (std::map<std::string, std::string>{
                  {"a.sav", "1.00"}, {"config.ini", "?"}, {"shot.png", "?"}}));
    window.Convert("2.00");
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    ASSERT_EQ(window.view.reports.size(), 1u);
    const FakeView::Report& report = window.view.reports[0];
    EXPECT_FALSE(report.warning);
    EXPECT_NE(report.box.text.find("\n\nNot changed:\n"
                                   "2 files: not read as saves: the cipher tool refused them\n"
                                   "    The tool said: \"config.ini is not enciphered\"\n"
                                   "    config.ini, shot.png\n"),
              std::string::npos)
        << report.box.text;
    EXPECT_TRUE(window.Holds("a.sav", 200));
}

TEST(WindowModel, NothingIsReadWithoutTheCipherTool) {
    Window window;
    std::filesystem::remove(testsupport::Native(CipherToolOf(window.scene.appDir)));
    window.WriteSave("a.sav", 100);
    window.view.folders.push_back(window.scene.saves);
    window.model->OpenClicked();
    EXPECT_FALSE(window.model->ReadingVersions());
    ASSERT_EQ(window.view.rows.size(), 1u);
    EXPECT_EQ(window.view.rows[0], (ListRow{"a.sav", "a.sav", "", "a.sav", "a.sav", ""}));
}

// The saves deciphered to read their versions are not deciphered again by the batch; listing
// another folder drops them.
TEST(WindowModel, TheBatchDeciphersNoSaveTheReadingDidAndAnotherFolderDropsThem) {
    Window window;
    window.WriteSave("a.sav", 100);
    window.WriteSave("b.sav", 100);
    window.WriteSave("c.sav", 100, window.other);
    window.ListAndRead();
    WriteFile(window.scene.log, "");
    window.Convert("2.00");
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    EXPECT_TRUE(window.Holds("a.sav", 200) && window.Holds("b.sav", 200));
    // The witness (the kept plain form enciphered back to the save), the encipher and its proof's
    // decipher, no more: with the reading, four runs a save.
    std::vector<std::string> runs = ReadLines(window.scene.log);
    std::sort(runs.begin(), runs.end());
    EXPECT_EQ(runs, (std::vector<std::string>{"decrypt a.sav", "decrypt b.sav", "encrypt a.sav",
                                              "encrypt a.sav", "encrypt b.sav", "encrypt b.sav"}));

    window.ListAndRead(window.other);
    WriteFile(window.scene.log, "");
    window.ListAndRead();
    EXPECT_EQ(window.view.Versions(),
              (std::map<std::string, std::string>{{"a.sav", "2.00"}, {"b.sav", "2.00"}}));
    EXPECT_TRUE(window.Ran("decrypt a.sav") && window.Ran("decrypt b.sav"));
}

// Versions read with a tool that deciphers wrongly, then applied once the right tool is in
// place: nothing the first tool deciphered reaches a save, with one job or several.
TEST(WindowModel, ApplyingWithAnotherToolUsesNothingTheFirstDeciphered) {
    for (std::size_t jobs : {1u, 4u}) {
        SCOPED_TRACE(jobs);
        Window window([jobs](WindowOptions& options) { options.jobs = jobs; });
        window.WriteSave("a.sav", 100);
        window.WriteSave("b.sav", 300);
        {
            ScopedEnv wrong("STAND_IN_CIPHER_FAULTS", "decrypt:corrupt:*");
            window.ListAndRead();
        }
        const std::filesystem::path tool =
            testsupport::Native(window.scene.appDir + "Decrypt/decrypt.exe");
        std::filesystem::remove(tool);
        std::filesystem::copy_file(testsupport::Native(testsupport::StandInToolPath()), tool);
        window.Convert("2.00");
        ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
        EXPECT_TRUE(window.Holds("a.sav", 200));
        EXPECT_TRUE(window.Holds("b.sav", 200));
    }
}

// A wrong tool passes every proof: when most saves read as no known version, Apply asks first,
// No the default, and converts only on Yes; a few such saves ask nothing.
TEST(WindowModel, ApplyAsksFirstWhenMostSavesReadAsNoKnownVersion) {
    const struct {
        const char* mode; // the tool while reading and converting
        bool answer;
        bool asks;
        bool converts;
    } cases[] = {
        {"xor", false, true, false},
        {"xor", true, true, true},
        {"", false, false, true}, // one save of three reads 2.50
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + (c.answer ? " yes" : " no"));
        Window window;
        window.WriteSave("a.sav", 100);
        window.WriteSave("b.sav", 250);
        window.WriteSave("c.sav", 300);
        const std::string before = ReadFile(window.scene.saves + "/a.sav");
        ScopedEnv mode("STAND_IN_CIPHER_MODE", c.mode);
        window.ListAndRead();
        window.view.answer = c.answer;
        window.Convert("2.00");
        if (c.converts) {
            ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
        }
        ASSERT_EQ(window.view.asked.size(), c.asks ? 1u : 0u);
        if (c.asks) {
            EXPECT_EQ(window.view.asked[0],
                      "3 of 3 saves read as no known version: the cipher tool may not be the one "
                      "for these saves. Convert them all the same?");
        }
        EXPECT_EQ(ReadFile(window.scene.saves + "/a.sav") != before, c.converts);
        EXPECT_EQ(window.view.reports.size(), c.converts ? 1u : 0u);
    }
}

// A tool sound alone that keeps one fixed scratch file, beside itself, in its working folder or
// in the temporary folder, reads and converts every save from its own data with several jobs.
TEST(WindowModel, AToolWithOneScratchFileGivesEverySaveItsOwnDataWithSeveralJobs) {
    for (const char* place : {"beside", "folder", "temp"}) {
        SCOPED_TRACE(place);
        ScopedEnv scratch("STAND_IN_CIPHER_SCRATCH", place);
        ScopedEnv pause("STAND_IN_CIPHER_SCRATCH_MS", "30");
        Window window([](WindowOptions& options) { options.jobs = 4; });
        const std::vector<std::string> names{"a.sav", "b.sav", "c.sav", "d.sav", "e.sav", "f.sav"};
        for (std::size_t i = 0; i < names.size(); ++i) {
            window.WriteSave(names[i], i % 2 == 0 ? 100 : 300);
        }
        window.ListAndRead();
        window.Convert("2.00");
        ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
        for (const std::string& name : names) {
            EXPECT_TRUE(window.Holds(name, 200)) << name;
        }
        EXPECT_TRUE(window.WorkFolderEmpty());
    }
}

// The rows in view are read first, also when they come into view during the reading.
TEST(WindowModel, RowsInViewAreReadFirst) {
    Window window([](WindowOptions& options) { options.jobs = 1; });
    for (const char* name : {"a.sav", "b.sav", "c.sav", "d.sav", "e.sav", "f.sav"}) {
        window.WriteSave(name, 100);
    }
    for (const char* name : {"u.sav", "v.sav", "w.sav", "x.sav", "y.sav", "z.sav"}) {
        window.WriteSave(name, 100, window.other);
    }
    window.model->RowsInView(4, 2);
    window.ListAndRead();
    const std::vector<std::string> runs = ReadLines(window.scene.log);
    ASSERT_EQ(runs.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(runs.begin(), runs.begin() + 3),
              (std::vector<std::string>{"decrypt e.sav", "decrypt f.sav", "decrypt a.sav"}));

    WriteFile(window.scene.log, "");
    // Long enough for the rows in view to change before the next is taken.
    ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "decrypt:sleep=3000:v.sav");
    window.model->RowsInView(0, 2);
    window.view.folders.push_back(window.other);
    window.model->OpenClicked();
    ASSERT_TRUE(window.RunUntil([&] { return window.Ran("decrypt v.sav"); }));
    window.model->RowsInView(4, 2);
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Reading));
    const std::vector<std::string> later = ReadLines(window.scene.log);
    const auto at = [&](const std::string& run) {
        return std::find(later.begin(), later.end(), run) - later.begin();
    };
    EXPECT_LT(at("decrypt z.sav"), at("decrypt x.sav"));
    EXPECT_LT(at("decrypt y.sav"), at("decrypt x.sav"));
    for (const auto& [name, version] : window.view.Versions()) {
        EXPECT_EQ(version, "1.00") << name;
    }
}

// Another folder stops the reading of the first; so does a batch, which still gets the work
// folder.
TEST(WindowModel, ReadingStopsForAnotherFolderAndForABatch) {
    Window window;
    window.WriteSave("a.sav", 100);
    window.WriteSave("b.sav", 100);
    window.WriteSave("c.sav", 300, window.other);
    std::optional<ScopedEnv> hang(std::in_place, "STAND_IN_CIPHER_FAULTS",
                                  "decrypt:hang=20000:a.sav");

    window.view.folders.push_back(window.scene.saves);
    window.model->OpenClicked();
    ASSERT_TRUE(window.RunUntil([&] { return window.Ran("decrypt a.sav"); }));
    EXPECT_TRUE(window.model->ReadingVersions());
    EXPECT_TRUE(window.model->OpenFolder(window.other));
    EXPECT_EQ(window.view.Names(), std::vector<std::string>{"c.sav"});
    EXPECT_EQ(window.view.remembered, std::vector<std::string>{window.other});
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Reading));
    EXPECT_EQ(window.view.Versions(), (std::map<std::string, std::string>{{"c.sav", "3.00"}}));
    EXPECT_EQ(window.view.EndedCount(WindowView::Work::Reading), 1u);

    WriteFile(window.scene.log, "");
    window.view.folders.push_back(window.scene.saves);
    window.model->OpenClicked();
    ASSERT_TRUE(window.RunUntil([&] { return window.Ran("decrypt a.sav"); }));
    hang.reset();
    window.Convert("2.00");
    EXPECT_FALSE(window.model->ReadingVersions());
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    ASSERT_EQ(window.view.reports.size(), 1u);
    EXPECT_EQ(window.view.reports[0].box.text.rfind("Changed versions DLC in 2 files\n\n", 0), 0u)
        << window.view.reports[0].box.text << "\n"
        << window.view.reports[0].box.details;
    EXPECT_FALSE(window.view.reports[0].warning);
    // The batch shows the versions it set.
    EXPECT_EQ(window.view.Versions(),
              (std::map<std::string, std::string>{{"a.sav", "2.00"}, {"b.sav", "2.00"}}));
}

// While a batch runs the controls are locked but the save button, which cancels; nothing else
// reaches it. Its report shows once the batch has ended: the controls back, "Apply and Save"
// on the button, the captions as before.
TEST(WindowModel, ABatchLocksTheWindowAndEndsBeforeItsReportShows) {
    Window window;
    window.WriteSave("a.sav", 100);
    window.WriteSave("b.sav", 100);
    window.ListAndRead();
    ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "encrypt:sleep=3000:a.sav");

    window.Convert("3.00");
    const WindowControls locked{.open = false,
                                .combo = false,
                                .save = true,
                                .saveText = "&Cancel",
                                .busy = true,
                                .folders = false};
    EXPECT_EQ(window.view.controls, locked);
    EXPECT_TRUE(window.model->BatchRunning());
    window.model->OpenClicked();
    EXPECT_FALSE(window.model->OpenFolder(window.other));
    EXPECT_FALSE(window.model->FolderDropped(window.other));
    window.model->VersionChosen("1.00");
    window.model->RestoreChosen();
    EXPECT_EQ(window.view.chooserCalls, 1);
    EXPECT_EQ(window.view.value, "300");
    EXPECT_FALSE(window.model->RestoreMenu().front().enabled);
    EXPECT_FALSE(window.model->CloseRequested()); // asked, and declined
    EXPECT_EQ(window.view.asked.size(), 1u);
    EXPECT_EQ(window.view.controls, locked);

    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    ASSERT_EQ(window.view.reports.size(), 1u);
    const FakeView::Report& report = window.view.reports[0];
    EXPECT_EQ(report.kind, ReportBox::Kind::Batch);
    const WindowControls idle{.save = true};
    EXPECT_EQ(report.controls, idle);
    EXPECT_EQ(report.caption, "Ostrapel by Penmorrow");
    EXPECT_EQ(report.listCaption.prefix, "&File List: ");
    EXPECT_EQ(report.listCaption.total, 0u);
    EXPECT_FALSE(window.view.closed);
    EXPECT_TRUE(window.Holds("a.sav", 300) && window.Holds("b.sav", 300));
    EXPECT_TRUE(window.WorkFolderEmpty());
    EXPECT_TRUE(window.model->RestoreMenu().front().enabled);
}

// The save button and Esc cancel in the decipher pass and in the encipher pass: the tool run
// is ended and every save stays as it was.
TEST(WindowModel, CancelByButtonOrEscInEitherPass) {
    struct Case {
        const char* fault;
        bool escape;
    };
    for (const Case& c :
         {Case{"decrypt:hang=20000:b.sav", false}, Case{"encrypt:hang=20000:b.sav", true},
          Case{"decrypt:hang=20000:b.sav", true}, Case{"encrypt:hang=20000:b.sav", false}}) {
        SCOPED_TRACE(c.fault + std::string(c.escape ? " Esc" : " button"));
        Window window([](WindowOptions& options) { options.jobs = 1; }); // c.sav waits for b.sav
        for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
            window.WriteSave(name, 100);
        }
        window.ListAndRead();
        // New bytes, so the batch deciphers them again rather than take the reading's.
        WriteFile(window.scene.log, "");
        for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
            window.WriteSave(name, 200);
        }
        ScopedEnv hang("STAND_IN_CIPHER_FAULTS", c.fault);

        window.Convert("3.00");
        const std::string hanging = std::string(c.fault).substr(0, 7) + " b.sav";
        // One count over the four passes; a hung encipher is the witness's, in the second.
        const std::string progress = c.fault[0] == 'd' ? "Reading 2 of 12: " : "Checking 5 of 12: ";
        ASSERT_TRUE(window.RunUntil(
            [&] { return window.Ran(hanging) && window.view.listCaption.prefix == progress; }));
        EXPECT_EQ(window.view.listCaption.name, "b.sav");
        EXPECT_EQ(window.view.listCaption.tooltip, progress + "b.sav");
        // The highlight where the batch's progress over its passes has got to.
        EXPECT_EQ(window.view.selected, c.fault[0] == 'd' ? 0u : 1u);
        EXPECT_EQ(window.Ran("encrypt a.sav"), c.fault[0] == 'e'); // in the pass of the fault
        if (c.escape) {
            window.model->CancelPressed();
        } else {
            window.model->SaveClicked();
        }
        ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));

        ASSERT_EQ(window.view.reports.size(), 1u);
        const std::string& text = window.view.reports[0].box.text;
        EXPECT_EQ(text.rfind("Changed versions DLC in 0 files", 0), 0u) << text;
        // One line for the cancel, no group of the saves it left.
        EXPECT_EQ(text, "Changed versions DLC in 0 files\n\nCancelled before any save was "
                        "replaced; every save is as it was");
        EXPECT_TRUE(window.view.reports[0].warning);
        for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
            EXPECT_TRUE(window.Holds(name, 200)) << name;
        }
        EXPECT_TRUE(window.WorkFolderEmpty());
        EXPECT_EQ(window.view.listCaption.prefix, "&File List: ");
        EXPECT_EQ(window.view.controls.saveText, "&Apply and Save");
    }
}

// Closing during a batch asks; yes cancels it and closes once its report has been seen, no
// lets it finish and keeps the window. Closing when idle closes at once and clears the work
// folder.
TEST(WindowModel, ClosingDuringABatchAsksWhetherToCancel) {
    for (bool answer : {true, false}) {
        SCOPED_TRACE(answer ? "yes" : "no");
        Window window;
        window.WriteSave("a.sav", 100);
        window.WriteSave("b.sav", 100);
        window.ListAndRead();
        ScopedEnv hang("STAND_IN_CIPHER_FAULTS",
                       answer ? "encrypt:hang=20000:a.sav" : "encrypt:sleep=3000:a.sav");
        window.Convert("2.00");
        ASSERT_TRUE(window.RunUntil([&] { return window.Ran("encrypt a.sav"); }));

        window.view.answer = answer;
        EXPECT_FALSE(window.model->CloseRequested());
        EXPECT_EQ(window.view.asked.size(), 1u);
        EXPECT_EQ(window.view.asked[0], "A conversion is running. Cancel it and close the "
                                        "window?\n\nSaves not yet replaced stay as they were.");
        if (!answer) { // a cancelled batch may already have ended and emptied it itself
            EXPECT_FALSE(window.WorkFolderEmpty()); // not cleared under the batch
        }
        // Asked again, or closing once the batch has been cancelled.
        EXPECT_FALSE(window.model->CloseRequested());
        EXPECT_EQ(window.view.asked.size(), answer ? 1u : 2u);
        ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));

        ASSERT_EQ(window.view.reports.size(), 1u);
        EXPECT_EQ(window.view.reports[0].box.text.find("\nCancelled") != std::string::npos, answer);
        EXPECT_EQ(window.view.closed, answer);
        EXPECT_EQ(window.view.closeAccepted, answer);
        EXPECT_EQ(window.Holds("a.sav", 100) && window.Holds("b.sav", 100), answer);
        EXPECT_EQ(window.Holds("a.sav", 200) && window.Holds("b.sav", 200), !answer);
        EXPECT_TRUE(window.WorkFolderEmpty());
    }

    Window idle;
    WriteFile(idle.scene.appDir + "Decrypt/temp/left.sav", "left");
    EXPECT_TRUE(idle.model->CloseRequested());
    EXPECT_TRUE(idle.WorkFolderEmpty());
    EXPECT_TRUE(idle.view.asked.empty());
}

// A restore locks the window as a batch does; closing meanwhile waits for it without asking.
// Its report shows once it has ended; then the versions are read again.
TEST(WindowModel, RestoreUndoesTheLastBatchThenReadsAgain) {
    for (bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closed meanwhile" : "kept open");
        Window window;
        window.WriteSave("a.sav", 100);
        window.WriteSave("b.sav", 300);
        window.ListAndRead();
        EXPECT_FALSE(window.model->RestoreMenu().front().enabled);
        EXPECT_EQ(window.model->RestoreMenu().front().text, kNothingToRestore);
        window.Convert("2.00");
        ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
        EXPECT_TRUE(window.model->RestoreMenu().front().enabled);

        window.model->RestoreChosen();
        EXPECT_TRUE(window.model->RestoreRunning());
        EXPECT_EQ(window.view.controls, (WindowControls{.open = false,
                                                        .combo = false,
                                                        .save = false,
                                                        .saveText = kApplyText,
                                                        .busy = true,
                                                        .folders = false}));
        EXPECT_FALSE(window.model->RestoreMenu().front().enabled);
        window.model->SaveClicked(); // nothing to cancel
        if (closing) {
            WriteFile(window.scene.appDir + "Decrypt/temp/left.sav", "left");
            EXPECT_FALSE(window.model->CloseRequested());
        }
        ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Restore));

        ASSERT_EQ(window.view.reports.size(), 2u);
        const FakeView::Report& report = window.view.reports[1];
        EXPECT_EQ(report.kind, ReportBox::Kind::Restore);
        EXPECT_EQ(report.box.text.rfind("Restored 2 files as they were before 2", 0), 0u)
            << report.box.text;
        EXPECT_NE(report.box.text.find("\nBack to versions 1.00, 3.00."), std::string::npos)
            << report.box.text;
        EXPECT_FALSE(report.warning);
        EXPECT_EQ(report.controls, WindowControls{.save = true});
        EXPECT_TRUE(window.view.asked.empty());
        EXPECT_EQ(window.view.closed, closing);
        EXPECT_EQ(window.view.closeAccepted, closing); // as the user's close
        EXPECT_TRUE(window.Holds("a.sav", 100) && window.Holds("b.sav", 300));
        if (closing) {
            EXPECT_TRUE(window.WorkFolderEmpty());
        } else {
            // The versions are read again, in work copies, until the reading ends.
            ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Reading));
            EXPECT_TRUE(window.WorkFolderEmpty());
            EXPECT_EQ(window.view.Versions(),
                      (std::map<std::string, std::string>{{"a.sav", "1.00"}, {"b.sav", "3.00"}}));
            EXPECT_FALSE(window.model->RestoreMenu().front().enabled);
        }
    }
}

// The menu offers every conversion not undone, newest first. Choosing the older asks first,
// naming what comes back and what the game wrote since; "no" leaves all as it is, "yes" undoes
// the newer conversion too, and the box says back to when.
TEST(WindowModel, RestoreBackToAChosenConversionAsksFirst) {
    Window window;
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        window.WriteSave(name, 100);
    }
    window.ListAndRead();
    window.Convert("2.00");
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    window.WriteSave("c.sav", 400); // the game wrote it since
    window.Convert("3.00");
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));

    const std::vector<RestoreMenuItem> menu = window.model->RestoreMenu();
    ASSERT_EQ(menu.size(), 2u);
    // Named by the versions they give back, not the ones they set.
    EXPECT_EQ(menu[0].text,
              "&1 Back to versions 2.00, 4.00, as before " + menu[0].when + " (3 saves)");
    EXPECT_EQ(menu[1].text, "&2 Back to 1.00, as before " + menu[1].when + " (3 saves)");
    const std::string question = "Restore the saves to 1.00, as they were before " + menu[1].when +
                                 "?\n\n2 saves get their originals back: a.sav, b.sav\n\n"
                                 "1 save was written since and is left as it is: c.sav\n\n"
                                 "The later conversion is undone too.";

    window.view.answer = false;
    window.model->RestoreChosen(1);
    EXPECT_EQ(window.view.asked, std::vector<std::string>{question});
    EXPECT_FALSE(window.model->RestoreRunning());
    EXPECT_TRUE(window.Holds("a.sav", 300) && window.Holds("c.sav", 300));

    window.view.answer = true;
    window.model->RestoreChosen(1);
    EXPECT_EQ(window.view.asked.size(), 2u);
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Restore));
    EXPECT_TRUE(window.Holds("a.sav", 100) && window.Holds("b.sav", 100));
    EXPECT_TRUE(window.Holds("c.sav", 400));
    ASSERT_EQ(window.view.reports.size(), 3u);
    const std::string& restored = window.view.reports[2].box.text;
    EXPECT_EQ(restored.substr(0, restored.find("\n\n")),
              "Restored 2 files as they were before " + menu[1].when + "\nBack to 1.00.");
    EXPECT_TRUE(window.view.reports[2].warning);
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Reading));
    EXPECT_EQ(window.model->RestoreMenu().front().text, kNothingToRestore);
}

TEST(WindowModel, ADropListsTheFolderOrTheFilesFolder) {
    Window window;
    window.WriteSave("a.sav", 400);
    struct Case {
        std::string dropped;
        bool taken;
        std::string folder;
    };
    const std::string saves = window.scene.saves;
    for (const Case& c :
         {Case{JoinPath(saves, "a.sav"), true, saves}, Case{saves + kPathSeparator, true, saves},
          Case{window.scene.root / "missing", false, saves}, Case{"", false, saves},
          Case{window.other, true, window.other}}) {
        SCOPED_TRACE(c.dropped);
        EXPECT_EQ(window.model->FolderDropped(c.dropped), c.taken);
        EXPECT_EQ(window.model->Folder(), c.folder);
        if (c.taken) {
            EXPECT_EQ(window.view.remembered.back(), c.folder);
        }
    }
    EXPECT_EQ(window.view.chooserCalls, 0);
    EXPECT_TRUE(window.view.rows.empty()); // the other folder is empty
}

// Moves that pile up between two looks are shown as the last of them; after a move is shown
// the next waits for the pace timer.
TEST(WindowModel, ProgressShowsTheLastMoveAtMostOncePerPace) {
    std::mutex mutex;
    std::condition_variable changed;
    int reached = 0;
    int released = 0;
    const auto step = [&](int n) {
        std::unique_lock lock(mutex);
        reached = n;
        changed.notify_all();
        changed.wait(lock, [&] { return released >= n; });
    };
    Window window([&](WindowOptions& options) {
        options.readVersions = [](const BatchRequest& request, Scn_Process&,
                                  BatchObserver* observer) {
            FileOutcome read;
            read.oldValue = 100;
            for (std::size_t i = 0; i < request.names.size(); ++i) {
                observer->fileFinished(i, read);
            }
            return BatchResult{};
        };
        options.convert = [&](const BatchRequest& request, Scn_Process&, BatchObserver* observer) {
            for (std::size_t i : {0u, 1u, 2u}) {
                observer->cursorMoved(i);
            }
            // An outcome of the batch is not a version read: the rows change at its end.
            FileOutcome failed;
            failed.oldValue = 300;
            observer->fileFinished(1, failed);
            step(1);
            observer->cursorMoved(0);
            step(2);
            BatchResult result;
            result.files.resize(request.names.size());
            return result;
        };
    });
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        window.WriteSave(name, 100);
    }
    window.ListAndRead();
    window.view.selects.clear();
    const auto waitFor = [&](int n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kTimeout, [&] { return reached == n; });
    };
    const auto release = [&](int n) {
        std::lock_guard lock(mutex);
        released = n;
        changed.notify_all();
    };

    window.model->SaveClicked();
    ASSERT_TRUE(waitFor(1));
    ASSERT_TRUE(window.poster.Take(std::chrono::milliseconds(0)));
    window.model->Posted();
    EXPECT_EQ(window.view.selects, std::vector<std::size_t>{2});
    EXPECT_EQ(window.view.listCaption.tooltip, "Reading 3 of 3: c.sav");
    EXPECT_EQ(window.view.paceTimers, 1);

    release(1);
    ASSERT_TRUE(waitFor(2));
    EXPECT_FALSE(window.poster.Take(std::chrono::milliseconds(0))); // waits for the timer
    window.model->PaceElapsed();
    // Shown again, the highlight where the batch's progress has got to.
    EXPECT_EQ(window.view.selects, (std::vector<std::size_t>{2, 2}));
    EXPECT_EQ(window.view.listCaption.name, "a.sav");
    EXPECT_EQ(window.view.paceTimers, 2);
    window.model->PaceElapsed(); // nothing new
    EXPECT_EQ(window.view.selects.size(), 2u);

    release(2);
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    EXPECT_EQ(window.view.listCaption.tooltip, "File List: " + window.scene.saves);
    EXPECT_EQ(window.view.rows[1].version, "1.00");
}

#ifndef _WIN32
// The first use of a Wine prefix takes a while: the caption says so while the batch runs.
TEST(WindowModel, TheCaptionSaysWhenWineIsSettingUp) {
    Window window;
    window.WriteSave("a.sav", 100);
    std::string pe(256, '\0');
    pe.replace(0, 2, "MZ");
    pe[0x3C] = 0x40;
    pe.replace(0x40, 4, std::string("PE\0\0", 4));
    WriteFile(CipherToolOf(window.scene.appDir), pe);
    // A Wine that takes its time and then starts nothing.
    const std::string wine = window.scene.root / "wine";
    WriteFile(wine, "#!/bin/sh\nsleep 0.3\nexit 1\n");
    std::filesystem::permissions(wine, std::filesystem::perms::owner_all);
    ScopedEnv wineEnv("WINE", wine);
    ScopedEnv prefix("WINEPREFIX", window.scene.root / "new prefix");
    window.ListAndRead();

    window.Convert("1.00");
    EXPECT_EQ(window.view.caption,
              "Ostrapel by Penmorrow - Wine is setting up for its first use...");
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    EXPECT_EQ(window.view.caption, "Ostrapel by Penmorrow");
    EXPECT_EQ(window.view.reports.at(0).caption, "Ostrapel by Penmorrow");
    EXPECT_NE(window.view.reports[0].box.text.find("cipher tool could not be started"),
              std::string::npos);
    EXPECT_TRUE(window.view.reports[0].warning);
}
#endif

// The caption counts once over the passes, names the pass, and never goes back, not even for an
// entry tried again; a screen reader hears it no more often than announcePace.
TEST(WindowModel, ProgressCountsOnceOverThePassesAndNeverBack) {
    Window window([](WindowOptions& options) {
        options.announcePace = std::chrono::hours(1);
        options.readVersions = [](const BatchRequest&, Scn_Process&, BatchObserver*) {
            return BatchResult{};
        };
        options.convert = [](const BatchRequest& request, Scn_Process&, BatchObserver* observer) {
            for (std::size_t pass = 0; pass < 4; ++pass) {
                observer->passStarted(pass, 4);
                for (std::size_t i : {0u, 1u, 2u, 1u}) { // b.sav tried again alone
                    observer->cursorMoved(i);
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
            BatchResult result;
            result.files.resize(request.names.size());
            return result;
        };
    });
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        window.WriteSave(name, 100);
    }
    window.ListAndRead();
    window.view.listCaptions.clear();
    window.view.selects.clear();
    window.Convert("2.00");
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));

    std::vector<ListCaption> progress;
    for (const ListCaption& caption : window.view.listCaptions) {
        if (caption.total > 0) {
            progress.push_back(caption);
        }
    }
    ASSERT_FALSE(progress.empty());
    std::size_t done = 0;
    for (const ListCaption& caption : progress) {
        EXPECT_GE(caption.done, done) << caption.tooltip;
        done = caption.done;
        EXPECT_EQ(caption.total, 12u);
        EXPECT_EQ(caption.accessibleName, progress.front().tooltip);
    }
    EXPECT_EQ(progress.back().prefix, "Replacing 12 of 12: ");
    EXPECT_EQ(progress.back().name, "b.sav");
    // The highlight walks down once over the whole batch, never back at a pass.
    ASSERT_FALSE(window.view.selects.empty());
    EXPECT_TRUE(std::is_sorted(window.view.selects.begin(), window.view.selects.end()))
        << ::testing::PrintToString(window.view.selects);
    EXPECT_EQ(window.view.selects.back(), 2u);
    // In a narrow frame the name goes first, then the steps for the saves, then the pass's
    // name.
    for (const auto& [room, prefix] :
         {std::pair{18, "Replacing 12 of 12"}, std::pair{16, "Replacing 3 of 3"},
          std::pair{15, "3 of 3"}}) {
        window.model->MeasureText({.captionRoom = room});
        window.view.listCaptions.clear();
        window.Convert("3.00");
        ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
        EXPECT_EQ(window.view.listCaptions.at(window.view.listCaptions.size() - 2).prefix, prefix)
            << room;
    }
    EXPECT_EQ(window.view.listCaption.total, 0u); // the folder again once it has ended
}

// A batch's caption names the save at work only with what tells it apart and one of its ends.
TEST(WindowModel, ProgressCaptionKeepsANameOnlyWithOneOfItsEnds) {
    Window window([](WindowOptions& options) {
        options.convert = [](const BatchRequest& request, Scn_Process&, BatchObserver* observer) {
            observer->passStarted(0, 1);
            observer->cursorMoved(2);
            BatchResult result;
            result.files.resize(request.names.size());
            return result;
        };
    });
    for (const char* name : {"slot1.sav", "slot2.sav", "slot3.sav"}) {
        window.WriteSave(name, 100);
    }
    window.ListAndRead();
    const int prefix = static_cast<int>(CharacterCount("Reading 1 of 3: "));
    for (const auto& [room, name] : {std::pair{prefix + 9, "slot3.sav"},
                                     std::pair{prefix + 6, "\xE2\x80\xA6"
                                                           "3.sav"},
                                     std::pair{prefix + 3, ""}, std::pair{prefix + 2, ""}}) {
        window.model->MeasureText({.captionRoom = room});
        window.view.listCaptions.clear();
        window.Convert("2.00");
        ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
        const auto at =
            std::find_if(window.view.listCaptions.begin(), window.view.listCaptions.end(),
                         [](const ListCaption& c) { return c.total > 0; });
        ASSERT_NE(at, window.view.listCaptions.end()) << room;
        EXPECT_EQ(at->name, name) << room;
    }
}

// The frame's caption names the listed folder, fitted; its whole path is in the tooltip and the
// description, which says so when the folder is empty. Rows fit the room the view measured.
TEST(WindowModel, CaptionNamesTheFolderAndRowsFitTheMeasuredRoom) {
    Window window([](WindowOptions& options) {
        options.readVersions = [](const BatchRequest&, Scn_Process&, BatchObserver*) {
            return BatchResult{};
        };
    });
    EXPECT_EQ(window.view.listCaption.prefix, "&File List");
    EXPECT_EQ(window.view.listCaption.accessibleName, "File List");

    char name[64];
    for (int n = 1; n <= 300; ++n) {
        std::snprintf(name, sizeof name, "Autosave_Chapter03_Checkpoint_%03d.sav", n);
        window.WriteSave(name, 100);
    }
    window.model->MeasureText({.listRoom = 20, .captionRoom = 16});
    window.ListAndRead();
    const ListCaption& caption = window.view.listCaption;
    const std::string own = window.scene.saves.substr(window.scene.saves.find_last_of("/\\") + 1);
    EXPECT_EQ(caption.prefix, "&File List: ");
    EXPECT_EQ(caption.name, own.size() <= 5 ? own : FittedName(own, {}, 5, TextMeasure{}.width));
    EXPECT_EQ(caption.tooltip, "File List: " + window.scene.saves);
    EXPECT_EQ(caption.description, window.scene.saves);
    std::set<std::string> shown;
    for (const ListRow& row : window.view.rows) {
        EXPECT_LE(CharacterCount(row.shown), 20u);
        shown.insert(row.shown);
    }
    EXPECT_EQ(shown.size(), 300u);
    EXPECT_EQ(window.view.rows[0].shown, "\xE2\x80\xA6"
                                         "_Checkpoint_001.sav");

    ASSERT_TRUE(window.model->OpenFolder(window.other));
    EXPECT_EQ(window.view.listCaption.accessibleName, "File List: other (empty)");
    EXPECT_EQ(window.view.listCaption.description, window.other + "\nThis folder is empty.");

    // Short of room, "(empty)" goes first, then the label, and only then is the name cut.
    const struct {
        std::string folder;
        int room;
        std::string prefix, name;
    } narrower[] = {
        {window.other, 24, "&File List: ", "other (empty)"},
        {window.other, 23, "&File List: ", "other"},
        {window.other, 16, "&File List: ", "other"},
        {window.other, 15, "", "other"},
        {window.other, 3, "", "o\xE2\x80\xA6r"},
        {window.scene.saves, 16, "&File List: ", "saves"},
        {window.scene.saves, 15, "", "saves"},
        {window.scene.saves, 4, "", "sa\xE2\x80\xA6s"},
    };
    for (const auto& c : narrower) {
        ASSERT_TRUE(window.model->OpenFolder(c.folder));
        window.model->MeasureText({.captionRoom = c.room});
        EXPECT_EQ(window.view.listCaption.prefix, c.prefix) << c.folder << " " << c.room;
        EXPECT_EQ(window.view.listCaption.name, c.name) << c.folder << " " << c.room;
        EXPECT_EQ(window.view.listCaption.tooltip, "File List: " + c.folder);
    }
}

// In the pseudo-language every text the model gives the windows comes from the catalogue, each
// paragraph marked; words glued in code would show unmarked.
TEST(WindowModel, EveryTextItGivesTheWindowsIsTheCatalogues) {
    ASSERT_EQ(UseLanguage(kPseudoLanguage), kPseudoLanguage);
    struct English {
        ~English() { (void)UseLanguage("en"); }
    } english;
    const auto marked = [](const std::string& text) {
        for (std::size_t start = 0; start <= text.size();) {
            const std::size_t end = std::min(text.find("\n\n", start), text.size());
            if (text.substr(start, end - start).find('[') == std::string::npos) {
                return false;
            }
            start = end + 2;
        }
        return true;
    };

    Window window;
    window.WriteSave("a.sav", 100);
    WriteFile(window.scene.saves + "/plain.sav", "not enciphered");
    window.ListAndRead();
    std::vector<std::pair<std::string, std::string>> texts = {
        {"title", window.view.caption},
        {"save button", window.view.controls.saveText},
        {"list caption", window.view.listCaptions.back().prefix},
        {"list name", window.view.listCaptions.back().accessibleName},
    };
    for (const ListRow& row : window.view.rows) {
        texts.insert(texts.end(), {{row.name + " tooltip", row.tooltip},
                                   {row.name + " accessible name", row.accessibleName}});
    }
    texts.emplace_back("version not read", window.view.rows[1].version);
    window.Convert("2.00");
    texts.emplace_back("cancel button", window.view.controls.saveText);
    ASSERT_TRUE(window.RunUntilEnded(WindowView::Work::Batch));
    for (const ListCaption& caption : window.view.listCaptions) {
        if (caption.total > 0) {
            texts.insert(texts.end(),
                         {{"progress", caption.prefix}, {"progress tooltip", caption.tooltip}});
        }
    }
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                            [](const auto& text) { return text.first == "progress"; }));
    const std::vector<RestoreMenuItem> menu = window.model->RestoreMenu();
    texts.emplace_back("restore item", menu.at(0).text);
    window.view.answer = false;
    window.model->RestoreChosen(0);
    texts.emplace_back("restore question", window.view.asked.at(0));
    ASSERT_TRUE(window.model->OpenFolder(window.other)); // empty
    texts.insert(texts.end(), {{"empty folder", window.view.listCaptions.back().name},
                               {"empty folder told", window.view.listCaptions.back().description},
                               {"nothing to restore", window.model->RestoreMenu().at(0).text}});
    for (const auto& [what, text] : texts) {
        EXPECT_TRUE(marked(text)) << what << ": " << text;
    }
}
