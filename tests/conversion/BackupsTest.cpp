// Backups of the saves a batch replaces, and undoing batches with them.

#include "conversion/Backups.h"

#include "Report.h"
#include "TestSupport.h"
#include "conversion/BackupSets.h"
#include "conversion/ConvertSaves.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::SortedNames;
using testsupport::WriteFile;

namespace {

constexpr std::size_t kSaveSize = 2000;

class BackupsTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    void AddSaves(std::initializer_list<const char*> added = {"a.sav", "b.sav", "c.sav"}) {
        for (const char* name : added) {
            WriteFile(saves + "/" + name, Original(name));
            names.push_back(name);
        }
    }
    unsigned Seed(const std::string& name) const {
        return static_cast<unsigned>(Sha256Hex(name)[0]) * 7u + static_cast<unsigned>(name.size());
    }
    std::string Original(const std::string& name) const {
        return EncipheredSave(kSaveSize, Seed(name));
    }
    std::string Converted(const std::string& name, int value) const {
        return ConvertedSave(kSaveSize, Seed(name), value);
    }
    std::string Save(const std::string& name) const { return ReadFile(saves + "/" + name); }

    BatchResult Run(int value, BatchObserver* observer = nullptr) {
        Scn_Process runner;
        return ConvertSaves({saves, names, appDir, std::to_string(value)}, runner, observer);
    }
    RestoreResult Restore() { return RestoreLastConversion(backups, saves); }

    // Every save holds the given value (-1: the original).
    void ExpectAll(int value, const std::string& when) {
        for (const std::string& name : names) {
            EXPECT_TRUE(Save(name) == (value < 0 ? Original(name) : Converted(name, value)))
                << name << " " << when;
        }
    }
    std::string Manifest(const std::string& set) const { return ReadFile(set + "/manifest"); }

    std::vector<std::string> names;
};

} // namespace

// Each restore undoes the newest batch not undone yet, so restores walk back one batch at a
// time until nothing is left to undo.
// Each way a folder of the backups is not the user's own has a sentence of its own, so that no
// language has to glue a subject to the system's words.
TEST(NotOwnEntries, EachCauseIsAWholeSentence) {
    testsupport::TempDir root;
    WriteFile(root / "file", "x");
    struct Case {
        std::string path;
        const char* folderTemplate;
        const char* setTemplate;
        std::string english; // of the folder's sentence
    };
    std::vector<Case> cases = {
        {root / "file", "{path} is not a folder; it is left alone",
         "it is not a folder; it is left alone",
         root / "file" + " is not a folder; it is left alone"},
        {root / "gone", "the folder {path} cannot be checked ({reason}); it is left alone",
         "it cannot be checked ({reason}); it is left alone",
         "the folder " + root / "gone" + " cannot be checked (" +
             Status::FromErrno(ENOENT).phrase().English() + "); it is left alone"},
    };
#ifndef _WIN32
    std::filesystem::create_symlink(root.path(), root / "link");
    cases.push_back({root / "link", "the folder {path} is a symbolic link; it is left alone",
                     "it is a symbolic link; it is left alone",
                     "the folder " + root / "link" + " is a symbolic link; it is left alone"});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Status own = CheckOwnEntry(c.path, EntryKind::Directory);
        ASSERT_FALSE(own);
        const Phrase folder = backups::NotOwnFolder(c.path, own);
        EXPECT_EQ(folder.id(), c.folderTemplate);
        EXPECT_EQ(folder, c.english);
        EXPECT_EQ(backups::NotOwnSet(own).id(), c.setTemplate);
    }
    EXPECT_EQ(backups::NotOwnSet(Status::Fail("belongs to another user")).id(),
              "it belongs to another user; it is left alone");
    // A manifest is a file: a folder in its place is not one.
    EXPECT_EQ(backups::NotOwnManifest(CheckOwnEntry(root.path(), EntryKind::File)).id(),
              "its manifest is not a regular file; it is left alone");
}

