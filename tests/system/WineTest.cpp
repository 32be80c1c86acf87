#include "system/Wine.h"

#include "TestSupport.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ostrapel;
using namespace testsupport;

namespace {

// A file with an MZ header whose e_lfanew (at 0x3C) is offset, and signature written there.
std::string Executable(std::uint32_t offset, std::string_view signature, std::size_t size = 256) {
    std::string bytes(size, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i) {
        bytes[0x3C + static_cast<std::size_t>(i)] = static_cast<char>((offset >> (8 * i)) & 0xFF);
    }
    if (offset + signature.size() <= bytes.size()) {
        bytes.replace(offset, signature.size(), signature);
    }
    return bytes;
}

void MakeExecutable(const std::string& path, std::string_view content) {
    WriteFile(path, content);
    ::chmod(path.c_str(), 0755);
}

} // namespace

TEST(WindowsProgram, IsToldByItsMzHeaderAndPeSignature) {
    TempDir dir;
    const std::string pe(std::string_view("PE\0\0", 4));
    WriteFile(dir / "tool.exe", Executable(0x80, pe));
    EXPECT_TRUE(IsWindowsProgram(dir / "tool.exe"));
    EXPECT_TRUE(RunsThroughWine(dir / "tool.exe"));

    // An MZ header alone (a DOS program), a signature elsewhere than e_lfanew says, one past the
    // end of the file, a header cut short, and an empty or missing file are not.
    WriteFile(dir / "dos.exe", Executable(0x80, "NE\0\0"));
    WriteFile(dir / "elsewhere.exe", Executable(0x90, "") + pe);
    WriteFile(dir / "past-end.exe", Executable(0x1000, pe));
    WriteFile(dir / "short.exe", Executable(0x80, pe).substr(0, 0x3E));
    WriteFile(dir / "empty.exe", "");
    for (const char* name :
         {"dos.exe", "elsewhere.exe", "past-end.exe", "short.exe", "empty.exe", "missing.exe"}) {
        EXPECT_FALSE(IsWindowsProgram(dir / name)) << name;
    }
    // The signature follows the 64-byte header; an offset into the header is not valid.
    WriteFile(dir / "inside.exe", Executable(0x20, pe));
    EXPECT_FALSE(IsWindowsProgram(dir / "inside.exe"));
    WriteFile(dir / "just-after.exe", Executable(0x40, pe));
    EXPECT_TRUE(IsWindowsProgram(dir / "just-after.exe"));

    // A Linux program keeps running natively.
    EXPECT_FALSE(IsWindowsProgram(StandInToolPath()));
    EXPECT_FALSE(RunsThroughWine(StandInToolPath()));
}

TEST(WindowsProgram, WineComesFromTheWineVariableOrThePath) {
    TempDir dir;
    MakeDir(dir / "bin");
    MakeDir(dir / "other");
    MakeExecutable(dir / "bin/wine", "#!/bin/sh\n");
    MakeExecutable(dir / "other/proton-wine", "#!/bin/sh\n");
    WriteFile(dir / "other/wine", "not executable");
    {
        ScopedEnv path("PATH", (dir / "other") + ":" + (dir / "bin"));
        ScopedEnv wine("WINE", "");
        EXPECT_EQ(FindWine(), dir / "bin/wine"); // the first executable one on PATH
    }
    {
        ScopedEnv path("PATH", dir / "bin");
        ScopedEnv wine("WINE", dir / "other/proton-wine");
        EXPECT_EQ(FindWine(), dir / "other/proton-wine");
    }
    {
        ScopedEnv path("PATH", (dir / "bin") + ":" + (dir / "other"));
        ScopedEnv wine("WINE", "proton-wine");
        EXPECT_EQ(FindWine(), dir / "other/proton-wine");
    }
    {
        ScopedEnv path("PATH", dir / "bin");
        ScopedEnv wine("WINE", dir / "other/missing");
        EXPECT_EQ(FindWine(), ""); // a WINE that names nothing is not replaced by PATH's
    }
    {
        ScopedEnv path("PATH", dir / "other");
        ScopedEnv wine("WINE", "");
        EXPECT_EQ(FindWine(), "");
    }
}

