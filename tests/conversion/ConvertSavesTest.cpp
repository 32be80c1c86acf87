#include "conversion/ConvertSaves.h"

#include "../tools/StandInCipher.h"
#include "Report.h"
#include "TestSupport.h"
#include "conversion/Backups.h"
#include "conversion/DecipheredSaves.h"
#include "conversion/DlcVersion.h"
#include "conversion/JobPlaces.h"
#include "conversion/ProgramFolder.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

using namespace ostrapel;
using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::Exists;
using testsupport::LeftInWorkFolder;
using testsupport::ReadFile;
using testsupport::ReadLines;
using testsupport::ScopedEnv;
using testsupport::SortedNames;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr std::size_t kSaveSize = 1500;

class Recorder : public BatchObserver {
public:
    std::function<void(std::size_t)> onCursor;
    std::function<void(std::size_t)> onPass;
    std::vector<std::size_t> cursor;
    std::vector<std::pair<std::size_t, FileOutcome>> finished;

    void passStarted(std::size_t pass, std::size_t) override {
        if (onPass) {
            onPass(pass);
        }
    }
    void cursorMoved(std::size_t index) override {
        cursor.push_back(index);
        if (onCursor) {
            onCursor(index);
        }
    }
    void fileFinished(std::size_t index, const FileOutcome& outcome) override {
        finished.emplace_back(index, outcome);
    }
};

class ConvertSavesTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    // Adds an enciphered save; the seed is its position, so its content is known.
    void AddSave(const std::string& name) {
        WriteFile(saves + "/" + name, EncipheredSave(kSaveSize, Seed(name)));
        names.push_back(name);
    }
    unsigned Seed(const std::string& name) const {
        return static_cast<unsigned>(std::hash<std::string>{}(name)&0xFFFF);
    }
    std::string Original(const std::string& name) const {
        return EncipheredSave(kSaveSize, Seed(name));
    }
    std::string Converted(const std::string& name, int value = 200) const {
        return ConvertedSave(kSaveSize, Seed(name), value);
    }
    std::string Save(const std::string& name) const { return ReadFile(saves + "/" + name); }

    // One job: the tool runs in list order.
    BatchResult Run(const std::string& value = "200") {
        Scn_Process runner;
        BatchRequest request{saves, names, appDir, value};
        request.jobs = 1;
        return ConvertSaves(request, runner, &recorder);
    }

    const FileOutcome& Outcome(const BatchResult& result, const std::string& name) {
        auto it = std::find_if(result.files.begin(), result.files.end(),
                               [&](const FileOutcome& f) { return f.name == name; });
        EXPECT_NE(it, result.files.end());
        return *it;
    }

    void ExpectCleanWorkFolder() {
        EXPECT_EQ(LeftInWorkFolder(WorkFolderOf(appDir)), std::vector<std::string>{});
        for (const std::string& name : SortedNames(saves)) {
            EXPECT_EQ(name.rfind(kTemporaryPrefix, 0), std::string::npos) << name;
            EXPECT_FALSE(name.ends_with(".backup")) << name;
        }
    }

    std::vector<std::string> names;
    Recorder recorder;
};

} // namespace

TEST_F(ConvertSavesTest, ConvertsEverySaveInThreePasses) {
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        AddSave(name);
    }
    std::size_t runsBeforeFirstReplace = 0;
    recorder.onCursor = [&](std::size_t) {
        if (recorder.cursor.size() == 11) { // the first step of the last pass
            runsBeforeFirstReplace = ReadLines(log).size();
            for (const std::string& name : names) {
                EXPECT_EQ(Save(name), Original(name)) << "replaced before the last tool run";
            }
        }
    };

    BatchResult result = Run("200");

    // The report ends by saying where the originals are kept and how to put them back.
    ASSERT_FALSE(result.backupSet.empty());
    EXPECT_EQ(FullReport(result), "Changed versions DLC in 3 files\n\n" +
                                      BackupNote(result.backupSet, saves, FrontEnd::Window));
    EXPECT_TRUE(result.allChanged());
    // Every plain form enciphers back to its save (the first run of which shows the tool enciphers
    // alike), and every result is proven by deciphering a scratch copy of it, before anything is
    // replaced.
    EXPECT_EQ(ReadLines(log),
              (std::vector<std::string>{"decrypt a.sav", "decrypt b.sav", "decrypt c.sav",
                                        "encrypt a.sav", "encrypt b.sav", "encrypt c.sav",
                                        "encrypt a.sav", "decrypt a.sav", "encrypt b.sav",
                                        "decrypt b.sav", "encrypt c.sav", "decrypt c.sav"}));
    EXPECT_EQ(runsBeforeFirstReplace, 12u);
    EXPECT_EQ(recorder.cursor, (std::vector<std::size_t>{0, 1, 2, 0, 0, 1, 2, 0, 1, 2, 0, 1, 2}));
    for (const std::string& name : names) {
        EXPECT_EQ(Save(name), Converted(name)) << name;
    }
    ASSERT_EQ(recorder.finished.size(), 3u);
    EXPECT_TRUE(recorder.finished[0].second.changed);
    ExpectCleanWorkFolder();
}

// A tool that cannot run beside itself fails beside other runs and works alone: with two
// jobs, each save it refused is tried once more alone, and every save is read and converted.
TEST_F(ConvertSavesTest, ASaveTheToolFailedBesideOthersIsTriedAgainAlone) {
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        AddSave(name);
    }
    ScopedEnv busy("STAND_IN_CIPHER_BUSY", root / "busy");
    ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=150:*");
    BatchRequest request{saves, names, appDir, "200"};
    request.jobs = 2;
    Scn_Process runner;

    BatchResult read = ReadSaveVersions(request, runner);
    for (const FileOutcome& file : read.files) {
        EXPECT_TRUE(file.oldValue) << file.name << ": " << file.reason;
    }
    WriteFile(log, "");
    BatchResult result = ConvertSaves(request, runner, &recorder);

    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    for (const std::string& name : names) {
        EXPECT_TRUE(Save(name) == Converted(name)) << name;
    }
    EXPECT_GT(ReadLines(log).size(), 9u) << "no run was refused beside another";
    EXPECT_EQ(recorder.finished.size(), 3u);
    ExpectCleanWorkFolder();
}

