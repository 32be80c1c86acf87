#include "system/Paths.h"

#include "TestSupport.h"
#ifdef _WIN32
#include "system/windows/AnsiPaths.h"
#include "system/windows/WindowsText.h"
#endif

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrapel;

#ifdef _WIN32

TEST(Paths, JoinsWithOneBackslash) {
    EXPECT_EQ(JoinPath("C:\\saves", "a.sav"), "C:\\saves\\a.sav");
    EXPECT_EQ(JoinPath("C:\\", "a.sav"), "C:\\a.sav");
    EXPECT_EQ(WithTrailingSeparator("C:\\app"), "C:\\app\\");
    EXPECT_EQ(WithTrailingSeparator("C:"), "C:\\");
}

TEST(Paths, ADriveRootKeepsItsBackslash) {
    EXPECT_EQ(ParentOf("C:\\app\\prog.exe"), "C:\\app");
    EXPECT_EQ(ParentOf("C:\\prog.exe"), "C:\\");
    EXPECT_EQ(WithTrailingSeparator(ParentOf("C:\\prog.exe")), "C:\\");
}

TEST(Paths, ApplicationDirectoryIsTheExecutablesFolder) {
    std::string appDir = ApplicationDirectory();
    ASSERT_FALSE(appDir.empty());
    EXPECT_EQ(appDir.back(), '\\');
    EXPECT_NE(appDir.substr(0, appDir.size() - 1).back(), '\\');
    EXPECT_TRUE(testsupport::Exists(appDir + "core_tests.exe")) << appDir;
}

namespace {

const std::wstring kCyrillic = L"C:\\Users\\\u0418\u0432\u0430\u043d\\Downloads\\Ostrapel\\a.sav";
const std::wstring kShortened = L"C:\\Users\\D2C1~1\\DOWNLO~1\\Ostrapel\\a.sav";

std::wstring ShortNames(const std::wstring& path) {
    return path == kCyrillic ? kShortened : L"C:\\SHORT~1\\a.sav";
}
std::wstring NoShortNames(const std::wstring& path) {
    return path;
}

} // namespace

// An ANSI cipher tool gets each path in the system's code page: one with characters outside it
// would reach the tool as '?', so its 8.3 short form goes instead, where the volume has one.
TEST(Paths, APathAnAnsiProgramCannotTakeGoesInItsShortForm) {
    struct Case {
        std::wstring path;
        unsigned codePage;
        std::wstring (*shortForm)(const std::wstring&);
        std::wstring handed; // empty: refused
    };
    const std::wstring accented = L"C:\\Jeux\\\u00e9t\u00e9\\a.sav";
    const std::wstring bestFit = L"C:\\Games\\\u0101\\a.sav"; // 1252 would make it 'a'
    const Case cases[] = {
        {L"C:\\Games\\Ostrapel\\a.sav", 1252, ShortNames, L"C:\\Games\\Ostrapel\\a.sav"},
        {accented, 1252, ShortNames, accented},
        {accented, 1251, ShortNames, L"C:\\SHORT~1\\a.sav"},
        {bestFit, 1252, ShortNames, L"C:\\SHORT~1\\a.sav"},
        {kCyrillic, 1251, ShortNames, kCyrillic},
        {kCyrillic, 65001, NoShortNames, kCyrillic}, // the system code page is UTF-8
        {kCyrillic, 1252, ShortNames, kShortened},
        {kCyrillic, 1252, NoShortNames, L""}, // a volume without 8.3 names
    };
    for (const Case& c : cases) {
        EXPECT_EQ(win::AnsiOpenableForm(c.path, c.codePage, c.shortForm), c.handed)
            << win::Utf8(c.path) << " in code page " << c.codePage;
    }
}

TEST(Paths, NamesWithPathSyntaxAreTold) {
    for (const char* name : {"a\\b", "a/b", "C:a", "a.sav:stream"}) {
        EXPECT_TRUE(HasPathSyntax(name)) << name;
    }
    EXPECT_TRUE(HasPathSyntax(std::string("a\0b", 3)));
    EXPECT_FALSE(HasPathSyntax("Ünïcödé [1] & ;.sav"));
}

