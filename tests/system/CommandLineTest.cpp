#include "conversion/ConvertSaves.h"
#include "system/Process.h"

#include <cstdint>
#include <gtest/gtest.h>

using namespace ostrapel;

TEST(WindowsCommandLine, CipherLinesForOrdinaryNamesAreTheFamiliarText) {
    CommandLine decipher{"C:\\Tools\\Decrypt\\decrypt.exe",
                         {"/decrypt:C:\\Tools\\Decrypt\\temp\\slot1.sav"}};
    EXPECT_EQ(
        BuildWindowsCommandLine(decipher),
        "\"C:\\Tools\\Decrypt\\decrypt.exe\" /decrypt:\"C:\\Tools\\Decrypt\\temp\\slot1.sav\" ");
    CommandLine encipher{"C:\\Tools\\Decrypt\\decrypt.exe",
                         {"/encrypt:C:\\Tools\\Decrypt\\temp\\slot1.sav"}};
    EXPECT_EQ(
        BuildWindowsCommandLine(encipher),
        "\"C:\\Tools\\Decrypt\\decrypt.exe\" /encrypt:\"C:\\Tools\\Decrypt\\temp\\slot1.sav\" ");
}

#ifdef _WIN32
TEST(WindowsCommandLine, CipherCommandUsesTheProgramFolderLayout) {
    CommandLine decipher =
        CipherCommand("C:\\Ostrapel\\", "C:\\Ostrapel\\Decrypt\\temp\\a.sav", true);
    EXPECT_EQ(decipher.program, "C:\\Ostrapel\\Decrypt\\decrypt.exe");
    EXPECT_EQ(
        BuildWindowsCommandLine(decipher),
        "\"C:\\Ostrapel\\Decrypt\\decrypt.exe\" /decrypt:\"C:\\Ostrapel\\Decrypt\\temp\\a.sav\" ");
    EXPECT_EQ(CipherCommand("C:\\", "C:\\Decrypt\\temp\\a.sav", false).arguments[0],
              "/encrypt:C:\\Decrypt\\temp\\a.sav");
}
#else
TEST(WindowsCommandLine, CipherCommandUsesTheProgramFolderLayout) {
    CommandLine decipher =
        CipherCommand("/opt/ostrapel/", "/opt/ostrapel/Decrypt/temp/a.sav", true);
    EXPECT_EQ(decipher.program, "/opt/ostrapel/Decrypt/decrypt.exe");
    ASSERT_EQ(decipher.arguments.size(), 1u);
    EXPECT_EQ(decipher.arguments[0], "/decrypt:/opt/ostrapel/Decrypt/temp/a.sav");
    EXPECT_EQ(CipherCommand("/o/", "/o/Decrypt/temp/a.sav", false).arguments[0],
              "/encrypt:/o/Decrypt/temp/a.sav");
    EXPECT_EQ(
        BuildWindowsCommandLine(decipher),
        "\"/opt/ostrapel/Decrypt/decrypt.exe\" /decrypt:\"/opt/ostrapel/Decrypt/temp/a.sav\" ");
}
#endif

TEST(WindowsCommandLine, EscapesQuotesAndTheBackslashesBeforeThem) {
    EXPECT_EQ(BuildWindowsCommandLine({"p", {"a\"b"}}), "\"p\" \"a\\\"b\" ");
    EXPECT_EQ(BuildWindowsCommandLine({"p", {"a\\"}}), "\"p\" \"a\\\\\" ");
    EXPECT_EQ(BuildWindowsCommandLine({"p", {"a\\\"b"}}), "\"p\" \"a\\\\\\\"b\" ");
    EXPECT_EQ(BuildWindowsCommandLine({"p", {"a\\b"}}), "\"p\" \"a\\b\" ");
    EXPECT_EQ(BuildWindowsCommandLine({"p", {""}}), "\"p\" \"\" ");
    EXPECT_EQ(BuildWindowsCommandLine({"p", {"/decrypt:C:\\dir\\"}}),
              "\"p\" /decrypt:\"C:\\dir\\\\\" ");
}

