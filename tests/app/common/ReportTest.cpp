#include "Report.h"

#include "Words.h"
#include "system/Paths.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace ostrapel;

namespace {

constexpr const char* kToolFailed = "cipher tool failed (exit code 3)";

// What a save's reason is when the cipher tool ended so, having said words (its output).
ProcessOutcome Ended(ProcessOutcome::Kind kind, int exitCode, std::string words = {}) {
    ProcessOutcome outcome;
    outcome.kind = kind;
    outcome.exitCode = exitCode;
    outcome.output = std::move(words);
    return outcome;
}

Phrase ToolSaid(int exitCode, std::string words) {
    return ToolFailure(Ended(ProcessOutcome::Kind::Exited, exitCode, std::move(words)));
}

// Four saves changed and 60 screenshots the cipher tool failed on, in list order.
std::vector<FileOutcome> SavesAndScreenshots() {
    std::vector<FileOutcome> files;
    for (int i = 1; i <= 60; ++i) {
        files.push_back({"screenshot_" + std::to_string(i) + ".png", false, kToolFailed});
    }
    for (const char* name : {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"}) {
        files.push_back({name, true, {}});
    }
    return files;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST(Report, GroupsTheEntriesNotChangedByReasonWithTheFirstFewNames) {
    EXPECT_EQ(GroupedSummary(SavesAndScreenshots()),
              "60 files: cipher tool failed (exit code 3): screenshot_1.png, screenshot_2.png, "
              "screenshot_3.png and 57 more");

    const std::vector<FileOutcome> files = {
        {"a.sav", false, "is read-only"}, {"b.sav", true, {}},
        {"c.sav", false, "not found"},    {"d.sav", false, "is read-only"},
        {"saves", false, "is a folder"},  {"e.sav", false, "not found"},
        {"f.sav", false, "is read-only"}, {"g.sav", false, "is read-only"},
    };
    // The most frequent first; as frequent as each other, in list order of their first entry.
    EXPECT_EQ(GroupedSummary(files), "4 files: is read-only: a.sav, d.sav, f.sav and 1 more\n"
                                     "2 files: not found: c.sav, e.sav\n"
                                     "1 file: is a folder: saves");
    const std::vector<ReasonGroup> groups = GroupByReason(files);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].entries, (std::vector<std::size_t>{0, 3, 6, 7}));
    EXPECT_EQ(groups[1].reason, "not found");
    EXPECT_EQ(groups[2].entries, (std::vector<std::size_t>{4}));

    EXPECT_EQ(GroupedSummary({{"a.sav", true, {}}}), "");
    EXPECT_EQ(NotChangedCount(files), 7u);
}

TEST(Report, SumsUpTheReasonsBeyondTheLimitOnOneLine) {
    std::vector<FileOutcome> files;
    for (int i = 0; i < 8; ++i) {
        for (int n = 0; n <= 8 - i; ++n) { // reason 0 is the most frequent
            // Appended, not glued before a literal: GCC 12's release build takes that for an
            // overlapping copy.
            std::string name = "s";
            name.append(std::to_string(i)).append("-").append(std::to_string(n));
            std::string reason = "reason ";
            reason.append(std::to_string(i));
            files.push_back({std::move(name), false, std::move(reason)});
        }
    }
    const std::vector<std::string> lines = Lines(GroupedSummary(files));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "9 files: reason 0: s0-0, s0-1, s0-2 and 6 more");
    EXPECT_EQ(lines[4], "5 files: reason 4: s4-0, s4-1, s4-2 and 2 more");
    EXPECT_EQ(lines[5], "9 files for 3 other reasons"); // 4 + 3 + 2 entries for reasons 5-7

