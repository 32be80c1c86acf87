#pragma once

#include <windows.h>

namespace ostrapel::win {

// What a started program runs with so that a crash ends it at once with its exception code
// and no box waits for a click.
// The error mode it inherits (it is never started with CREATE_DEFAULT_ERROR_MODE).
UINT ToolErrorMode();
// The limits of the job it runs in with all it starts: everything ends when the job is closed,
// and a process that crashes ends, whatever error mode it sets itself.
DWORD ToolJobLimits();
// A new job object with ToolJobLimits(); null when none can be made.
HANDLE MakeToolJob();

} // namespace ostrapel::win