// Once two deciphers of a save disagreed beside other runs, the rest of the batch runs the tool
// one save at a time, in one place.
TEST_F(ConvertSavesTest, AfterADisagreementTheRestOfTheBatchRunsAlone) {
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        AddSave(name);
    }
    const std::string folders = root / "folders.log";
    ScopedEnv where("STAND_IN_CIPHER_FOLDER_LOG", folders);
    testsupport::MakeDir(root / "state");
    ScopedEnv state("STAND_IN_CIPHER_STATE", root / "state");
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "decrypt:truncate=1000:b.sav#1");
    // From the encipher pass on.
    recorder.onPass = [&](std::size_t pass) {
        if (pass == 2) {
            WriteFile(folders, "");
        }
    };
    BatchRequest request{saves, names, appDir, "200"};
    request.jobs = 3;
    Scn_Process runner;
    BatchResult result = ConvertSaves(request, runner, &recorder);
    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    const std::vector<std::string> runs = ReadLines(folders);
    ASSERT_EQ(runs.size(), 6u);
    EXPECT_EQ(std::set<std::string>(runs.begin(), runs.end()).size(), 1u);
}

TEST_F(ConvertSavesTest, AnEmptyListRunsNoToolAndClearsTheWorkFolder) {
    WriteFile(WorkFolderOf(appDir) + "stale", "left by a killed run");
    BatchResult result = Run();
    EXPECT_EQ(FullReport(result), "Changed versions DLC in 0 files");
    EXPECT_TRUE(result.allChanged());
    EXPECT_TRUE(ReadLines(log).empty());
    ExpectCleanWorkFolder();
}

struct ToolFault {
    const char* rule;
    const char* reason;
};

class ToolFaultTest : public ConvertSavesTest, public ::testing::WithParamInterface<ToolFault> {};

TEST_P(ToolFaultTest, LeavesTheFailedSaveAsItWasAndNamesIt) {
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        AddSave(name);
    }
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", GetParam().rule);
    BatchResult result = Run();

    EXPECT_EQ(Save("b.sav"), Original("b.sav"));
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
    EXPECT_EQ(Save("c.sav"), Converted("c.sav"));
    EXPECT_FALSE(result.allChanged());
    EXPECT_EQ(result.changedCount, 2u);
    EXPECT_EQ(FullReport(result), "Changed versions DLC in 2 files\n\nNot changed:\nb.sav: " +
                                      std::string(GetParam().reason) + "\n\n" +
                                      BackupNote(result.backupSet, saves, FrontEnd::Window));
    ExpectCleanWorkFolder();
}

const ToolFault kToolFaults[] = {
    {"decrypt:exit=3:b.sav",
     "cipher tool failed (exit code 3): stand-in: decrypt of b.sav failed on purpose"},
    {"encrypt:exit=1:b.sav",
     "cipher tool failed (exit code 1): stand-in: encrypt of b.sav failed on purpose"},
#ifdef _WIN32
    {"decrypt:crash:b.sav",
     "cipher tool crashed (access violation, 0xC0000005): stand-in: crashing on purpose"},
#else // no signals on Windows
    {"decrypt:signal=9:b.sav", "cipher tool killed by signal 9 (Killed)"},
    {"encrypt:signal=11:b.sav", "cipher tool killed by signal 11 (Segmentation fault)"},
#endif
    {"decrypt:truncate=500:b.sav", "deciphered save too short (500 bytes)"},
    {"encrypt:truncate=0:b.sav", "cipher tool left an empty file"},
    {"decrypt:delete:b.sav", "cipher tool removed the work copy"},
    {"encrypt:delete:b.sav", "cipher tool removed the work copy"}};