    const std::vector<std::string> seven = Lines(GroupedSummary(files, {.groups = 7}));
    ASSERT_EQ(seven.size(), 8u);
    EXPECT_EQ(seven[6], "3 files: reason 6: s6-0, s6-1, s6-2");
    EXPECT_EQ(seven[7], "2 files for 1 other reason");
    EXPECT_EQ(GroupedSummary(files, {.groups = 0}), "44 files for 8 reasons");
    EXPECT_EQ(GroupedSummary(files, {.groups = 1, .namesPerGroup = 0}),
              "9 files: reason 0\n35 files for 7 other reasons");
}

TEST(Report, ShortensLongNamesAndReasonsOnCharacterBoundaries) {
    const std::string longName = std::string(120, 'a') + "-" + std::string(134, 'z'); // 255
    const std::vector<FileOutcome> files = {
        {longName, false, std::string(300, 'r')},
        {"new\nline\t.sav", false, std::string(300, 'r')},
    };
    const std::string summary = GroupedSummary(files);
    EXPECT_EQ(summary, "2 files: " + std::string(77, 'r') + "...: " + std::string(19, 'a') + "..." +
                           std::string(18, 'z') + ", new\\nline\\t.sav");
    // The full names stay in the one-per-line list.
    EXPECT_EQ(NotChangedLines(files), longName + ": " + std::string(300, 'r') +
                                          "\nnew\nline\t.sav: " + std::string(300, 'r'));

    // Characters, not bytes: no sequence is cut, a stray byte is one character.
    const std::string accents = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"; // 6 × é
    EXPECT_EQ(ShortenedInTheMiddle(accents, 5), "\xC3\xA9...\xC3\xA9");
    EXPECT_EQ(ShortenedAtTheEnd(accents, 5), "\xC3\xA9\xC3\xA9...");
    EXPECT_EQ(ShortenedInTheMiddle("\xB2\xB2\xB2\xB2\xB2\xB2", 5), "\xB2...\xB2");
    EXPECT_EQ(ShortenedAtTheEnd("ab\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", 5),
              "ab\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC");
    EXPECT_EQ(ShortenedAtTheEnd("abcdef", 5), "ab...");
    EXPECT_EQ(ShortenedInTheMiddle("abcdef", 6), "abcdef");
    EXPECT_EQ(ShortenedInTheMiddle("abcdef", 2), "..");
}

// Whatever the number of entries and the length of their names and reasons, the summary has
// at most one line per shown reason and one more, each of bounded length.
TEST(Report, TheSummaryStaysSmallForAThousandEntries) {
    std::vector<FileOutcome> files;
    for (int i = 0; i < 1000; ++i) {
        std::string name = std::to_string(i) + std::string(251, '\xE9'); // not UTF-8
        name.resize(255);
        files.push_back(
            {name, false,
             "cipher tool failed (exit code 1): " + std::to_string(i) + std::string(400, 'x')});
    }
    const SummaryLimits limits;
    const std::vector<std::string> lines = Lines(GroupedSummary(files, limits));
    ASSERT_EQ(lines.size(), limits.groups + 1);
    for (const std::string& line : lines) {
        EXPECT_LE(CharacterCount(line),
                  16 + limits.reasonLength + limits.namesPerGroup * (limits.nameLength + 2) + 16);
    }
    EXPECT_EQ(lines.back(), "995 files for 995 other reasons");
    EXPECT_EQ(Lines(NotChangedLines(files)).size(), 1000u);
}

