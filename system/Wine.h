#pragma once

#include "system/Phrase.h"

#include <string>

namespace ostrapel {

// Refusal when the cipher tool is a Windows program and no Wine is there to run it.
inline constexpr const char* kWineMissing = N_(
    "The cipher tool is a Windows program; install Wine to run it (for example: apt install wine)");

// The helper, itself a Windows program, that starts Windows programs under Wine with an exact
// command line (`wine PROGRAM ARGS` quotes each argument anew).
inline constexpr const char* kWineBridgeName = "ostrapel-winebridge.exe";

// The value of WINEDLLOVERRIDES for a program started under Wine: the given value with Wine's
// debugger turned off, so a program that crashes ends at once with its exception code instead
// of waiting behind Wine's crash dialog. Only the programs started with it are affected; the
// prefix and its other programs keep their settings.
std::string WineOverridesWithoutDebugger(const std::string& overrides);

// Whether the file is a Windows program: an "MZ" header whose e_lfanew (at 0x3C) points at
// a "PE\0\0" signature.
bool IsWindowsProgram(const std::string& path);

// Whether this platform runs the program through Wine: a Windows program anywhere but on
// Windows.
bool RunsThroughWine(const std::string& program);

// The Wine program to use: $WINE when set (a path, or a name looked up in PATH, for example a
// Proton build's wine), otherwise wine from PATH. Empty when there is none.
std::string FindWine();

// The Wine prefix programs run in: $WINEPREFIX, otherwise ~/.wine.
std::string WinePrefix();

// Whether the prefix has been set up; its first use sets it up, which takes several seconds.
bool WinePrefixReady(const std::string& prefix);

// The bridge for a program whose executable is in exeDir: beside it (a program folder made by
// copying the build's output folder), otherwise in ../lib/ostrapel/ (an install). Empty when
// neither exists.
std::string WineBridgeFor(const std::string& exeDir);

} // namespace ostrapel
