#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace testsupport;

// A process can end between the listing of /proc and the reading of its command line, or
// midway through the read (which then fails): it is left out, and the others are read.
TEST(ProcessCommandLinesTest, LeavesOutProcessesThatCannotBeRead) {
    TempDir proc;
    MakeDir(proc / "12");
    WriteFile(proc / "12/cmdline", std::string("sh\0-c\0", 6));
    MakeDir(proc / "13");
    MakeDir(proc / "13/cmdline"); // opens, but a read fails
    MakeDir(proc / "14");         // gone before its command line was opened
    MakeDir(proc / "self");
    WriteFile(proc / "self/cmdline", "x");

    EXPECT_EQ(ProcessCommandLines(proc.path()),
              (std::map<int, std::string>{{12, std::string("sh\0-c\0", 6)}}));
    EXPECT_EQ(ProcessCommandLines().count(static_cast<int>(::getpid())), 1u);
}