TEST(Report, TheBoxShowsTheGroupsAndHasEveryEntryInItsDetails) {
    BatchResult result;
    result.files = SavesAndScreenshots();
    result.changedCount = 4;
    FullReport(result) = ComposeReport(result.files);
    const BoxReport box = ComposeBoxReport(result);
    EXPECT_EQ(box.text, "Changed versions DLC in 4 files\n\nNot changed:\n"
                        "60 files: cipher tool failed (exit code 3)\n"
                        "    screenshot_1.png, screenshot_2.png, screenshot_3.png and 57 more");
    const std::vector<std::string> details = Lines(box.details);
    ASSERT_EQ(details.size(), 60u);
    EXPECT_EQ(details.front(), "screenshot_1.png: cipher tool failed (exit code 3)");
    EXPECT_EQ(details.back(), "screenshot_60.png: cipher tool failed (exit code 3)");

    // The report of the batch itself keeps one line per entry.
    const std::vector<std::string> report = Lines(FullReport(result));
    ASSERT_EQ(report.size(), 63u);
    EXPECT_EQ(report[0], "Changed versions DLC in 4 files");
    EXPECT_EQ(report[2], "Not changed:");
    EXPECT_EQ(report[3], details.front());
    result.note = "The cipher tool ran on one save at a time";
    EXPECT_TRUE(ComposeBoxReport(result).text.ends_with("and 57 more\n\n" + result.note.English()));

    BatchResult allChanged;
    allChanged.files = {{"a.sav", true, {}}};
    allChanged.changedCount = 1;
    FullReport(allChanged) = ComposeReport(allChanged.files);
    EXPECT_EQ(ComposeBoxReport(allChanged).text, "Changed versions DLC in 1 files");
    EXPECT_EQ(ComposeBoxReport(allChanged).details, "");

    BatchResult refused;
    refused.files = {{"a.sav", false, "not converted"}};
    refused.refusal = "Cipher tool not found: /app/Decrypt/decrypt.exe";
    FullReport(refused) = "Changed versions DLC in 0 files\n\n" + refused.refusal.English();
    EXPECT_EQ(ComposeBoxReport(refused).text, FullReport(refused));
    EXPECT_EQ(ComposeBoxReport(refused).details, "");
}

// A restore that left a thousand saves alone, each with its original at a long path of its own:
// the box groups them by reason, whatever the paths, and names the set once; the details
// keep every save with its full reason.
TEST(Report, TheRestoreBoxGroupsTheSavesLeftAloneAndHasEveryOneInItsDetails) {
    RestoreResult result;
    result.setFolder = "/home/player/" + std::string(300, 'd') + "/backups/5d2c/7";
    for (int i = 1; i <= 1000; ++i) {
        RestoreOutcome file{"slot " + std::to_string(i) + std::string(230, 's') + ".sav",
                            false,
                            "changed since the conversion",
                            result.setFolder + "/original-" + std::to_string(i),
                            {}};
        if (i % 100 == 0) {
            file.reason = "removed since the conversion";
        } else if (i % 250 == 1) {
            file.reason = "could not be put back: is read-only";
            file.original.clear();
        } else if (i % 5 == 0) {
            file.restored = true;
            file.reason = Phrase();
            file.original.clear();
        }
        result.restoredCount += file.restored ? 1 : 0;
        result.files.push_back(std::move(file));
    }
    FullReport(result) = ComposeRestoreReport(result.files);
    ASSERT_EQ(result.restoredCount, 190u);

    const BoxReport box = ComposeRestoreBoxReport(result);
    const std::vector<std::string> text = Lines(box.text);
    ASSERT_EQ(text.size(), 11u) << box.text;
    EXPECT_EQ(text[0], "Restored 190 files");
    EXPECT_EQ(text[2], "Not restored:");
    EXPECT_EQ(text[3], "796 files: changed since the conversion");
    EXPECT_EQ(text[4].rfind("    slot 2sssss", 0), 0u);
    EXPECT_TRUE(text[4].ends_with("sss.sav and 793 more")) << text[4];
    EXPECT_EQ(text[5], "10 files: removed since the conversion");
    EXPECT_EQ(text[7], "4 files: could not be put back: is read-only");
    EXPECT_EQ(
        text[10].rfind("The originals of the saves not restored are kept in /home/player/d", 0),
        0u);
    EXPECT_TRUE(text[10].ends_with("d/backups/5d2c/7")) << text[10];
    EXPECT_EQ(CharacterCount(text[10]), 52u + 260u); // an ordinary path is shown whole
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_LE(CharacterCount(text[i]), 250u) << text[i];
    }

    // The details: every save not restored, one a line as the report of the restore has them.
    const std::vector<std::string> details = Lines(box.details);
    ASSERT_EQ(details.size(), 810u);
    EXPECT_EQ(details[0], result.files[0].name + ": could not be put back: is read-only");
    EXPECT_EQ(details[1], result.files[1].name +
                              ": changed since the conversion; its original "
                              "is kept at " +
                              result.setFolder + "/original-2");
    EXPECT_EQ(details[80], result.files[99].name +
                               ": removed since the conversion; its original "
                               "is kept at " +
                               result.setFolder + "/original-100");
    EXPECT_EQ("Restored 190 files\n\nNot restored:\n" + box.details, FullReport(result));

    // The tightest summary still names the most frequent reason.
    EXPECT_EQ(Lines(ComposeRestoreBoxReport(result, {.groups = 0, .namesPerGroup = 0}).text)[4],
              "14 files for 2 other reasons");
}