TEST_F(BackupsTest, RestoresWalkBackThroughOneTwoAndThreeBatches) {
    AddSaves();
    const int values[] = {100, 300, 0};
    std::vector<std::string> sets;
    for (int batches = 1; batches <= 3; ++batches) {
        for (int i = 0; i < batches; ++i) {
            BatchResult result = Run(values[i]);
            ASSERT_TRUE(result.allChanged()) << FullReport(result);
            sets.push_back(result.backupSet);
        }
        for (int i = batches - 1; i >= 0; --i) {
            ExpectAll(values[i], "before restore " + std::to_string(i));
            RestoreResult restored = Restore();
            EXPECT_TRUE(restored.allRestored()) << FullReport(restored);
            EXPECT_EQ(FullReport(restored), "Restored 3 files");
            EXPECT_EQ(restored.setFolder, sets.back());
            sets.pop_back();
        }
        ExpectAll(-1, "after undoing " + std::to_string(batches) + " batches");
        RestoreResult none = Restore();
        EXPECT_TRUE(none.nothingToUndo);
        EXPECT_FALSE(none.allRestored());
        EXPECT_EQ(FullReport(none), "No conversion of " + saves + " to undo");
    }
    // Newest first, every set undone, with its time, count and version.
    BackupSetListing listing = ListBackupSets(backups, saves);
    ASSERT_EQ(listing.sets.size(), 6u);
    EXPECT_EQ(DescribeBackupSet(listing.sets[0]).substr(19), ", 3 saves, version 0.00, undone");
    EXPECT_EQ(DescribeBackupSet(listing.sets[5]).substr(19), ", 3 saves, version 1.00, undone");
    EXPECT_EQ(NewestNotUndone(listing), nullptr);
    EXPECT_EQ(SortedNames(saves), (std::vector<std::string>{"a.sav", "b.sav", "c.sav"}));
}

// A save the game wrote after the batch is left alone and named, with where its original is;
// one already back to its original counts as restored; one removed is named too.
TEST_F(BackupsTest, ASaveWrittenSinceTheBatchIsLeftAloneAndItsOriginalNamed) {
    AddSaves({"a.sav", "b.sav", "c.sav", "d.sav"});
    BatchResult result = Run(200);
    ASSERT_TRUE(result.allChanged());
    WriteFile(saves + "/b.sav", "the game saved here");
    WriteFile(saves + "/c.sav", Original("c.sav"));
    ASSERT_EQ(::unlink((saves + "/d.sav").c_str()), 0);

    RestoreResult restored = Restore();
    ASSERT_TRUE(restored.status.ok()) << FullReport(restored);
    EXPECT_FALSE(restored.allRestored());
    EXPECT_EQ(restored.restoredCount, 2u);
    EXPECT_TRUE(Save("a.sav") == Original("a.sav"));
    EXPECT_EQ(Save("b.sav"), "the game saved here");
    EXPECT_TRUE(Save("c.sav") == Original("c.sav"));
    EXPECT_FALSE(Exists(saves + "/d.sav"));
    const std::string b = JoinPath(result.backupSet, "original-2");
    const std::string d = JoinPath(result.backupSet, "original-4");
    EXPECT_TRUE(ReadFile(b) == Original("b.sav"));
    EXPECT_TRUE(ReadFile(d) == Original("d.sav"));
    EXPECT_EQ(FullReport(restored),
              "Restored 2 files\n\nNot restored:\n"
              "b.sav: changed since the conversion; its original is kept at " +
                  b +
                  "\nd.sav: removed since the conversion; its original is "
                  "kept at " +
                  d);
    // Settled: the batch counts as undone.
    EXPECT_TRUE(Restore().nothingToUndo);
}