#else

TEST(Paths, JoinsWithOneSeparator) {
    EXPECT_EQ(JoinPath("/saves", "a.sav"), "/saves/a.sav");
    EXPECT_EQ(JoinPath("/", "a.sav"), "/a.sav");
    EXPECT_EQ(JoinPath("/app/", "Decrypt"), "/app/Decrypt");
}

TEST(Paths, KeepsExactlyOneTrailingSeparator) {
    EXPECT_EQ(WithTrailingSeparator("/opt/app"), "/opt/app/");
    EXPECT_EQ(WithTrailingSeparator("/opt/app/"), "/opt/app/");
    EXPECT_EQ(WithTrailingSeparator("/opt/app///"), "/opt/app/");
    EXPECT_EQ(WithTrailingSeparator("/"), "/");
}

TEST(Paths, FindsTheParentFolder) {
    EXPECT_EQ(ParentOf("/opt/app/prog"), "/opt/app");
    EXPECT_EQ(ParentOf("/opt/app//prog"), "/opt/app");
    EXPECT_EQ(ParentOf("/prog"), "/");
    EXPECT_EQ(ParentOf("prog"), ".");
    EXPECT_EQ(ParentOf("/"), "/");
}

TEST(Paths, ApplicationDirectoryIsTheExecutablesFolder) {
    std::string appDir = ApplicationDirectory();
    ASSERT_FALSE(appDir.empty());
    EXPECT_EQ(appDir.back(), '/');
    EXPECT_NE(appDir.substr(0, appDir.size() - 1).back(), '/');
    EXPECT_EQ(::access((appDir + "core_tests").c_str(), X_OK), 0) << appDir;
}

TEST(Paths, NamesWithPathSyntaxAreTold) {
    EXPECT_TRUE(HasPathSyntax("a/b"));
    EXPECT_TRUE(HasPathSyntax(std::string("a\0b", 3)));
    EXPECT_FALSE(HasPathSyntax("a\\b:c"));
}

#endif

TEST(Paths, CountsCharactersNotBytes) {
    EXPECT_EQ(CharacterCount("abc"), 3u);
    EXPECT_EQ(CharacterCount("éé"), 2u);
    EXPECT_EQ(CharacterCount("セーブ"), 3u);
    EXPECT_EQ(CharacterCount(""), 0u);
    EXPECT_EQ(CharacterCount("\xF0\x9F\x92\xBE"), 1u); // U+1F4BE, four bytes
    EXPECT_EQ(CharacterCount("\xF4\x8F\xBF\xBF"), 1u); // U+10FFFF, the last code point
    EXPECT_EQ(CharacterCount("\xED\x9F\xBF"), 1u);     // U+D7FF, just below the surrogates
}

// Each byte that is not part of a valid UTF-8 sequence is one character, as it is shown (one
// replacement character per byte).
TEST(Paths, CountsEachByteOutsideAValidSequenceAsOneCharacter) {
    EXPECT_EQ(CharacterCount("ab\xB2"), 3u); // a stray continuation byte
    EXPECT_EQ(CharacterCount("\xB2\xB2\xB2"), 3u);
    EXPECT_EQ(CharacterCount("\xE9\xE9\xE9"), 3u);         // lead bytes without continuation
    EXPECT_EQ(CharacterCount("a\xC0\xAF"), 3u);            // overlong '/' in two bytes
    EXPECT_EQ(CharacterCount("\xE0\x80\xAF"), 3u);         // overlong '/' in three bytes
    EXPECT_EQ(CharacterCount("\xF0\x80\x80\xAF"), 4u);     // overlong '/' in four bytes
    EXPECT_EQ(CharacterCount("\xC1\xBF"), 2u);             // overlong DEL
    EXPECT_EQ(CharacterCount("ab\xE2\x82"), 4u);           // truncated at the end of the name
    EXPECT_EQ(CharacterCount("\xE2\x82x"), 3u);            // truncated by a plain character
    EXPECT_EQ(CharacterCount("\xF0\x9F\x92"), 3u);         // a four-byte sequence cut short
    EXPECT_EQ(CharacterCount("\xED\xA0\x80"), 3u);         // a surrogate (U+D800)
    EXPECT_EQ(CharacterCount("\xF4\x90\x80\x80"), 4u);     // past U+10FFFF
    EXPECT_EQ(CharacterCount("\xF8\x88\x80\x80\x80"), 5u); // no longer UTF-8 at all
    EXPECT_EQ(CharacterCount("\xFF\xFE"), 2u);
    // A valid sequence right after an invalid byte counts once.
    EXPECT_EQ(CharacterCount("\xB2\xC3\xA9"), 2u);
    EXPECT_EQ(CharacterCount("\xE2\xC3\xA9"), 2u);
}