TEST(Report, TheRestoreBoxOfAWholeRestoreOrARefusalIsItsReport) {
    RestoreResult all;
    // The versions the saves hold again, when their sets recorded them.
    using Before = std::optional<std::int16_t>;
    const struct {
        Before a, b;
        std::string text;
    } backTo[] = {
        {{}, {}, "Restored 2 files"},
        {100, {}, "Restored 2 files"},
        {100, 100, "Restored 2 files\nBack to 1.00."},
        {400, 100, "Restored 2 files\nBack to versions 1.00, 4.00."},
        {250, 100, "Restored 2 files\nBack to versions 1.00, not a known version (250)."},
    };
    for (const auto& c : backTo) {
        all.files = {{"a.sav", true, {}, {}, c.a}, {"b.sav", true, {}, {}, c.b}};
        all.restoredCount = 2;
        EXPECT_EQ(ComposeRestoreBoxReport(all).text, c.text);
        EXPECT_EQ(ComposeRestoreBoxReport(all).details, "");
    }
    all.files = {{"a.sav", true, {}, {}, {}}, {"b.sav", true, {}, {}, {}}};
    FullReport(all) = ComposeRestoreReport(all.files);

    // Every save back, but the set could not be marked undone: said in the text, no details.
    all.notMarked = "Cannot mark the backup set /b/1 undone: is read-only";
    EXPECT_EQ(ComposeRestoreBoxReport(all).text, "Restored 2 files\n\n" + all.notMarked.English());
    EXPECT_EQ(ComposeRestoreBoxReport(all).details, "");

    RestoreResult refused;
    refused.status = Status::Fail("The backup set /b/1 cannot be used: its manifest is damaged");
    EXPECT_EQ(ComposeRestoreBoxReport(refused).text, FullReport(refused));
    EXPECT_EQ(ComposeRestoreBoxReport(refused).details, "");

    RestoreResult nothing;
    nothing.nothingToUndo = true;
    nothing.saveFolder = "/saves";
    EXPECT_EQ(ComposeRestoreBoxReport(nothing).text, "No conversion of /saves to undo");
}

TEST(Report, GroupsByCauseWhenTheToolsWordsNameEachFile) {
    const std::vector<FileOutcome> files = {
        {"notes.txt", false, ToolSaid(65, "cannot read notes.txt: not a save")},
        {"a.sav", true, {}},
        {"list.txt", false, ToolSaid(65, "cannot read /work/list.txt")},
        {"todo.txt", false, ToolSaid(65, "todo.txt: not a save")},
        {"b.sav", false, ToolSaid(65, "bad header")},
        {"c.sav", false, Phrase::Verbatim("c.sav is a folder")},
    };
    EXPECT_EQ(GroupedSummary(files),
              "3 files: cipher tool failed (exit code 65): notes.txt, list.txt, todo.txt\n"
              "1 file: cipher tool failed (exit code 65): bad header: b.sav\n"
              "1 file: c.sav is a folder: c.sav");
    // The details keep each file's own words.
    EXPECT_EQ(Lines(NotChangedLines(files))[0],
              "notes.txt: cipher tool failed (exit code 65): cannot read notes.txt: not a save");
}