// After a power cut where the rename is not atomic (FAT), a save may be gone with only its
// hidden temporary left, holding the conversion: the restore puts the original back and says so.
// A temporary of the save's name that holds something else is left alone.
TEST_F(BackupsTest, ASaveLeftOnlyAsItsTemporaryIsRestoredFromItsBackup) {
    AddSaves({"a.sav", "b.sav"});
    BatchResult result = Run(200);
    ASSERT_TRUE(result.allChanged());
    const std::string kept = saves + "/" + NewTemporaryNameFor("a.sav");
    const std::string stray = saves + "/" + NewTemporaryNameFor("b.sav");
    std::filesystem::rename(testsupport::Native(saves + "/a.sav"), testsupport::Native(kept));
    WriteFile(stray, "not the conversion");
    ASSERT_EQ(::unlink((saves + "/b.sav").c_str()), 0);

    RestoreResult restored = Restore();
    ASSERT_TRUE(restored.status.ok()) << FullReport(restored);
    EXPECT_TRUE(Save("a.sav") == Original("a.sav"));
    EXPECT_FALSE(Exists(kept));
    EXPECT_FALSE(Exists(saves + "/b.sav"));
    EXPECT_EQ(ReadFile(stray), "not the conversion");
    EXPECT_EQ(FullReport(restored),
              "Restored 1 file\n\na.sav: restored from its backup; the conversion had been cut "
              "short and left only a hidden temporary of it, now removed\n\nNot restored:\n"
              "b.sav: removed since the conversion; its original is kept at " +
                  JoinPath(result.backupSet, "original-2"));
}

// The restore's box names the saves written since under one reason, although each has its
// original at a path of its own, and names the set keeping the originals once.
TEST_F(BackupsTest, TheRestoreBoxGroupsTheSavesWrittenSinceWhateverTheirOriginalsPaths) {
    AddSaves({"a.sav", "b.sav", "c.sav", "d.sav", "e.sav"});
    BatchResult result = Run(200);
    ASSERT_TRUE(result.allChanged());
    for (const char* name : {"b.sav", "c.sav", "e.sav"}) {
        WriteFile(saves + "/" + name, "the game saved here");
    }
    ASSERT_EQ(::unlink((saves + "/d.sav").c_str()), 0);

    RestoreResult restored = Restore();
    ASSERT_TRUE(restored.status.ok()) << FullReport(restored);
    const BoxReport box = ComposeRestoreBoxReport(restored);
    // The one restored goes back to the value its original held (the recorded one: the test
    // saves are made at 0.00).
    EXPECT_EQ(box.text, "Restored 1 file\nBack to 0.00.\n\nNot restored:\n"
                        "3 files: changed since the conversion\n    b.sav, c.sav, e.sav\n"
                        "1 file: removed since the conversion\n    d.sav\n\n"
                        "The originals of the saves not restored are kept in " +
                            result.backupSet);
    EXPECT_EQ(box.details, FullReport(restored).substr(FullReport(restored).find("b.sav: ")));
    EXPECT_EQ(box.details.rfind("b.sav: changed since the conversion; its original is kept at " +
                                    JoinPath(result.backupSet, "original-2") + "\nc.sav: ",
                                0),
              0u)
        << box.details;
}

// Only the saves the batch replaces are kept: not those that failed before, nor those the
// replacement pass could not replace; a batch that replaced none leaves no set.
TEST_F(BackupsTest, OnlyReplacedSavesAreKept) {
    AddSaves({"a.sav", "b.sav", "c.sav", "d.sav"});
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "encrypt:exit=3:b.sav");
    struct MarkReadOnly : BatchObserver {
        std::string path;
        std::size_t moves = 0;
        void cursorMoved(std::size_t) override {
            if (++moves == 9) { // the replacement pass begins: the originals are kept
                ::chmod(path.c_str(), 0444);
            }
        }
    } readOnly;
    readOnly.path = saves + "/c.sav";
    BatchResult result = Run(300, &readOnly);
    ASSERT_EQ(result.changedCount, 2u) << FullReport(result);
    EXPECT_EQ(result.files[2].reason, "copy failed: is read-only");
    // a, c and d were kept as 1, 2 and 3; c was not replaced, so its original went.
    EXPECT_EQ(SortedNames(result.backupSet),
              (std::vector<std::string>{"manifest", "original-1", "original-3"}));
    const std::string manifest = Manifest(result.backupSet);
    EXPECT_NE(manifest.find(" a.sav "), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find(" b.sav "), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find(" c.sav "), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("\ncomplete\n"), std::string::npos) << manifest;
    EXPECT_TRUE(ReadFile(result.backupSet + "/original-3") == Original("d.sav"));

    ScopedEnv allFail("STAND_IN_CIPHER_FAULTS", "encrypt:exit=3:*");
    BatchResult none = Run(100);
    EXPECT_EQ(none.changedCount, 0u);
    EXPECT_TRUE(none.backupSet.empty());
    EXPECT_EQ(FullReport(none).find("originals are kept"), std::string::npos);
    EXPECT_EQ(ListBackupSets(backups, saves).sets.size(), 1u);
    EXPECT_EQ(SortedNames(ParentOf(result.backupSet)).size(), 1u);
}

