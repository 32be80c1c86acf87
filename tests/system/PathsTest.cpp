#include "system/Paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrapel;

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

TEST(Paths, CountsCharactersNotBytes) {
    EXPECT_EQ(CharacterCount("abc"), 3u);
    EXPECT_EQ(CharacterCount("éé"), 2u);
    EXPECT_EQ(CharacterCount("セーブ"), 3u);
    EXPECT_EQ(CharacterCount(""), 0u);
}
