# For the shell tests of the built programs: with OSTRAPEL_EMULATOR (a ';'-separated command,
# such as Wine's) they are Windows programs run through it, `emulator` holding that command,
# `exe` their ".exe", and `native PATH` a path as they take it (its Z: drive form).
emulator=()
exe=
if [ -n "${OSTRAPEL_EMULATOR:-}" ]; then
    IFS=';' read -ra emulator <<<"$OSTRAPEL_EMULATOR"
    exe=.exe
fi
native() { # a path as the programs under test take it
    if [ -n "$exe" ]; then
        local path=${1//\//\\}
        printf 'Z:%s' "$path"
    else
        printf '%s' "$1"
    fi
}