// A save written between the batch's first read and its backup is neither kept nor replaced:
// also a rewrite at the same size that leaves its last-write time, which only its bytes show.
TEST_F(BackupsTest, ASaveChangedBeforeItsBackupIsNotReplaced) {
    AddSaves();
    struct Writer : BatchObserver {
        std::string path;
        std::string content;
        bool keepTime = false;
        std::size_t moves = 0;
        void cursorMoved(std::size_t) override {
            if (++moves == 6) { // the last step of the second pass
                if (keepTime) {
                    testsupport::RewriteKeepingTime(path, content);
                } else {
                    WriteFile(path, content);
                }
            }
        }
    };
    std::string sameSize = Original("b.sav");
    sameSize[100] = static_cast<char>(sameSize[100] ^ 1);
    for (const bool keepTime : {false, true}) {
        WriteFile(saves + "/b.sav", Original("b.sav"));
        Writer writer;
        writer.path = saves + "/b.sav";
        writer.content = keepTime ? sameSize : "written meanwhile";
        writer.keepTime = keepTime;
        BatchResult result = Run(200 + keepTime, &writer);
        EXPECT_EQ(result.files[1].reason, "changed on disk during conversion") << keepTime;
        EXPECT_EQ(Save("b.sav"), writer.content) << keepTime;
        EXPECT_EQ(SortedNames(result.backupSet),
                  (std::vector<std::string>{"manifest", "original-1", "original-3"}))
            << keepTime;
    }
}

TEST_F(BackupsTest, TheNewestTwentySetsAreKept) {
    AddSaves({"a.sav"});
    std::vector<std::string> sets;
    for (int i = 0; i < 22; ++i) {
        BatchResult result = Run(i % 2 == 0 ? 100 : 200);
        ASSERT_TRUE(result.allChanged()) << FullReport(result);
        sets.push_back(result.backupSet);
    }
    const std::string folder = ParentOf(sets.back());
    EXPECT_EQ(SortedNames(folder).size(), kBackupSetsKept);
    EXPECT_FALSE(Exists(sets[0]));
    EXPECT_FALSE(Exists(sets[1]));
    EXPECT_TRUE(Exists(sets[2]));
    EXPECT_EQ(ListBackupSets(backups, saves).sets.front().folder, sets.back());
    // Two restores walk back through the newest two.
    EXPECT_TRUE(Restore().allRestored());
    EXPECT_TRUE(Save("a.sav") == Converted("a.sav", 100));
    EXPECT_TRUE(Restore().allRestored());
    EXPECT_TRUE(Save("a.sav") == Converted("a.sav", 200));
}