INSTANTIATE_TEST_SUITE_P(EachFailure, ToolFaultTest, ::testing::ValuesIn(kToolFaults),
                         [](const ::testing::TestParamInfo<ToolFault>& p) {
                             std::string name = p.param.rule;
                             name = name.substr(0, name.rfind(':'));
                             for (char& c : name) {
                                 if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

// A program folder the user cannot write (unpacked under C:\Program Files) moves the work
// folder to the user's own; the tests run as root, so "cannot write" comes through the seam.
TEST_F(ConvertSavesTest, AProgramFolderThatCannotBeWrittenMovesTheWorkFolderToTheUsers) {
    std::string user = root.path();
    for (const char* name : {"local", "Ostrapel", "Decrypt", "temp"}) {
        user = JoinPath(user, name);
    }
    const std::string beside = appDir + "Decrypt" + kPathSeparator + "temp" + kPathSeparator;
    const std::string moved = user + kPathSeparator;
    using CanWrite = bool (*)(const std::string&);
    const CanWrite writable = [](const std::string&) { return true; };
    const CanWrite unwritable = [](const std::string&) { return false; };
    struct Case {
        std::string appDir;
        std::string user;
        CanWrite canWrite;
        std::string chosen;
    };
    const Case cases[] = {
        {appDir, user, writable, beside},
        {appDir, "", unwritable, beside}, // nowhere else to go
        {appDir, user, unwritable, moved},
#ifdef _WIN32
        {"C:\\", "C:\\Users\\me\\AppData\\Local\\Ostrapel\\Decrypt\\temp", writable,
         "C:\\Decrypt\\temp\\"}, // a drive's root
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.appDir + " " + c.user);
        EXPECT_EQ(ChooseWorkFolder(c.appDir, c.user, false, c.canWrite), c.chosen);
    }
    EXPECT_EQ(KindOf(user), EntryKind::Directory) << "made with the folders above it";

    AddSave("a.sav");
    BatchRequest request{saves, names, appDir, "200"};
    request.workFolder = moved;
    Scn_Process runner;
    BatchResult result = ConvertSaves(request, runner, &recorder);
    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
    EXPECT_EQ(ReadLines(log).size(), 4u) << "the tool beside the program ran";
    EXPECT_EQ(LeftInWorkFolder(moved), std::vector<std::string>{});
    EXPECT_EQ(SortedNames(beside), std::vector<std::string>{}) << "nothing written beside it";
}

#ifdef _WIN32
// Whether a path comes through the system's ANSI code page with no character replaced.
bool SurvivesTheAnsiCodePage(const std::string& path) {
    const std::wstring wide = testsupport::Native(path).wstring();
    BOOL replaced = FALSE;
    const int size =
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(),
                              static_cast<int>(wide.size()), nullptr, 0, nullptr, &replaced);
    return size > 0 && !replaced;
}

// A program folder whose path has characters outside the system's code page: an ANSI cipher
// tool would get '?' for them, so it is handed each work copy's 8.3 short form.
TEST_F(ConvertSavesTest, AWorkCopyPathOutsideTheCodePageReachesTheToolInAFormItCanOpen) {
    if (::GetACP() == CP_UTF8) {
        GTEST_SKIP() << "the ANSI code page is UTF-8: every path comes through it";
    }
    const std::string program =
        JoinPath(root.path(), "\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3 \xe2\x82\xac");
    if (SurvivesTheAnsiCodePage(program)) {
        GTEST_SKIP() << "the ANSI code page " << ::GetACP() << " holds " << program;
    }
    testsupport::MakeDir(program);
    testsupport::MakeDir(JoinPath(program, "Decrypt"));
    WriteFile(JoinPath(JoinPath(program, "Decrypt"), "decrypt.exe"),
              ReadFile(testsupport::StandInToolPath()));
    const std::string paths = root / "paths.log";
    ScopedEnv pathLog("STAND_IN_CIPHER_PATH_LOG", paths);
    AddSave("a.sav");
    Scn_Process runner;
    BatchResult result =
        ConvertSaves({saves, names, WithTrailingSeparator(program), "200"}, runner, &recorder);
    EXPECT_TRUE(result.allChanged()) << FullReport(result);
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
    const std::vector<std::string> handed = ReadLines(paths);
    ASSERT_EQ(handed.size(), 4u);
    for (const std::string& path : handed) {
        EXPECT_TRUE(SurvivesTheAnsiCodePage(path)) << path;
        EXPECT_NE(path.find('~'), std::string::npos) << "not a short form: " << path;
    }
}
#endif

TEST_F(ConvertSavesTest, ASaveThatIsNotEncipheredIsLeftAlone) {
    AddSave("good.sav");
    WriteFile(saves + "/plain.sav", testsupport::PlainSave(kSaveSize, 1));
    names.push_back("plain.sav");
    BatchResult result = Run();
    EXPECT_EQ(Save("plain.sav"), testsupport::PlainSave(kSaveSize, 1));
    EXPECT_EQ(Outcome(result, "plain.sav").reason,
              "cipher tool failed (exit code 65): plain.sav is not enciphered");
    EXPECT_EQ(Save("good.sav"), Converted("good.sav"));
}

TEST_F(ConvertSavesTest, WorksWithAToolThatLeavesNoSideFile) {
    AddSave("a.sav");
    ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "any:nobackup:*");
    EXPECT_TRUE(Run("400").allChanged());
    EXPECT_EQ(Save("a.sav"), Converted("a.sav", 400));
}

TEST_F(ConvertSavesTest, TouchesNothingWithoutTheCipherTool) {
    AddSave("a.sav");
    ASSERT_EQ(::unlink(CipherToolOf(appDir).c_str()), 0);
    BatchResult result = Run();
    EXPECT_EQ(FullReport(result),
              "Changed versions DLC in 0 files\n\nCipher tool not found: " + CipherToolOf(appDir));
    EXPECT_FALSE(result.allChanged());
    EXPECT_EQ(Save("a.sav"), Original("a.sav"));
}

TEST_F(ConvertSavesTest, TouchesNothingForAValueThatDoesNotConvert) {
    AddSave("a.sav");
    BatchResult result = Run("2.00.0");
    EXPECT_FALSE(result.allChanged());
    EXPECT_NE(FullReport(result).find("Not a valid DLC value"), std::string::npos);
    EXPECT_TRUE(ReadLines(log).empty());
    EXPECT_EQ(Save("a.sav"), Original("a.sav"));
}

TEST_F(ConvertSavesTest, ReportsAToolThatCannotBeStarted) {
    AddSave("a.sav");
#ifdef _WIN32
    WriteFile(CipherToolOf(appDir), "not a program");
    const std::string why = "Exec format error";
#else
    ASSERT_EQ(::chmod(CipherToolOf(appDir).c_str(), 0644), 0);
    const std::string why = "Permission denied";
#endif
    BatchResult result = Run();
    EXPECT_EQ(Outcome(result, "a.sav").reason, "cipher tool could not be started: " + why);
    EXPECT_EQ(Save("a.sav"), Original("a.sav"));
}