TEST(Paths, DecodesTheFirstCharacter) {
    const Utf8Character e = FirstCharacter("\xC3\xA9t\xC3\xA9");
    EXPECT_TRUE(e.valid);
    EXPECT_EQ(e.codePoint, U'\u00E9');
    EXPECT_EQ(e.length, 2u);
    const Utf8Character stray = FirstCharacter("\xB2"
                                               "ab");
    EXPECT_FALSE(stray.valid);
    EXPECT_EQ(stray.length, 1u);
    EXPECT_EQ(FirstCharacter("").length, 0u);
    EXPECT_EQ(FirstCharacter("\xF0\x9F\x92\xBE").codePoint, U'\U0001F4BE');
}

TEST(Paths, PathsCompareAsThePlatformsFileSystemsDo) {
#ifdef _WIN32
    constexpr bool kIgnoresCase = true;
#else
    constexpr bool kIgnoresCase = false;
#endif
    auto native = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', kPathSeparator);
        return path;
    };
    struct Case {
        const char* path;
        const char* folder;
        bool within;
        bool same;
    };
    const Case cases[] = {
        {"/app/saves", "/app", true, false},
        {"/app", "/app/", true, true},
        {"/app/", "/app", true, true},
        {"/apps", "/app", false, false},
        {"/ap", "/app", false, false},
        {"/app/x", "/", true, false},
        {"/APP/Saves", "/app", kIgnoresCase, false},
        {"/\xc3\x84pp", "/\xc3\xa4pp", kIgnoresCase, kIgnoresCase}, // Ä, ä
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathIsWithin(native(c.path), native(c.folder)), c.within)
            << c.path << " in " << c.folder;
        EXPECT_EQ(SamePathText(native(c.path), native(c.folder)), c.same)
            << c.path << " as " << c.folder;
    }
}

// Keys made from paths are shared by every spelling the platform takes for the same path.
TEST(Paths, AKeyTextIsSharedByEverySpellingOfAPath) {
#ifdef _WIN32
    const std::vector<std::pair<std::string, std::string>> same = {
        {"C:\\Users\\Me\\Saved Games", "c:\\users\\ME\\saved games"},
        {"D:\\\xC3\x84rger\\\xC3\xA9t\xC3\xA9", "D:\\\xC3\xA4RGER\\\xC3\x89T\xC3\x89"},
    };
    const std::vector<std::pair<std::string, std::string>> different = {
        {"C:\\Saves", "C:\\Saves2"},
    };
#else
    // Only the text itself is the same path: its key is that text, case and all.
    const std::vector<std::pair<std::string, std::string>> same = {};
    EXPECT_EQ(NamesKeyText("/home/Me/\xC3\x84rger"), "/home/Me/\xC3\x84rger");
    const std::vector<std::pair<std::string, std::string>> different = {
        {"/home/me/Saves", "/home/me/saves"},
        {"/home/me/\xC3\x84rger", "/home/me/\xC3\xA4rger"},
    };
#endif
    for (const auto& [a, b] : same) {
        EXPECT_TRUE(SamePathText(a, b)) << a;
        EXPECT_EQ(NamesKeyText(a), NamesKeyText(b)) << a << " " << b;
    }
    for (const auto& [a, b] : different) {
        EXPECT_NE(NamesKeyText(a), NamesKeyText(b)) << a << " " << b;
    }
}
