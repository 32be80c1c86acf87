#include "system/Paths.h"

#include "TestSupport.h"

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
}