TEST_F(ConvertSavesTest, ListedFoldersAndOddEntriesStayAsTheyAre) {
    AddSave("a.sav");
    testsupport::MakeDir(saves + "/slots");
    WriteFile(saves + "/slots/inner.sav", "inside");
    names.push_back("slots");
#ifndef _WIN32 // no named pipes in a Windows folder
    ASSERT_EQ(::mkfifo((saves + "/pipe.sav").c_str(), 0600), 0);
    names.push_back("pipe.sav");
#endif
    names.push_back("gone.sav");

    BatchResult result = Run();
    EXPECT_EQ(Outcome(result, "slots").reason, "is a folder");
#ifndef _WIN32
    EXPECT_EQ(Outcome(result, "pipe.sav").reason, "is not a regular file");
#endif
    EXPECT_EQ(Outcome(result, "gone.sav").reason, "not found");
    EXPECT_EQ(ReadFile(saves + "/slots/inner.sav"), "inside");
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
    EXPECT_EQ(ReadLines(log).size(), 4u);
    ExpectCleanWorkFolder();
}

TEST_F(ConvertSavesTest, DoesNotOverwriteASaveTheGameWroteMeanwhile) {
    AddSave("a.sav");
    AddSave("b.sav");
    recorder.onCursor = [&](std::size_t) {
        if (recorder.cursor.size() == 3) { // the second pass has started
            WriteFile(saves + "/b.sav", "written by the game");
        }
    };
    BatchResult result = Run();
    EXPECT_EQ(Save("b.sav"), "written by the game");
    EXPECT_EQ(Outcome(result, "b.sav").reason, "changed on disk during conversion");
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
}

