#!/usr/bin/env bash
# Checks the Windows zip as a player gets it, unpacked, under Wine: it holds exactly the files
# docs/windows.md lists, the programs say what they are and which Windows they need, ostrapel-cli.exe
# converts saves with the strict stand-in tool and --restore puts them back, and ostrapel.exe
# shows its window.
#   tests/package/windows_zip_test.sh Ostrapel-VERSION-win64.zip
# Environment: WINDOWS_TOOL (the cross-built stand-in, put in as Decrypt\decrypt.exe),
# STAND_IN_TOOL (the Linux stand-in, to make and read saves), WINEPREFIX (one the test may
# start a display's Wine server in).
set -u
zip=${1:?zip}
: "${WINDOWS_TOOL:?Windows stand-in}" "${STAND_IN_TOOL:?Linux stand-in}" "${WINEPREFIX:?prefix}"
export WINEPREFIX WINEDEBUG=-all
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_root=$here/../..

. "$here/../support/check.sh"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
version=$(basename "$zip" | sed -n 's/^Ostrapel-\(.*\)-win64\.zip$/\1/p')
unpacked="$root/Games é"
mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked"
app="$unpacked/Ostrapel-$version"

# Exactly the files docs/windows.md lists under "The zip" (a folder that must be empty ends in /).
listed=$(sed -n '/^## The zip/,/^## /p' "$source_root/docs/windows.md" |
    sed -n 's/^    Ostrapel-VERSION\/\([^ ]*\).*/\1/p' | LC_ALL=C sort)
held=$(cd "$app" && { find . -type f; find . -mindepth 1 -type d -empty -printf '%p/\n'; } |
    sed 's|^\./||' | LC_ALL=C sort)
check "the zip unpacks to Ostrapel-$version" test -d "$app"
check "docs/windows.md lists the zip's files" test -n "$listed"
check "the zip holds exactly the files docs/windows.md lists" test "$held" = "$listed"
[ "$held" = "$listed" ] || diff <(echo "$listed") <(echo "$held")

# The oldest Windows, as cmake/WindowsPrograms.cmake states it.
setting() { sed -n "s/^set(OSTRAPEL_WINDOWS_MINIMUM_$1 \"*\([^\")]*\)\"*)$/\1/p" \
    "$source_root/cmake/WindowsPrograms.cmake"; }
minimum="$(setting MAJOR).$(setting MINOR)"
check "the README.txt names the oldest Windows" grep -q "$(setting NAME) or later" "$app/README.txt"
check "the README.txt says how to choose a language" grep -q -- "--language de" "$app/README.txt"
for exe in ostrapel.exe ostrapel-cli.exe; do
    headers=$(x86_64-w64-mingw32-objdump -p "$app/$exe" 2>/dev/null)
    subsystem=$(awk '/^MajorSubsystemVersion/{a=$2} /^MinorSubsystemVersion/{b=$2} END{print a"."b}' <<<"$headers")
    check "$exe needs Windows $minimum (subsystem version $subsystem)" test "$subsystem" = "$minimum"
    manifest=$(wrestool -x --raw --type=24 "$app/$exe" 2>/dev/null)
    check "$exe has a manifest" grep -q "<assembly" <<<"$manifest"
    check "$exe's manifest names the oldest Windows first among supportedOS" \
        grep -q "<supportedOS Id=\"{[0-9a-f-]*}\"/><!-- $(setting NAME) -->" <<<"$manifest"
    strings=$(wrestool -x --raw --type=16 "$app/$exe" 2>/dev/null | strings -el)
    check "$exe's version information names the product" grep -qx "Ostrapel" <<<"$strings"
    check "$exe's version information holds $version" grep -qx "$version" <<<"$strings"
done

# A player's first batch: the tool put in, saves converted, then undone.
cp "$WINDOWS_TOOL" "$app/Decrypt/decrypt.exe"
saves="$root/Saved Games ü"
mkdir -p "$saves"
names=("slot 1.sav" "sauvegarde é.sav" "slot 3.sav")
for name in "${names[@]}"; do
    head -c 1000 /dev/urandom >"$saves/$name"
    printf '\144\000' | dd of="$saves/$name" bs=1 seek=788 conv=notrunc status=none # at 1.00
    "$STAND_IN_TOOL" "/encrypt:$saves/$name" >/dev/null && rm -f "$saves/$name.backup"
done
originals=$(cd "$saves" && sha256sum -- *)
field_of() {
    cp "$saves/$1" "$root/scratch"
    "$STAND_IN_TOOL" "/decrypt:$root/scratch" >/dev/null
    od -An -tx1 -j788 -N2 "$root/scratch" | tr -d ' \n'
}
fields() { for name in "${names[@]}"; do printf '%s ' "$(field_of "$name")"; done; }
cli() { # as a player runs it: backups in the user's folder, the strict stand-in as the tool
    (unset OSTRAPEL_BACKUP_DIR; STAND_IN_CIPHER_STRICT=1 wine "$app/ostrapel-cli.exe" "$@")
}
windows_saves=$(winepath -w "$saves" 2>/dev/null)

cli --dlc 2.00 "$windows_saves" >"$root/out" 2>&1
check "ostrapel-cli.exe from the zip converts the saves" test $? -eq 0
check "every save holds 2.00" test "$(fields)" = "c800 c800 c800 "
check "the report counts them" grep -qx "Changed versions DLC in 3 files" <(tr -d '\r' <"$root/out")
[ $failed -eq 0 ] || cat "$root/out"
cli --restore "$windows_saves" >"$root/out" 2>&1
check "--restore puts them back" test $? -eq 0
check "every save is its original again" test "$(cd "$saves" && sha256sum -- *)" = "$originals"
check "the work folder is empty but for the job places" test -z "$(ls -A "$app/Decrypt/temp" | grep -vx '\.jobs')"
[ $failed -eq 0 ] || cat "$root/out"

# The window, on a display of its own: the prefix's Wine server, which has none, ends first.
wineserver -w
window_shown='
    wine "$1" >/dev/null 2>&1 &
    program=$!
    for _ in $(seq 120); do
        if xwininfo -root -tree 2>/dev/null | grep -q "\"Ostrapel by Penmorrow\""; then
            wineserver -k
            exit 0
        fi
        kill -0 $program 2>/dev/null || exit 1
        sleep 0.5
    done
    wineserver -k
    exit 1'
check "ostrapel.exe from the zip shows its window" \
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$window_shown" window "$app/ostrapel.exe"

report_checks "the Windows zip"