TEST(Report, OurOwnCountsUseTheSingularForOne) {
    const auto already = [](std::size_t count) {
        std::vector<FileOutcome> files(count, {"a.sav", false, {}});
        for (FileOutcome& file : files) {
            file.already = true;
            file.oldValue = 200;
        }
        return AlreadyLine(files);
    };
    const auto restored = [](std::size_t count) {
        RestoreResult result;
        result.restoredCount = count;
        result.files.assign(count, {});
        for (RestoreOutcome& file : result.files) {
            file.restored = true;
        }
        return ComposeRestoreBoxReport(result).text;
    };
    const std::vector<FileOutcome> oneChanged = {{"a.sav", true, {}}};
    struct Case {
        std::string text;
        std::string expected;
    };
    for (const Case& c : std::vector<Case>{
             {already(1), "Already at 2.00: 1 file"},
             {already(2), "Already at 2.00: 2 files"},
             {restored(1), "Restored 1 file"},
             {restored(3), "Restored 3 files"},
             // The headline is kept as it stands.
             {ChangedVersionsLine(oneChanged), "Changed versions DLC in 1 files"},
         }) {
        EXPECT_EQ(c.text, c.expected);
    }
}

// A reason too long is cut between words where a space lies in its second half, else where the
// room ends.
TEST(Report, ALongReasonIsCutBetweenWordsOnlyInItsSecondHalf) {
    const struct {
        std::string reason;
        std::string shown;
    } cases[] = {
        {"ab " + std::string(100, 'c'), "ab " + std::string(34, 'c') + "..."},
        {std::string(25, 'a') + " " + std::string(100, 'c'), std::string(25, 'a') + "..."},
        {std::string(40, 'a'), std::string(40, 'a')},
    };
    for (const auto& c : cases) {
        const std::vector<EntryLeft> entries = {{"a.sav", Phrase(c.reason)}};
        EXPECT_EQ(ReadableSummary(entries, {.namesPerGroup = 0, .reasonLength = 20}),
                  "1 file: " + c.shown);
    }
}

// Files the tool refused to decipher are most likely no saves: the box warns only for a save
// that was read and not changed, a failure of another kind, or when no save was read at all.
TEST(Report, FilesTheToolRefusedToDecipherDoNotMakeTheBoxWarn) {
    const FileOutcome changed{"a.sav", true, {}, false, false, 100, 200};
    const FileOutcome already{"b.sav", false, {}, true, false, 200, 200};
    const FileOutcome picture{"shot.png", false, ToolSaid(65, "shot.png is not enciphered")};
    const FileOutcome notEnciphered{"c.sav", false, ToolSaid(65, "cannot write"),
                                    false,   false, 100};
    const FileOutcome crashed{"d.sav", false,
                              ToolFailure(Ended(ProcessOutcome::Kind::Signaled, 11))};
    const FileOutcome timedOut{"e.sav", false,
                               ToolFailure(Ended(ProcessOutcome::Kind::TimedOut, 0))};
    const FileOutcome readOnly{"f.sav", false, "is read-only"};
    const struct {
        std::vector<FileOutcome> files;
        bool warns;
    } cases[] = {
        {{changed, picture, picture}, false},
        {{already, picture}, false},
        {{changed, already}, false},
        {{picture}, true}, // no save at all: most likely not the save folder
        {{}, true},
        {{changed, picture, notEnciphered}, true},
        {{changed, crashed}, true},
        {{changed, timedOut}, true},
        {{changed, readOnly}, true},
    };
    for (const auto& c : cases) {
        BatchResult result;
        result.files = c.files;
        EXPECT_EQ(BoxWarns(result), c.warns) << NotChangedLines(c.files);
    }
    BatchResult cancelled;
    cancelled.files = {changed};
    cancelled.cancelled = true;
    EXPECT_TRUE(BoxWarns(cancelled));
}