#ifndef _WIN32 // permission bits and symbolic links; Windows keeps attributes (InUseTest.cpp)
TEST_F(ConvertSavesTest, KeepsPermissionsAndWritesThroughLinks) {
    AddSave("a.sav");
    ASSERT_EQ(::chmod((saves + "/a.sav").c_str(), 0604), 0);
    testsupport::MakeDir(root / "elsewhere");
    WriteFile(root / "elsewhere/real.sav", EncipheredSave(kSaveSize, 99));
    ASSERT_EQ(::symlink((root / "elsewhere/real.sav").c_str(), (saves + "/linked.sav").c_str()), 0);
    names.push_back("linked.sav");

    EXPECT_TRUE(Run().allChanged());
    struct stat st {};
    ASSERT_EQ(::stat((saves + "/a.sav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    ASSERT_EQ(::lstat((saves + "/linked.sav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(root / "elsewhere/real.sav"), ConvertedSave(kSaveSize, 99, 200));
}
#endif

TEST_F(ConvertSavesTest, CreatesAMissingWorkFolderAndRemovesOldTemporaries) {
    AddSave("a.sav");
    ASSERT_EQ(::rmdir(WorkFolderOf(appDir).c_str()), 0);
    WriteFile(saves + "/.ostrapel-4242-leftbykill.tmp", "partial");
    WriteFile(saves + "/.ostrapel-notes", "the player's own");
    EXPECT_TRUE(Run().allChanged());
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
    EXPECT_EQ(SortedNames(saves), (std::vector<std::string>{".ostrapel-notes", "a.sav"}));
    EXPECT_EQ(Save(".ostrapel-notes"), "the player's own");
}

TEST_F(ConvertSavesTest, ConvertsSavesWithOddNames) {
#ifdef _WIN32
    for (const char* name : {"with space.sav", "-dash.sav", "Ünïcödé セーブ.sav", "%PATH% & ;",
                             "[x]^!'=.sav", ".dotted"}) {
        AddSave(name);
    }
    // Long enough to take the work copy past the classic path limit only with the folder.
    AddSave(std::string(150, 'L') + ".sav");
#else
    for (const char* name : {"with space.sav", "quote\"d.sav", "back\\slash.sav", "-dash.sav",
                             "Ünïcödé セーブ.sav", "new\nline.sav", "%PATH% & | ;"}) {
        AddSave(name);
    }
    AddSave(std::string(240, 'L') + ".sav"); // room left for the tool's ".backup"
#endif

    BatchResult result = Run();
    EXPECT_EQ(FullReport(result), "Changed versions DLC in " + std::to_string(names.size()) +
                                      " files\n\n" +
                                      BackupNote(result.backupSet, saves, FrontEnd::Window));
    for (const std::string& name : names) {
        EXPECT_EQ(Save(name), Converted(name)) << name;
    }
}

TEST_F(ConvertSavesTest, RefusesNamesThatCannotStandForOneSave) {
    AddSave("a.sav");
    AddSave("a.sav.backup");
    names.push_back("a.sav");
    names.push_back("../a.sav");
    // Names compared as Windows compares them: the tool's side file of x.sav is X.SAV.BACKUP.
    AddSave("x.sav");
    AddSave("X.SAV.BACKUP");
    names.push_back("A.SAV");
#ifdef _WIN32
    for (const char* name : {"..\\a.sav", "C:a.sav", "a.sav:stream"}) {
        names.push_back(name);
    }
#endif
    BatchResult result = Run();
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
    EXPECT_EQ(Save("a.sav.backup"), Original("a.sav.backup"));
    EXPECT_EQ(Save("x.sav"), Converted("x.sav"));
    EXPECT_EQ(result.files[1].reason, "its name is the cipher tool's side file of a.sav");
    EXPECT_EQ(result.files[2].reason, "listed twice");
    EXPECT_EQ(result.files[3].reason, "not a plain file name");
#ifdef _WIN32
    EXPECT_EQ(Save("X.SAV.BACKUP"), Original("X.SAV.BACKUP"));
    EXPECT_EQ(result.files[5].reason, "its name is the cipher tool's side file of x.sav");
    EXPECT_EQ(result.files[6].reason, "listed twice: the file system takes it for a.sav");
    for (std::size_t i = 7; i < names.size(); ++i) {
        EXPECT_EQ(result.files[i].reason, "not a plain file name") << names[i];
    }
    EXPECT_EQ(result.changedCount, 2u);
#else
    // Here names differ by case, and the stand-in is no Windows program.
    EXPECT_EQ(Save("X.SAV.BACKUP"), Converted("X.SAV.BACKUP"));
    EXPECT_EQ(result.files[6].reason, "not found");
    EXPECT_EQ(result.changedCount, 3u);
#endif
}

TEST_F(ConvertSavesTest, WaitsForNoOneWhileAnotherInstanceHoldsTheWorkFolder) {
    AddSave("a.sav");
    WriteFile(WorkFolderOf(appDir) + "theirs.sav", "another instance's work copy");
    {
        FolderLock other(WorkFolderOf(appDir));
        ASSERT_TRUE(other.held());

        Status cleared = ClearWorkFolder(appDir);
        EXPECT_EQ(cleared.reason(), kWorkFolderBusy);
        BatchResult result = Run();
        EXPECT_EQ(result.refusal, kWorkFolderBusy);
        EXPECT_EQ(FullReport(result),
                  std::string("Changed versions DLC in 0 files\n\n") + kWorkFolderBusy);
        EXPECT_EQ(Save("a.sav"), Original("a.sav"));
        EXPECT_TRUE(ReadLines(log).empty());
        EXPECT_EQ(ReadFile(WorkFolderOf(appDir) + "theirs.sav"), "another instance's work copy");
    }
    EXPECT_TRUE(ClearWorkFolder(appDir).ok());
    EXPECT_TRUE(Run().allChanged());
}

#ifndef _WIN32
// Whichever folder on the way from the program folder is the link: the work folder itself, or
// the Decrypt folder that holds it.
TEST_F(ConvertSavesTest, AWorkFolderThatIsALinkIsNotEmptiedWithoutASaveFolderToCheck) {
    for (const std::string linked : {"Decrypt/temp", "Decrypt"}) {
        SCOPED_TRACE(linked);
        const std::string elsewhere = root / ("elsewhere-" + std::to_string(linked.size()));
        std::filesystem::create_directories(elsewhere + "/temp");
        std::filesystem::copy(appDir + "Decrypt/decrypt.exe", elsewhere + "/decrypt.exe");
        WriteFile(elsewhere + "/temp/slot1.sav", "a save");
        std::filesystem::rename(appDir + "Decrypt", root / "Decrypt-aside");
        std::filesystem::create_directories(appDir + "Decrypt");
        std::filesystem::remove_all(appDir + linked);
        std::filesystem::create_directory_symlink(
            linked == "Decrypt" ? elsewhere : elsewhere + "/temp", appDir + linked);

        EXPECT_TRUE(ClearWorkFolder(appDir).ok());
        EXPECT_EQ(ReadFile(elsewhere + "/temp/slot1.sav"), "a save");
        std::filesystem::remove(appDir + linked);
        std::filesystem::remove_all(appDir + "Decrypt");
        std::filesystem::rename(root / "Decrypt-aside", appDir + "Decrypt");
    }
}
#endif

// What replaces a save is what its proof covered: a work copy rewritten after the proof fails
// the save, which stays as it was.
TEST_F(ConvertSavesTest, AWorkCopyRewrittenAfterItsProofNeverReachesTheSave) {
    AddSave("a.sav");
    AddSave("b.sav");
    recorder.onCursor = [&](std::size_t index) {
        if (recorder.cursor.size() == 8 && index == 0) { // the replacement of a.sav
            WriteFile(WorkFolderOf(appDir) + "a.sav", Converted("b.sav"));
        }
    };
    BatchResult result = Run();
    EXPECT_EQ(Outcome(result, "a.sav").reason, std::string("copy failed: ") + kChangedAfterProof);
    EXPECT_EQ(Save("a.sav"), Original("a.sav"));
    EXPECT_EQ(Save("b.sav"), Converted("b.sav"));
}

// Kept deciphered saves that two different saves share show a wrong decipher: the saves are
// deciphered again, alone, and converted from their own data, whether the other save is in the
// batch or only kept.
TEST_F(ConvertSavesTest, SavesThatDecipherAlikeAreDecipheredAgainAlone) {
    AddSave("a.sav");
    AddSave("b.sav");
    for (bool bothListed : {true, false}) {
        SCOPED_TRACE(bothListed);
        WriteFile(saves + "/a.sav", Original("a.sav"));
        WriteFile(saves + "/b.sav", Original("b.sav"));
        WriteFile(log, "");
        DecipheredSaves kept;
        kept.useFor(saves, ToolStamp(appDir, WorkFolderOf(appDir)));
        const std::string plainB = testsupport::PlainSave(kSaveSize, Seed("b.sav"));
        kept.keep(Sha256Of(Original("a.sav")), plainB); // b's data kept for a
        kept.keep(Sha256Of(Original("b.sav")), plainB);
        Scn_Process runner;
        BatchRequest request{saves, bothListed ? names : std::vector<std::string>{"a.sav"}, appDir,
                             "200"};
        request.deciphered = &kept;
        EXPECT_EQ(ConvertSaves(request, runner).changedCount, request.names.size());
        EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
        EXPECT_EQ(Save("b.sav"), bothListed ? Converted("b.sav") : Original("b.sav"));
        const std::vector<std::string> runs = ReadLines(log);
        EXPECT_GE(std::count(runs.begin(), runs.end(), "decrypt a.sav"), 2);
    }
}

#ifndef _WIN32
// A link is the same file as a listed save only when it leads to that save's own path: a link
// to another hard link of it is converted there.
TEST_F(ConvertSavesTest, ALinkIsTheSameFileOnlyWhenItLeadsToTheListedSave) {
    AddSave("a.sav");
    testsupport::MakeDir(root / "other");
    ASSERT_EQ(::link((saves + "/a.sav").c_str(), (root / "other/x.sav").c_str()), 0);
    ASSERT_EQ(::symlink("../other/x.sav", (saves + "/c.sav").c_str()), 0);
    ASSERT_EQ(::symlink("a.sav", (saves + "/b.sav").c_str()), 0);
    names = {"a.sav", "b.sav", "c.sav"};
    BatchResult result = Run();
    EXPECT_EQ(result.changedCount, 2u);
    EXPECT_EQ(Outcome(result, "b.sav").reason, "same file as a.sav");
    EXPECT_TRUE(Outcome(result, "c.sav").changed);
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
    EXPECT_EQ(Save("c.sav"), Converted("a.sav"));
    EXPECT_EQ(ReadFile(root / "other/x.sav"), Converted("a.sav"));
}
#endif

TEST_F(ConvertSavesTest, NeverLetsTwoSavesShareAWorkCopy) {
    // On a file system that ignores case, "B.sav" and "b.sav" would meet in one work copy;
    // here the clash is staged by putting b.sav's work copy in place before its turn.
    AddSave("a.sav");
    AddSave("b.sav");
    recorder.onCursor = [&](std::size_t index) {
        if (recorder.cursor.size() == 2 && index == 1) {
            WriteFile(WorkFolderOf(appDir) + "b.sav", "the work copy of B.sav");
        }
    };
    BatchResult result = Run();
    EXPECT_EQ(Outcome(result, "b.sav").reason, "its work copy clashes with another save's");
    EXPECT_EQ(Save("b.sav"), Original("b.sav"));
    EXPECT_EQ(Save("a.sav"), Converted("a.sav"));
}

// A plain form is patched only once confirmed: by enciphering back to its save where the tool
// enciphers alike, else by a second decipher and the save's length. The saves' lengths differ
// modulo 16, so a padded cipher's lengths differ too. A decipher cut once is done again alone;
// one cut every time, or kept from another tool, never reaches a save, whichever save is first;
// a first encipher that misbehaves once weakens no save's witness.
TEST_F(ConvertSavesTest, OnlyAConfirmedPlainFormIsPatched) {
    enum Cipher { kAlike, kSalted, kPadded };
    const char* const kNone = "";
    const struct {
        Cipher cipher;
        const char* faults; // "kept;...": a.sav's plain form kept from another tool
        const char* failed; // the saves left alone: a few letters
        const char* reason;
        std::size_t runs; // tool runs in all, 0 where not counted
    } cases[] = {
        {kAlike, "", "", kNone, 12},
        {kAlike, "decrypt:truncate=1000:b.sav#1", "", kNone, 0},
        {kAlike, "decrypt:truncate=1000:b.sav", "b", kTwoResults, 0},
        {kAlike, "decrypt:truncate=1000:a.sav", "a", kTwoResults, 0},
        {kAlike, "kept", "", kNone, 0},
        {kAlike, "encrypt:truncate=100:a.sav#1;decrypt:truncate=1000:*", "abc", kTwoResults, 0},
        {kAlike, "encrypt:corrupt:a.sav#1", "", kNone, 13},
        {kAlike, "encrypt:corrupt:a.sav#1;decrypt:truncate=1000:b.sav", "b", kTwoResults, 0},
        {kAlike, "kept;encrypt:corrupt:a.sav#1;decrypt:corrupt:b.sav#1;decrypt:corrupt:b.sav#2",
         "b", kTwoResults, 0},
        {kSalted, "", "", kNone, 14},
        {kSalted, "decrypt:truncate=1000:b.sav#1", "", kNone, 0},
        {kSalted, "decrypt:truncate=1000:b.sav", "b", kNotWhole, 0},
        {kSalted, "decrypt:truncate=1000:a.sav", "a", kNotWhole, 0},
        {kSalted, "kept", "", kNone, 0},
        {kSalted, "encrypt:truncate=100:a.sav#1;decrypt:truncate=1000:*", "abc", kTwoResults, 0},
        {kPadded, "", "", kNone, 14},
        {kPadded, "decrypt:truncate=1000:b.sav#1", "", kNone, 0},
        {kPadded, "decrypt:truncate=1000:b.sav", "b", kNotWhole, 0},
        {kPadded, "decrypt:truncate=1000:c.sav", "c", kNotWhole, 0},
        {kPadded, "kept", "", kNone, 0},
        {kPadded, "encrypt:truncate=100:a.sav#1;decrypt:truncate=1000:b.sav", "b", kNotWhole, 0},
    };
    names = {"a.sav", "b.sav", "c.sav"};
    const std::map<std::string, std::size_t> sizes = {
        {"a.sav", kSaveSize}, {"b.sav", kSaveSize + 7}, {"c.sav", kSaveSize + 21}};
    for (std::size_t jobs : {1u, 3u}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.cipher) + " " + c.faults + ", " + std::to_string(jobs) +
                         " jobs");
            const std::string counts =
                root / ("state" + std::to_string(&c - cases) + "-" + std::to_string(jobs));
            testsupport::MakeDir(counts);
            ScopedEnv count("STAND_IN_CIPHER_STATE", counts);
            ScopedEnv salt("STAND_IN_CIPHER_SALT", c.cipher == kSalted ? "1" : "0");
            ScopedEnv mode("STAND_IN_CIPHER_MODE", c.cipher == kPadded ? "padded" : "");
            const std::string_view rules(c.faults);
            const bool kept = rules.starts_with("kept");
            ScopedEnv faults(
                "STAND_IN_CIPHER_FAULTS",
                std::string(kept ? rules.substr(std::min<std::size_t>(rules.size(), 5)) : rules));
            std::map<std::string, std::string> originals;
            std::map<std::string, std::string> converted;
            for (const std::string& name : names) {
                std::string plain = testsupport::PlainSave(sizes.at(name), Seed(name));
                const std::string iv = name + "-initial-vector";
                originals[name] = c.cipher == kSalted   ? standin::EncipherSalted(plain, iv)
                                  : c.cipher == kPadded ? standin::EncipherPadded(plain, iv)
                                                        : standin::Encipher(plain);
                SetDlcField(plain, 200);
                converted[name] = plain;
                WriteFile(saves + "/" + name, originals[name]);
            }
            DecipheredSaves other;
            other.useFor(saves, ToolStamp(appDir, WorkFolderOf(appDir)));
            other.keep(Sha256Of(originals["a.sav"]), std::string(kSaveSize, '\x01'));
            Scn_Process runner;
            BatchRequest request{saves, names, appDir, "200"};
            request.jobs = jobs;
            request.deciphered = kept ? &other : nullptr;

            WriteFile(log, "");
            BatchResult result = ConvertSaves(request, runner);
            if (c.runs != 0) {
                // Four runs a save, two a batch to find a salt or an IV, one for a first
                // encipher that misbehaved.
                EXPECT_EQ(ReadLines(log).size(), c.runs);
            }

            for (const std::string& name : names) {
                const std::string saved = Save(name);
                if (std::string_view(c.failed).find(name[0]) != std::string_view::npos) {
                    EXPECT_EQ(Outcome(result, name).reason, c.reason) << name;
                    EXPECT_TRUE(saved == originals[name]) << name;
                } else {
                    EXPECT_TRUE(Outcome(result, name).changed) << Outcome(result, name).reason;
                    EXPECT_TRUE((c.cipher == kPadded ? standin::DecipherPadded(saved)
                                                     : standin::Decipher(saved)) == converted[name])
                        << name;
                    EXPECT_EQ(saved.size(), originals[name].size()) << name;
                }
            }
            ExpectCleanWorkFolder();
        }
    }
}