// A set that cannot be trusted refuses the restore and nothing is touched.
TEST_F(BackupsTest, ADamagedSetIsRefusedAndNothingIsTouched) {
    AddSaves();
    BatchResult result = Run(200);
    ASSERT_TRUE(result.allChanged());
    const std::string set = result.backupSet;
    const std::string good = Manifest(set);
    const std::string original2 = ReadFile(set + "/original-2");
    auto expectRefused = [&](const std::string& reason) {
        RestoreResult restored = Restore();
        EXPECT_FALSE(restored.status.ok());
        EXPECT_EQ(FullReport(restored), "The backup set " + set + " cannot be used: " + reason +
                                            ". Nothing was restored");
        ExpectAll(200, reason);
        EXPECT_TRUE(restored.files.empty());
        ASSERT_EQ(ListBackupSets(backups, saves).sets.size(), 1u);
    };

    WriteFile(set + "/manifest", good.substr(0, good.size() - 4));
    expectRefused("its manifest is damaged: line 9: missing the end");
    WriteFile(set + "/manifest", "value 200\n" + good);
    expectRefused("its manifest is damaged: line 1: not a backup manifest");
    std::string edited = good;
    edited.replace(edited.find("value 200"), 9, "value 20O");
    WriteFile(set + "/manifest", edited);
    expectRefused("its manifest is damaged: line 4: expected the value");
    edited = good;
    edited.replace(edited.find("folder "), 7, "folder %2Felsewhere%2F");
    WriteFile(set + "/manifest", edited);
    EXPECT_NE(DescribeBackupSet(ListBackupSets(backups, saves).sets[0]).find("another folder"),
              std::string::npos);
    WriteFile(set + "/manifest", good);

    ASSERT_EQ(::unlink((set + "/original-2").c_str()), 0);
    expectRefused("the original of b.sav (original-2) is missing");
    std::string damaged = original2;
    damaged[100] = static_cast<char>(damaged[100] ^ 1);
    WriteFile(set + "/original-2", damaged);
    expectRefused("the original of b.sav (original-2) does not match its recorded SHA-256");
    EXPECT_EQ(Manifest(set), good);

    // Once the set is whole again, it serves.
    WriteFile(set + "/original-2", original2);
    EXPECT_TRUE(Restore().allRestored());
    ExpectAll(-1, "after the repair");
}

TEST_F(BackupsTest, ASecondRestoreWaitsForTheFirst) {
    AddSaves();
    BatchResult result = Run(200);
    FolderLock held(ParentOf(result.backupSet));
    ASSERT_TRUE(held.held());
    RestoreResult restored = Restore();
    EXPECT_EQ(FullReport(restored),
              "Another conversion or restore is using the backups of " + saves);
    ExpectAll(200, "while another holds the backups");
}

// A restore during the first batch on a folder, before the batch has kept its originals, says
// another conversion is at work, not that there is nothing to undo.
TEST_F(BackupsTest, ARestoreDuringABatchWithoutASetYetSaysTheFolderIsBusy) {
    AddSaves();
    SaveFolderLock batch(saves);
    ASSERT_TRUE(batch.status());
    RestoreResult restored = Restore();
    EXPECT_FALSE(restored.nothingToUndo);
    EXPECT_EQ(FullReport(restored), kSaveFolderBusy);
}

// The backups never go into the save folder itself: such a backup folder is refused before
// it is made, nor any folder above it.
TEST_F(BackupsTest, ABackupFolderInsideTheSaveFolderIsRefusedAndNotMade) {
    AddSaves();
    const struct {
        std::string backups;
        std::string notMade;
    } cases[] = {{saves + "/.backups", saves + "/.backups"}, {saves + "/a/b/bk", saves + "/a"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.backups);
        ScopedEnv inside("OSTRAPEL_BACKUP_DIR", c.backups);
        BatchResult result = Run(200);
        EXPECT_EQ(result.changedCount, 0u);
        EXPECT_EQ(result.files[0].reason,
                  "Cannot keep a backup in " + c.backups + ": it lies inside the save folder");
        EXPECT_FALSE(Exists(c.notMade));
        ExpectAll(-1, "with the backups refused");
    }
}

TEST(BackupNoteTest, EachFrontEndSaysHowToUndoInItsOwnTerms) {
    const struct {
        FrontEnd reader;
        const char* note;
    } cases[] = {
        {FrontEnd::Window, "The originals are kept in SET; to put them back, right-click the file "
                           "list, or press Shift+F10"},
        {FrontEnd::CommandLine,
         "The originals are kept in SET; to put them back, run ostrapel-cli --restore FOLDER"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BackupNote("SET", "FOLDER", c.reader), c.note);
    }
}

TEST(BackupFolderTest, ChosenPortableOrTheUsersDataFolder) {
    testsupport::TempDir root;
    const std::string app = WithTrailingSeparator(root.path());
    ScopedEnv home("HOME", root / "home");
    {
        ScopedEnv chosen("OSTRAPEL_BACKUP_DIR", root / "chosen");
        testsupport::MakeDir(root / "Backups");
        EXPECT_EQ(BackupFolderFor(app), root / "chosen");
    }
    ScopedEnv unset("OSTRAPEL_BACKUP_DIR", "");
    EXPECT_EQ(BackupFolderFor(app), root / "Backups");
    testsupport::RemoveTree(root / "Backups");
#ifdef _WIN32
    EXPECT_TRUE(BackupFolderFor(app).ends_with("\\Ostrapel\\Backups")) << BackupFolderFor(app);
#else
    {
        ScopedEnv data("XDG_DATA_HOME", root / "data");
        EXPECT_EQ(BackupFolderFor(app), root / "data/ostrapel/backups");
    }
    {
        ScopedEnv relative("XDG_DATA_HOME", "data");
        EXPECT_EQ(BackupFolderFor(app), root / "home/.local/share/ostrapel/backups");
    }
#endif
}

