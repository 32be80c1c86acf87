# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX threads flavour).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTRAPEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OSTRAPEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTRAPEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTRAPEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OSTRAPEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so the programs need no DLL beyond the system's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run the built programs under Wine, in a prefix of the build's own.
# Wine's debugger is off for them: a stand-in tool that crashes on purpose then ends at once,
# display or not, instead of waiting behind Wine's crash dialog, which heeds no error mode.
set(OSTRAPEL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEPREFIX=${OSTRAPEL_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=winedbg.exe=d
    wine
    CACHE STRING "Runs the built programs")