// Three saves, one scratch file at a fixed path and three jobs: a.sav deciphers to b.sav's data
// and b.sav to c.sav's. Twins are deciphered again alone until none are left, so each save is
// converted from its own data, whether the witness is the save itself or a second decipher.
TEST_F(ConvertSavesTest, TwinsInAChainAreDecipheredAloneUntilNoneAreLeft) {
    names = {"a.sav", "b.sav", "c.sav"};
    ScopedEnv scratch("STAND_IN_CIPHER_SCRATCH", root / "fixed-scratch.tmp");
    ScopedEnv wait("STAND_IN_CIPHER_SCRATCH_MS", "75");
    // Each run waits before it writes the scratch file: a.sav first, b.sav, then c.sav.
    ScopedEnv order("STAND_IN_CIPHER_FAULTS", "decrypt:sleep=50:b.sav;decrypt:sleep=100:c.sav");
    for (bool salted : {false, true}) {
        SCOPED_TRACE(salted ? "salted" : "enciphered alike");
        ScopedEnv salt("STAND_IN_CIPHER_SALT", salted ? "1" : "0");
        for (const std::string& name : names) {
            const std::string plain = testsupport::PlainSave(kSaveSize, Seed(name));
            WriteFile(saves + "/" + name,
                      salted ? standin::EncipherSalted(plain, name + "-salt!") : Original(name));
        }
        Scn_Process runner;
        BatchRequest request{saves, names, appDir, "200"};
        request.jobs = 3;
        BatchResult result = ConvertSaves(request, runner);
        EXPECT_TRUE(result.allChanged()) << FullReport(result);
        for (const std::string& name : names) {
            EXPECT_TRUE(standin::Decipher(Save(name)) == standin::Decipher(Converted(name)))
                << name;
        }
    }
}