// A symbolic link to another entry's save is converted once, through that entry, and stays a
// link; it names the entry and is no failure. Hard links are each converted: the replacement
// gives each name a file of its own.
TEST_F(BackupsTest, OneFileListedTwiceIsConvertedOnce) {
    AddSaves({"b.sav", "c.sav"});
    std::filesystem::create_hard_link(testsupport::Native(saves + "/c.sav"),
                                      testsupport::Native(saves + "/d.sav"));
    names.push_back("d.sav");
    std::vector<std::pair<std::string, std::string>> expected = {
        {"b.sav", ""}, {"c.sav", ""}, {"d.sav", ""}};
#ifndef _WIN32
    std::filesystem::create_symlink("b.sav", saves + "/a.sav");
    names.insert(names.begin(), "a.sav");
    expected.insert(expected.begin(), {"a.sav", "same file as b.sav"});
#endif
    BatchResult result = Run(200);
    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    EXPECT_EQ(result.changedCount, 3u);
    EXPECT_EQ(FullReport(result).find("Not changed"), std::string::npos) << FullReport(result);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const FileOutcome& file = result.files[i];
        EXPECT_EQ(file.name, expected[i].first);
        EXPECT_EQ(file.changed, expected[i].second.empty()) << file.name;
        EXPECT_EQ(file.reason, expected[i].second);
    }
    EXPECT_TRUE(Save("b.sav") == Converted("b.sav", 200));
    EXPECT_TRUE(Save("d.sav") == Converted("c.sav", 200));
#ifndef _WIN32
    EXPECT_TRUE(IsSymbolicLink(saves + "/a.sav"));
#endif
    RestoreResult restored = Restore();
    EXPECT_TRUE(restored.allRestored()) << FullReport(restored);
    EXPECT_EQ(FullReport(restored), "Restored 3 files");
    EXPECT_TRUE(Save("d.sav") == Original("c.sav"));
}

#ifdef _WIN32
// A save folder renamed only in case keeps its backups; a set folder keyed by the path's exact
// case, as sets were before, is still found.
TEST_F(BackupsTest, ASaveFolderRenamedInCaseKeepsItsBackups) {
    AddSaves({"a.sav"});
    BatchResult first = Run(100);
    ASSERT_TRUE(first.allChanged()) << FullReport(first);
    const std::string renamed = root / "SAVES";
    // Through another name: Wine leaves a rename in case only undone.
    std::filesystem::rename(testsupport::Native(saves), testsupport::Native(root / "moved"));
    std::filesystem::rename(testsupport::Native(root / "moved"), testsupport::Native(renamed));
    ASSERT_NE(ResolvedPath(renamed).find("SAVES"), std::string::npos) << ResolvedPath(renamed);
    EXPECT_EQ(FullReport(RestoreLastConversion(backups, renamed)), "Restored 1 file");
    EXPECT_TRUE(ReadFile(renamed + "/a.sav") == Original("a.sav"));

    BatchResult second = Run(200);
    ASSERT_TRUE(second.allChanged()) << FullReport(second);
    const std::string earlier = JoinPath(backups, Sha256Hex(ResolvedPath(renamed)).substr(0, 32));
    std::filesystem::rename(testsupport::Native(ParentOf(second.backupSet)),
                            testsupport::Native(earlier));
    ASSERT_EQ(ListBackupSets(backups, saves).sets.size(), 2u);
    EXPECT_TRUE(RestoreLastConversion(backups, saves).allRestored());
    EXPECT_TRUE(Save("a.sav") == Original("a.sav"));
}
#endif
