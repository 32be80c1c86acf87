#include "conversion/BackupManifest.h"

#include "system/Paths.h"

#include <gtest/gtest.h>
#include <string>

using namespace ostrapel;

namespace {

const std::string kHashA(64, 'a');
const std::string kHashB = std::string(63, '0') + "f";

BackupManifest Sample() {
    BackupManifest manifest;
    manifest.folder = "/home/player/My Saves/100%";
    manifest.time = 1796629590;
    manifest.value = 200;
    // The value before is absent in sets written before it was recorded.
    manifest.saves = {{1, "a.sav", kHashA, kHashB, -100}, {3, "b c.sav", kHashB, kHashA, {}}};
    return manifest;
}

void ExpectSame(const BackupManifest& a, const BackupManifest& b) {
    EXPECT_EQ(a.folder, b.folder);
    EXPECT_EQ(a.time, b.time);
    EXPECT_EQ(a.value, b.value);
    ASSERT_EQ(a.saves.size(), b.saves.size());
    for (std::size_t i = 0; i < a.saves.size(); ++i) {
        EXPECT_EQ(a.saves[i].file, b.saves[i].file);
        EXPECT_EQ(a.saves[i].name, b.saves[i].name);
        EXPECT_EQ(a.saves[i].originalSha256, b.saves[i].originalSha256);
        EXPECT_EQ(a.saves[i].writtenSha256, b.saves[i].writtenSha256);
        EXPECT_EQ(a.saves[i].before, b.saves[i].before);
    }
    EXPECT_EQ(a.complete, b.complete);
    EXPECT_EQ(a.undone, b.undone);
}

} // namespace

TEST(BackupManifestTest, EveryByteStringRoundTrips) {
    std::string everyByte;
    for (int c = 1; c < 256; ++c) {
        everyByte.push_back(static_cast<char>(c));
    }
    EXPECT_EQ(PercentDecode(PercentEncode(everyByte)), everyByte);
    EXPECT_EQ(PercentEncode("a b/%.sav"), "a%20b%2F%25.sav");

    BackupManifest manifest = Sample();
    std::string plainName = everyByte;
    for (char separator : {'/', kPathSeparator}) {
        if (const auto at = plainName.find(separator); at != std::string::npos) {
            plainName.erase(at, 1);
        }
    }
    manifest.saves.push_back({4, plainName, kHashA, kHashA, 32767});
    manifest.saves.push_back({9, "new\nline \xff\xfe.sav", kHashA, kHashB, -32768});
    manifest.folder = "/saves/\xe9t\xe9 \n";
    manifest.value = -32768;
    for (bool complete : {false, true}) {
        for (std::optional<std::int64_t> undone :
             {std::optional<std::int64_t>(), std::optional<std::int64_t>(0)}) {
            manifest.complete = complete;
            manifest.undone = undone;
            const std::string text = ComposeManifest(manifest);
            ManifestReading read = ParseManifest(text);
            ASSERT_TRUE(read.status.ok()) << read.status.reason() << "\n" << text;
            ExpectSame(read.manifest, manifest);
            EXPECT_EQ(ComposeManifest(read.manifest), text);
        }
    }
}

// Anything but a manifest as written is refused, with the line where it goes wrong.
TEST(BackupManifestTest, DamagedOrHandEditedTextIsRefusedWithItsLine) {
    const std::string good = ComposeManifest(Sample());
    ASSERT_TRUE(ParseManifest(good).status.ok());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const struct {
        std::string text;
        std::string reason;
    } cases[] = {
        {"", "line 1: missing the header"},
        {"ostrapel-backup 1", "line 1: a line without its end"},
        {replaced("ostrapel-backup 1", "ostrapel-backup 2"),
         "line 1: unknown manifest version \"2\""},
        {replaced("ostrapel-backup", "OSTRAPEL-backup"), "line 1: not a backup manifest"},
        {replaced("folder ", "folder  "), "line 2: expected the folder"},
        {replaced("My%20Saves", "My Saves"), "line 2: expected the folder"},
        {replaced("%2F", "%2f"), "line 2: expected the folder"},
        {replaced("My%20", "%4Dy%20"), "line 2: expected the folder"}, // %4D is M: not canonical
        {replaced("100%25", "100%2"), "line 2: expected the folder"},
        {replaced("time 1796629590", "time 01796629590"), "line 3: expected the time"},
        {replaced("time 1796629590", "time -5"), "line 3: expected the time"},
        {replaced("value 200", "value 32768"), "line 4: expected the value"},
        {replaced("value 200", "value -0"), "line 4: expected the value"},
        {replaced("value 200", "value 2e2"), "line 4: expected the value"},
        {replaced("save 1 ", "save 0 "), "line 5: expected a save"},
        {replaced("save 3 ", "save 1 "), "line 6: save numbers out of order"},
        {replaced(kHashA + " ", std::string(64, 'A') + " "), "line 5: expected a save"},
        {replaced(kHashA + " ", std::string(63, 'a') + " "), "line 5: expected a save"},
        {replaced("a.sav -100", "a.sav extra"), "line 5: expected a save"},
        {replaced("a.sav -100", "a.sav 32768"), "line 5: expected a save"},
        {replaced("a.sav -100", "a.sav -100 1"), "line 5: expected a save"},
        {replaced("a.sav", "b%20c.sav"), "line 6: a save named twice"},
        {replaced("a.sav", "sub%2Fa.sav"), "line 5: not a plain file name"},
        {replaced("a.sav", ".."), "line 5: not a plain file name"},
        {replaced("a.sav", "a%00.sav"), "line 5: not a plain file name"},
        {replaced("save 1 ", "save  1 "), "line 5: expected a save"},
        {replaced("\nend\n", "\ncomplete\ncomplete\nend\n"), "line 8: unexpected line"},
        {replaced("\nend\n", "\nundone\nend\n"), "line 7: expected the time it was undone"},
        {replaced("\nend\n", "\nend\nend\n"), "line 8: text after the end"},
        {replaced("\nend\n", "\nend"), "line 7: a line without its end"},
        {replaced("\nend\n", "\n"), "line 7: missing the end"},
        {replaced("\nend\n", "\nend\r\n"), "line 7: unexpected line"},
        {replaced("value 200\n", "value 200\r\n"), "line 4: expected the value"},
        {good.substr(0, good.find("save 1")), "line 5: missing the saves"},
        {good.substr(0, good.find("save 1")) + "end\n", "line 5: expected a save"},
    };
    for (const auto& damaged : cases) {
        ManifestReading read = ParseManifest(damaged.text);
        EXPECT_FALSE(read.status.ok()) << damaged.text;
        EXPECT_EQ(read.status.reason(), damaged.reason) << damaged.text;
    }
    EXPECT_EQ(ParseManifest(std::string(kManifestMaxBytes + 1, 'x')).status.reason(), "too large");
}
