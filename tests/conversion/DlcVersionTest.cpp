#include "conversion/DlcVersion.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

using namespace ostrapel;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(DlcVersionTable, OffersTheFiveLabelsInOrder) {
    auto labels = DlcVersionTable::Labels();
    std::vector<std::string_view> expected{"0.00", "1.00", "2.00", "3.00", "4.00"};
    EXPECT_EQ(std::vector<std::string_view>(labels.begin(), labels.end()), expected);
}

TEST(DlcVersionTable, LooksUpExactLabelsOnly) {
    EXPECT_EQ(DlcVersionTable::LookUp("0.00"), 0);
    EXPECT_EQ(DlcVersionTable::LookUp("3.00"), 300);
    EXPECT_EQ(DlcVersionTable::LookUp("4.00"), 400);
    for (const char* text : {"5.00", "3.0", "", " 1.00", "1.00 ", "1,00", "1.0", "01.00", "3"}) {
        EXPECT_EQ(DlcVersionTable::LookUp(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(ConvertValueText, ReadsPlainIntegersInRange) {
    EXPECT_EQ(ConvertValueText("400"), 400);
    EXPECT_EQ(ConvertValueText("0"), 0);
    EXPECT_EQ(ConvertValueText("-1"), -1);
    EXPECT_EQ(ConvertValueText("+7"), 7);
    EXPECT_EQ(ConvertValueText("32767"), 32767);
    EXPECT_EQ(ConvertValueText("-32768"), -32768);
    EXPECT_EQ(ConvertValueText("0000000000000000000000123"), 123);
    EXPECT_EQ(ConvertValueText("-0"), 0);
}

TEST(ConvertValueText, RoundsHalvesToEven) {
    EXPECT_EQ(ConvertValueText("2.5"), 2);
    EXPECT_EQ(ConvertValueText("3.5"), 4);
    EXPECT_EQ(ConvertValueText("0.5"), 0);
    EXPECT_EQ(ConvertValueText("-2.5"), -2);
    EXPECT_EQ(ConvertValueText("-3.5"), -4);
    EXPECT_EQ(ConvertValueText("2.50000"), 2);
    EXPECT_EQ(ConvertValueText("2.500000000000000000001"), 3);
    EXPECT_EQ(ConvertValueText("2.4999999999999999999"), 2);
    EXPECT_EQ(ConvertValueText("2.51"), 3);
    EXPECT_EQ(ConvertValueText(".5"), 0);
    EXPECT_EQ(ConvertValueText(".51"), 1);
    EXPECT_EQ(ConvertValueText("5."), 5);
    EXPECT_EQ(ConvertValueText("199.99"), 200);
}

TEST(ConvertValueText, FailsOutsideTheRangeAfterRounding) {
    EXPECT_EQ(ConvertValueText("32767.4"), 32767);
    EXPECT_EQ(ConvertValueText("32767.5"), std::nullopt); // rounds to 32768
    EXPECT_EQ(ConvertValueText("-32768.5"), -32768);      // rounds to the even -32768
    EXPECT_EQ(ConvertValueText("-32768.51"), std::nullopt);
    EXPECT_EQ(ConvertValueText("32768"), std::nullopt);
    EXPECT_EQ(ConvertValueText("-32769"), std::nullopt);
    EXPECT_EQ(ConvertValueText("99999999999999999999999999"), std::nullopt);
}

TEST(ConvertValueText, RejectsWhatIsNotADecimalNumber) {
    for (const char* text : {"", "abc", "-", "+", ".", "-.", "1e3", " 1", "1 ", "1,5", "0x10",
                             "1.2.3", "--1", "1-", "١٢", "\t5", "5\n", "inf", "nan"}) {
        EXPECT_EQ(ConvertValueText(text), std::nullopt) << '"' << text << '"';
    }
    EXPECT_EQ(ConvertValueText(std::string_view("12\0", 3)), std::nullopt);
}

class WriteDlcFieldTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir / "save";
};

TEST_F(WriteDlcFieldTest, ChangesOnlyTheTwoFieldBytes) {
    const std::string original = testsupport::PlainSave(2000, 7);
    struct Case {
        const char* text;
        unsigned char low, high;
    };
    for (Case c : {Case{"300", 0x2C, 0x01}, Case{"400", 0x90, 0x01}, Case{"0", 0x00, 0x00},
                   Case{"-1", 0xFF, 0xFF}}) {
        WriteFile(path, original);
        FieldWriteResult result = WriteDlcField(path, c.text);
        EXPECT_TRUE(result.status.ok()) << result.status.reason();
        EXPECT_TRUE(result.written);
        std::string expected = original;
        expected[788] = static_cast<char>(c.low);
        expected[789] = static_cast<char>(c.high);
        EXPECT_EQ(ReadFile(path), expected) << c.text;
    }
}

TEST_F(WriteDlcFieldTest, GrowsAShortFileToEndWithTheField) {
    WriteFile(path, "short");
    ASSERT_TRUE(WriteDlcField(path, "200").written);
    std::string expected = "short";
    expected.resize(788, '\0');
    expected += "\xC8";
    expected += '\0';
    EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(WriteDlcFieldTest, WritesNothingWhenTheTextDoesNotConvert) {
    const std::string original = testsupport::PlainSave(900, 3);
    for (const char* text : {"32768", "abc", ""}) {
        WriteFile(path, original);
        FieldWriteResult result = WriteDlcField(path, text);
        EXPECT_TRUE(result.status.ok());
        EXPECT_FALSE(result.written);
        EXPECT_EQ(ReadFile(path), original) << text;
    }
}

TEST_F(WriteDlcFieldTest, CreatesAMissingFile) {
    ASSERT_TRUE(WriteDlcField(path, "100").written);
    std::string content = ReadFile(path);
    ASSERT_EQ(content.size(), 790u);
    EXPECT_EQ(content.substr(0, 788), std::string(788, '\0'));
    EXPECT_EQ(content.substr(788), std::string("\x64\x00", 2));

    const std::string other = dir / "other";
    FieldWriteResult result = WriteDlcField(other, "nope");
    EXPECT_TRUE(result.status.ok());
    EXPECT_FALSE(result.written);
    EXPECT_EQ(ReadFile(other), "");
}

TEST_F(WriteDlcFieldTest, ReportsAPathThatCannotBeOpened) {
    FieldWriteResult result = WriteDlcField(dir / "missing-folder/save", "100");
    EXPECT_FALSE(result.status.ok());
    EXPECT_FALSE(result.written);
    EXPECT_NE(result.status.reason().find("No such file"), std::string::npos);
}

// The field read and written in memory is the field read and written in the file: a batch
// proves the enciphered result against bytes it patched in memory.
TEST_F(WriteDlcFieldTest, TheFieldInMemoryIsTheFieldInTheFile) {
    const std::string original = testsupport::PlainSave(2000, 9);
    for (const char* text : {"300", "0", "-1", "-32768", "32767"}) {
        const std::int16_t value = *ConvertValueText(text);
        WriteFile(path, original);
        ASSERT_TRUE(WriteDlcField(path, text).written);
        std::string patched = original;
        SetDlcField(patched, value);
        EXPECT_TRUE(patched == ReadFile(path)) << text;
        EXPECT_EQ(DlcFieldOf(patched), value) << text;
        EXPECT_EQ(ReadDlcField(path).value, value) << text;
    }
    EXPECT_EQ(DlcFieldOf(original.substr(0, 789)), std::nullopt);
    EXPECT_EQ(DlcFieldOf(std::string(788, 'x') + "\x2C\x01"), 300);
}