// The box at its tightest (the last of ShorterSummaries' kind: one group, no names): every group
// shown keeps its reason, the tool's words stand quoted on their own line, no line is a bare
// "and N more", a cancel is one line and a value the table lacks is named as such.
TEST(Report, TheBoxDropsNamesBeforeReasons) {
    BatchResult result;
    result.saveFolder = "/saves";
    for (int i = 1; i <= 60; ++i) {
        result.files.push_back(
            {"shot_" + std::to_string(i) + ".png", false, ToolSaid(3, "Unknown file format")});
    }
    result.files.push_back({"a.sav", true, {}, false, false, 257, 200});
    result.files.push_back({"b.sav", true, {}, false, false, 100, 200});
    result.changedCount = 2;
    const SummaryLimits tight{.groups = 1, .namesPerGroup = 0, .reasonLength = 40};
    EXPECT_EQ(ComposeBoxReport(result, tight).text,
              "Changed versions DLC in 2 files\n\nNot changed:\n"
              "60 files: not read as saves: the cipher tool refused them\n"
              "    The tool said: \"Unknown file format\"\n\n"
              "Changed:\na.sav: not a known version (257) -> 2.00\nand 1 file more");
    EXPECT_EQ(ComposeBoxReport(result, {.groups = 0}).text.find("\nand"), std::string::npos);

    // Cancelled: the saves it left for the cancel get no group.
    result.cancelled = true;
    for (FileOutcome& file : result.files) {
        if (!file.changed) {
            file.reason = "cancelled";
        }
    }
    EXPECT_EQ(Lines(ComposeBoxReport(result, tight).text),
              (std::vector<std::string>{"Changed versions DLC in 2 files", "",
                                        "Cancelled after 2 saves were replaced; all the others "
                                        "are as they were",
                                        "", "Changed:", "a.sav: not a known version (257) -> 2.00",
                                        "and 1 file more"}));

    // A reason too long for the box is cut between words.
    EXPECT_EQ(ReadableSummary({{"x.sav", "could not read back the work copy: the disk is full"}},
                              {.reasonLength = 20}),
              "1 file: could not read back the work copy...\n    x.sav");

    BatchResult empty;
    empty.saveFolder = "/saves/empty";
    EXPECT_EQ(ComposeBoxReport(empty).text, "Changed versions DLC in 0 files\n\nThere are no "
                                            "files in /saves/empty: nothing was changed");
}

// The tool's own words are told apart from ours; the system's words never pass for the tool's.
TEST(Report, SplitsTheToolsWordsFromOurs) {
    ProcessOutcome timedOut = Ended(ProcessOutcome::Kind::TimedOut, 0, "at 50% (slot 2): busy");
    timedOut.timeLimit = std::chrono::seconds(60);
    ProcessOutcome notStarted = Ended(ProcessOutcome::Kind::NotStarted, 0);
    notStarted.error = "Access is denied.";
    const struct {
        Phrase reason;
        const char* ours;
        const char* tools;
    } cases[] = {
        {ToolSaid(3, "Unknown format"), "cipher tool failed (exit code 3)", "Unknown format"},
        {ToolFailure(timedOut), "cipher tool did not finish within 60 s", "at 50% (slot 2): busy"},
        {ToolFailure(notStarted), "cipher tool could not be started: Access is denied.", ""},
        {ToolSaid(3, ""), "cipher tool failed (exit code 3)", ""},
        {Phrase::Verbatim("is read-only: a.sav"), "is read-only: a.sav", ""},
    };
    for (const auto& c : cases) {
        const ReasonWords words = SplitReason(c.reason);
        EXPECT_EQ(words.ours, c.ours) << c.reason;
        EXPECT_EQ(words.tools, c.tools) << c.reason;
    }
}