// The same chain without a witness, as reading versions has none, formed by deciphered saves kept
// from earlier: a.sav's kept plain form is b.sav's, b.sav's is c.sav's. Each round deciphers alone
// the twins not yet deciphered alone: b.sav and c.sav, then a.sav; each reads its own value.
TEST_F(ConvertSavesTest, TwinsInAChainAreReadAgainRoundByRound) {
    names = {"a.sav", "b.sav", "c.sav"};
    std::map<std::string, std::string> plains;
    for (const std::string& name : names) {
        std::string plain = testsupport::PlainSave(kSaveSize, Seed(name));
        SetDlcField(plain, static_cast<std::int16_t>(100 * (name[0] - 'a')));
        WriteFile(saves + "/" + name, standin::Encipher(plain));
        plains[name] = plain;
    }
    DecipheredSaves kept;
    kept.useFor(saves, ToolStamp(appDir, WorkFolderOf(appDir)));
    kept.keep(Sha256Of(Save("a.sav")), plains["b.sav"]);
    kept.keep(Sha256Of(Save("b.sav")), plains["c.sav"]);
    BatchRequest request{saves, names, appDir, "200"};
    request.jobs = 1;
    request.deciphered = &kept;
    Scn_Process runner;
    WriteFile(log, "");
    BatchResult result = ReadSaveVersions(request, runner);
    for (const std::string& name : names) {
        EXPECT_EQ(Outcome(result, name).oldValue, 100 * (name[0] - 'a')) << name;
    }
    EXPECT_EQ(ReadLines(log), (std::vector<std::string>{"decrypt c.sav", "decrypt b.sav",
                                                        "decrypt c.sav", "decrypt a.sav"}));
}