TEST(WindowsProgram, ThePrefixIsWineprefixOrHomeDotWine) {
    TempDir dir;
    {
        ScopedEnv prefix("WINEPREFIX", dir / "prefix");
        EXPECT_EQ(WinePrefix(), dir / "prefix");
        EXPECT_FALSE(WinePrefixReady(WinePrefix()));
        MakeDir(dir / "prefix");
        EXPECT_FALSE(WinePrefixReady(WinePrefix()));
        WriteFile(dir / "prefix/system.reg", "WINE REGISTRY Version 2\n");
        EXPECT_TRUE(WinePrefixReady(WinePrefix()));
    }
    ScopedEnv prefix("WINEPREFIX", "");
    ScopedEnv home("HOME", dir.path());
    EXPECT_EQ(WinePrefix(), dir / ".wine");
}

TEST(WindowsProgram, TheBridgeIsBesideTheProgramOrInItsLibFolder) {
    TempDir dir;
    MakeDir(dir / "bin");
    EXPECT_EQ(WineBridgeFor(dir / "bin/"), "");
    EXPECT_EQ(WineBridgeFor(""), "");
    MakeDir(dir / "lib");
    MakeDir(dir / "lib/ostrapel");
    WriteFile(dir / "lib/ostrapel/ostrapel-winebridge.exe", "installed");
    EXPECT_EQ(WineBridgeFor(dir / "bin/"), dir / "lib/ostrapel/ostrapel-winebridge.exe");
    WriteFile(dir / "bin/ostrapel-winebridge.exe", "beside");
    EXPECT_EQ(WineBridgeFor(dir / "bin/"), dir / "bin/ostrapel-winebridge.exe");
}

TEST(ProgramFolder, IsBesideTheProgramWhenADecryptFolderIsThere) {
    TempDir dir;
    MakeDir(dir / "portable");
    MakeDir(dir / "portable/Decrypt");
    EXPECT_EQ(ProgramFolderFor(dir / "portable/", dir / "data", dir / "home"), dir / "portable/");
    EXPECT_FALSE(Exists(dir / "data")); // nothing made elsewhere
}

TEST(ProgramFolder, IsThePerUserDataFolderOtherwiseAndIsCreated) {
    TempDir dir;
    MakeDir(dir / "bin");
    // XDG_DATA_HOME, folders above it made as needed, doubled separators dropped.
    const std::string folder =
        ProgramFolderFor(dir / "bin/", dir.path() + "//deep/data/", dir / "home");
    EXPECT_EQ(folder, dir / "deep/data/ostrapel/");
    EXPECT_EQ(KindOf(folder + "Decrypt/temp"), EntryKind::Directory);
    EXPECT_FALSE(Exists(dir / "bin/Decrypt"));

    // Unset or relative: ~/.local/share.
    for (const std::string& data : {std::string(), std::string("relative/data")}) {
        EXPECT_EQ(ProgramFolderFor(dir / "bin/", data, dir / "home"),
                  dir / "home/.local/share/ostrapel/")
            << data;
    }
    EXPECT_EQ(KindOf(dir / "home/.local/share/ostrapel/Decrypt/temp"), EntryKind::Directory);
    // An unknown executable folder goes the same way; with no home either, nothing is known.
    EXPECT_EQ(ProgramFolderFor("", dir / "x", ""), dir / "x/ostrapel/");
    EXPECT_EQ(ProgramFolderFor("", "", ""), "");
    EXPECT_EQ(ProgramFolderFor("", "", "relative"), "");
}

TEST(ProgramFolder, FollowsTheEnvironment) {
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir / "data");
    // The test program's folder has no Decrypt folder beside it.
    ASSERT_FALSE(Exists(ApplicationDirectory() + "Decrypt"));
    EXPECT_EQ(ProgramFolder(), dir / "data/ostrapel/");
}