namespace {

// The program's words in a language for the test's length, English again after it.
class InLanguage {
public:
    explicit InLanguage(const char* tag) { UseLanguage(tag); }
    ~InLanguage() { UseLanguage("en"); }
    InLanguage(const InLanguage&) = delete;
    InLanguage& operator=(const InLanguage&) = delete;
};

std::string Pseudo(const char* text, const std::vector<Filled>& values = {}) {
    return Fill(PseudoWords(text), values);
}

// Two files the tool refused to decipher in words of its own, two saves it refused to encipher
// whose words name them, one read-only.
BatchResult ToolRefusals() {
    BatchResult result;
    result.saveFolder = "/saves";
    result.files = {
        {"slot 1.sav", false, ToolSaid(3, "Unknown format")},
        {"Пароль.sav", false, ToolSaid(65, "cannot write Пароль.sav"), false, false, 100},
        {"slot 2.sav", false, ToolSaid(3, "Unknown format")},
        {"notes.sav", false, ToolSaid(65, "cannot write notes.sav"), false, false, 100},
        {"c.sav", false, "is read-only"},
        {"a.sav", true, {}, false, false, 100, 200},
    };
    result.changedCount = 1;
    return result;
}

} // namespace

// Another language: our words are its own, the tool's words and the names as they are.
TEST(Report, AGroupedReportInAnotherLanguageKeepsTheToolsWordsAndTheNames) {
    const InLanguage pseudo(kPseudoLanguage);
    const BoxReport box = ComposeBoxReport(ToolRefusals(), {.namesPerGroup = 1});
    const std::string exit65 = Pseudo("exit code {code}", {{"code", "65"}});
    const std::string two = Pseudo("{n} files", {{"n", "2"}});
    EXPECT_EQ(
        Lines(box.text),
        (std::vector<std::string>{
            Pseudo("Changed versions DLC in {n} files", {{"n", "1"}}), "", Pseudo("Not changed:"),
            Pseudo("{files}: {reason}", {{"files", two}, {"reason", Pseudo(kNotReadAsSaves)}}),
            "    " + Pseudo("The tool said: \"{words}\"", {{"words", "Unknown format"}}),
            "    " + Pseudo("{names} and {n} more", {{"names", "slot 1.sav"}, {"n", "1"}}),
            Pseudo("{files}: {reason}",
                   {{"files", two},
                    {"reason", Pseudo("cipher tool failed ({outcome})", {{"outcome", exit65}})}}),
            "    " + Pseudo("{names} and {n} more", {{"names", "Пароль.sav"}, {"n", "1"}}),
            Pseudo("{files}: {reason}", {{"files", Pseudo("{n} file", {{"n", "1"}})},
                                         {"reason", Pseudo("is read-only")}}),
            "    c.sav", "", Pseudo("Changed:"),
            Pseudo("{name}: {old} -> {new}",
                   {{"name", "a.sav"}, {"old", "1.00"}, {"new", "2.00"}})}));
    // The details keep each save's own words whole.
    EXPECT_EQ(
        Lines(box.details)[1],
        Pseudo("{name}: {reason}",
               {{"name", "Пароль.sav"},
                {"reason", Pseudo("cipher tool failed ({outcome}): {words}",
                                  {{"outcome", exit65}, {"words", "cannot write Пароль.sav"}})}}));
}

TEST(Report, GroupsAlikeInEveryLanguage) {
    const std::vector<FileOutcome> files = ToolRefusals().files;
    const std::vector<ReasonGroup> english = GroupByReason(files);
    ASSERT_EQ(english.size(), 3u);
    EXPECT_EQ(english[1].reason, "cipher tool failed (exit code 65)");
    const InLanguage pseudo(kPseudoLanguage);
    const std::vector<ReasonGroup> other = GroupByReason(files);
    ASSERT_EQ(other.size(), english.size());
    for (std::size_t g = 0; g < english.size(); ++g) {
        EXPECT_EQ(other[g].entries, english[g].entries) << g;
        EXPECT_EQ(other[g].reason.English(), english[g].reason.English()) << g;
        EXPECT_NE(Say(other[g].reason), english[g].reason.English()) << g;
    }
}