namespace {

// The stand-in tool rewritten in place with another key: the same size, its times set back.
void RewriteKey(const std::string& tool, char key) {
    std::string bytes = ReadFile(tool);
    const std::string mark = "OSTRAPEL-STAND-IN-KEY=";
    const std::size_t at = bytes.find(mark);
    ASSERT_NE(at, std::string::npos);
    const auto time = std::filesystem::last_write_time(testsupport::Native(tool));
    std::fstream file(testsupport::Native(tool), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at + mark.size()));
    file.put(key);
    file.close();
    std::filesystem::last_write_time(testsupport::Native(tool), time);
}

// What the stand-in with that key makes of a plain form.
std::string EncipheredWithKey(const std::string& plain, char key) {
    std::string out = standin::Encipher(plain);
    for (std::size_t i = standin::kHeader.size(); i < out.size() && key != '0'; ++i) {
        out[i] = static_cast<char>(out[i] ^ (key * 37));
    }
    return out;
}

} // namespace

// One tool a batch: every run, alone or not, runs a copy verified against the tool by its bytes,
// so a tool rewritten in place with its old size and time, between two batches or between
// reading and converting, is copied afresh and nothing kept from the old one is used. The tool's
// folder stays as it is whatever the tool writes beside itself, and with one job the tool works
// in the work folder.
TEST_F(ConvertSavesTest, EveryRunOfABatchRunsOneVerifiedCopyOfTheTool) {
    names = {"a.sav", "b.sav", "c.sav"};
    const std::string tool = CipherToolOf(appDir);
    const std::string folders = root / "folders.log";
    ScopedEnv beside("STAND_IN_CIPHER_SCRATCH", "beside");
    ScopedEnv wait("STAND_IN_CIPHER_SCRATCH_MS", "0");
    ScopedEnv where("STAND_IN_CIPHER_FOLDER_LOG", folders);
    // The tool's folder as it is, the work folder's lock aside (it stays there on Windows).
    const auto toolFolderNow = [&] {
        std::vector<std::string> listed = SortedNames(appDir + "Decrypt");
        std::erase_if(listed,
                      [](const std::string& name) { return IsOwnEntryOfToolFolder(name, "temp"); });
        return listed;
    };
    const std::vector<std::string> toolFolder = toolFolderNow();
    DecipheredSaves kept;
    const struct {
        char key;            // the tool's key for this batch
        bool rewriteMidRead; // rewritten to it while the saves are read, before converting
        std::size_t jobs;
    } batches[] = {{'0', false, 2}, {'1', false, 2}, {'0', true, 2}, {'1', true, 1}};
    char now = '0';
    for (const auto& batch : batches) {
        SCOPED_TRACE(std::string(1, batch.key) + (batch.rewriteMidRead ? " mid-read " : " ") +
                     std::to_string(batch.jobs));
        for (const std::string& name : names) {
            WriteFile(saves + "/" + name,
                      EncipheredWithKey(testsupport::PlainSave(kSaveSize, Seed(name)), batch.key));
        }
        WriteFile(folders, "");
        BatchRequest request{saves, names, appDir, "200"};
        request.jobs = batch.jobs;
        request.deciphered = &kept;
        Scn_Process runner;
        if (batch.rewriteMidRead) {
            recorder.onCursor = [&](std::size_t index) {
                if (index == 1 && now != batch.key) {
                    RewriteKey(tool, batch.key);
                    now = batch.key;
                }
            };
            (void)ReadSaveVersions(request, runner, &recorder);
            recorder.onCursor = nullptr;
        } else if (now != batch.key) {
            RewriteKey(tool, batch.key);
            now = batch.key;
        }
        BatchResult result = ConvertSaves(request, runner);
        EXPECT_TRUE(result.allChanged()) << FullReport(result);
        for (const std::string& name : names) {
            std::string plain = testsupport::PlainSave(kSaveSize, Seed(name));
            SetDlcField(plain, 200);
            EXPECT_TRUE(Save(name) == EncipheredWithKey(plain, batch.key)) << name;
        }
        EXPECT_EQ(toolFolderNow(), toolFolder);
        for (const std::string& folder : ReadLines(folders)) {
            EXPECT_EQ(folder.rfind(ResolvedPath(WorkFolderOf(appDir)), 0), 0u) << folder;
        }
    }
}

// A tool that remembers earlier runs gives two saves of one size the plain form of a third,
// already at the value: neither is called already, for that plain form enciphers back to
// neither, nor may two different saves share it.
TEST_F(ConvertSavesTest, ASaveReadAtTheValueIsWitnessedBeforeItIsCalledAlready) {
    AddSave("a.sav");
    AddSave("b.sav");
    const std::string cache = root / "cache";
    testsupport::MakeDir(cache);
    WriteFile(cache + "/decrypt-" + std::to_string(Original("a.sav").size()),
              standin::Decipher(Converted("c.sav")).value());
    ScopedEnv remembers("STAND_IN_CIPHER_CACHE", cache);
    BatchResult result = Run();
    EXPECT_EQ(result.alreadyCount, 0u);
    EXPECT_EQ(result.changedCount, 0u);
    for (const std::string& name : names) {
        EXPECT_EQ(Outcome(result, name).reason, kTwoResults) << name;
        EXPECT_FALSE(Outcome(result, name).already) << name;
        EXPECT_EQ(Save(name), Original(name)) << name;
    }
}

// A wrong tool is suspected when more than half of the saves read show no known version.
TEST(MostlyUnknownVersions, MoreThanHalfOfTheSavesRead) {
    const struct {
        std::size_t unknown, read;
        bool mostly;
    } cases[] = {{0, 0, false}, {0, 3, false}, {1, 2, false}, {2, 4, false},
                 {1, 1, true},  {2, 3, true},  {3, 4, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(MostlyUnknownVersions(c.unknown, c.read), c.mostly)
            << c.unknown << " of " << c.read;
    }
}