TEST(WindowsCommandLine, RefusesWhatNoCommandLineCanCarry) {
    EXPECT_EQ(BuildWindowsCommandLine({"a\"b", {}}), std::nullopt);
    EXPECT_EQ(BuildWindowsCommandLine({std::string("a\0b", 3), {}}), std::nullopt);
    EXPECT_EQ(BuildWindowsCommandLine({"p", {std::string("x\0", 2)}}), std::nullopt);
}

TEST(WindowsCommandLine, ParsesTheWayTheCRuntimeDoes) {
    struct Case {
        const char* text;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {R"(p "a b c" d e)", {"a b c", "d", "e"}},
        {R"(p "ab\"c" "\\" d)", {"ab\"c", "\\", "d"}},
        {R"(p a\\\b d"e f"g h)", {"a\\\\\\b", "de fg", "h"}},
        {R"(p a\\\"b c d)", {"a\\\"b", "c", "d"}},
        {R"(p a\\\\"b c" d e)", {"a\\\\b c", "d", "e"}},
        {R"(p "a""b" c)", {"a\"b", "c"}},
        {"p \t x  \t y ", {"x", "y"}},
        {R"(p "")", {""}},
        {"p", {}},
    };
    for (const Case& c : cases) {
        CommandLine parsed = ParseWindowsCommandLine(c.text);
        EXPECT_EQ(parsed.program, "p") << c.text;
        EXPECT_EQ(parsed.arguments, c.arguments) << c.text;
    }
    EXPECT_EQ(ParseWindowsCommandLine(R"("C:\Program Files\x.exe" a)").program,
              "C:\\Program Files\\x.exe");
    EXPECT_EQ(ParseWindowsCommandLine(R"(C:\dir\x.exe a)").program, "C:\\dir\\x.exe");
}

TEST(WindowsCommandLine, OddNamesSurviveTheRoundTrip) {
    const std::vector<std::string> names = {
        "plain.sav",
        "with space.sav",
        "quote\"d.sav",
        "back\\slash.sav",
        "trailing\\",
        "trailing\\\\",
        "-leading-dash",
        "/decrypt:x",
        "Ünïcödé セーブ",
        "tab\there",
        "new\nline",
        "\\\"",
        "\"\"",
        "",
        "   ",
        "a\\\\\"b\\\\",
        "%PATH% ^& | < >",
        "C:\\dir\\",
    };
    for (const std::string& name : names) {
        for (const std::string& argument : {name, "/decrypt:" + name, "/encrypt:/x/" + name}) {
            CommandLine command{"/opt/My Tools/decrypt.exe", {argument, "second"}};
            auto text = BuildWindowsCommandLine(command);
            ASSERT_TRUE(text.has_value()) << argument;
            EXPECT_EQ(ParseWindowsCommandLine(*text), command) << *text;
        }
    }
}

TEST(ProcessOutcomeText, AWindowsExceptionCodeIsACrashNamedInWords) {
    struct Case {
        std::uint32_t code;
        const char* said;
    };
    const Case cases[] = {
        {0xC0000005, "crashed (access violation, 0xC0000005)"},
        {0xC00000FD, "crashed (stack overflow, 0xC00000FD)"},
        {0xC0000135, "crashed (a DLL it needs was not found, 0xC0000135)"},
        {0x80000003, "crashed (breakpoint, 0x80000003)"},
        {0xE06D7363, "crashed (unhandled C++ exception, 0xE06D7363)"},
        {0xC0001234, "crashed (0xC0001234)"},
        {0xE0434352, "crashed (0xE0434352)"}, // any software exception left unhandled
        {0x0EEDFADE, "crashed (unhandled Delphi exception, 0x0EEDFADE)"},
        // Other exit codes are not crashes; status codes are read in hex.
        {3, "exit code 3"},
        {0xFFFFFFFF, "exit code 0xFFFFFFFF"},
        {0x80001234, "exit code 0x80001234"},
    };
    for (const Case& c : cases) {
        ProcessOutcome outcome;
        outcome.kind = ProcessOutcome::Kind::Exited;
        outcome.exitCode = static_cast<int>(c.code);
        EXPECT_EQ(outcome.phrase().English(), c.said) << std::hex << c.code;
    }
}
