#!/usr/bin/env bash
# Drives the built ostrapel-cli through a program folder with the stand-in cipher tool.
set -u
: "${OSTRAPEL_CLI:?path of ostrapel-cli}" "${STAND_IN_TOOL:?path of the stand-in tool}"

passed=0
failed=0
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
    fi
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
app="$root/app"
mkdir -p "$app/Decrypt/temp" "$root/saves" "$root/saves/sub folder"
cp "$OSTRAPEL_CLI" "$app/ostrapel-cli"
cp "$STAND_IN_TOOL" "$app/Decrypt/decrypt.exe"
cli="$app/ostrapel-cli"

make_save() { # make_save NAME: 1000 bytes of plain data, enciphered by the stand-in
    head -c 1000 /dev/urandom >"$root/saves/$1"
    cp "$root/saves/$1" "$root/plain-$1"
    "$app/Decrypt/decrypt.exe" "/encrypt:$root/saves/$1" && rm -f "$root/saves/$1.backup"
}
field_of() { # the two DLC bytes of a save, deciphered in a scratch copy
    cp "$root/saves/$1" "$root/scratch"
    "$app/Decrypt/decrypt.exe" "/decrypt:$root/scratch" >/dev/null
    od -An -tx1 -j788 -N2 "$root/scratch" | tr -d ' \n'
}

make_save "a.sav"
make_save "-b save.sav"
make_save "x"
cp "$root/saves/x" "$root/original-x"

out=$("$cli" --list "$root/saves")
check "--list prints the listed names in name order" \
    test "$out" = "$(printf '%s\n' '-b save.sav' 'a.sav' 'sub folder')"
mkdir "$root/order"
for name in slot10.sav Slot2.sav slot1.sav screenshot_52.png screenshot_9.png; do
    : >"$root/order/$name"
done
check "--list sorts naturally, ignoring case" \
    test "$("$cli" --list "$root/order")" = "$(printf '%s\n' screenshot_9.png screenshot_52.png \
        slot1.sav Slot2.sav slot10.sav)"

sums=$(md5sum "$root/saves/a.sav")
"$cli" --dlc 2.0 "$root/saves" >"$root/out" 2>"$root/err"
check "an unknown label is bad usage" test $? -eq 2
check "an unknown label is explained" grep -q 'Unknown DLC version "2.0"' "$root/err"
"$cli" --dlc 2.00 "$root/no-such-folder" >/dev/null 2>"$root/err"
check "a missing folder is bad usage" test $? -eq 2
check "a missing folder is explained" grep -q "Not a folder" "$root/err"
"$cli" --dlc >/dev/null 2>&1
check "a missing label is bad usage" test $? -eq 2
"$cli" --frobnicate "$root/saves" >/dev/null 2>&1
check "an unknown option is bad usage" test $? -eq 2
check "bad usage touches no save" test "$(md5sum "$root/saves/a.sav")" = "$sums"

(cd /tmp && STAND_IN_CIPHER_FOLDER_LOG="$root/folders" "$cli" --dlc 2.00 "$root/saves") \
    >"$root/out" 2>&1
status=$?
check "the cipher tool runs in the program folder" \
    test "$(sort -u "$root/folders")" = "$(cd "$app" && pwd -P)"
check "the cipher tool ran once per direction and save" test "$(wc -l <"$root/folders")" -eq 4
check "a folder with a sub-folder exits 1" test $status -eq 1
check "the report counts the changed saves" grep -qx "Changed versions DLC in 2 files" "$root/out"
check "the report names the sub-folder" grep -qx "sub folder: is a folder" "$root/out"
check "one progress line per entry" test "$(grep -c '^\[[0-9]/3\] ' "$root/out")" -eq 3
check "progress counts the entries in list order" \
    test "$(grep '^\[[0-9]/3\] ' "$root/out" | LC_ALL=C sort | cut -d: -f1)" = \
    "$(printf '%s\n' '[1/3] -b save.sav' '[2/3] a.sav' '[3/3] sub folder')"
check "a.sav holds 200" test "$(field_of a.sav)" = "c800"
check "-b save.sav holds 200" test "$(field_of '-b save.sav')" = "c800"
check "the short name is untouched" cmp -s "$root/saves/x" "$root/original-x"
check "the work folder is empty" test -z "$(ls -A "$app/Decrypt/temp")"

check "a few entries not changed get no summary" bash -c "! grep -q 'by reason' '$root/out'"

mkdir "$root/many"
cp "$root/saves/a.sav" "$root/many/a.sav"
for i in $(seq 1 12); do mkdir "$root/many/dir_$i"; done
"$cli" --dlc 2.00 "$root/many" >"$root/out" 2>&1
check "more than 10 not changed exits 1" test $? -eq 1
check "more than 10 not changed keep one line each" \
    test "$(grep -c '^dir_[0-9]*: is a folder$' "$root/out")" -eq 12
check "more than 10 not changed end with the summary by reason" \
    test "$(tail -n 2 "$root/out")" = "$(printf '%s\n' 'Not changed, by reason:' \
        '12 files: is a folder: dir_1, dir_2, dir_3 and 9 more')"

rmdir "$root/saves/sub folder"
"$cli" --dlc 4.00 -- "$root/saves" >"$root/out" 2>&1
check "a clean run exits 0" test $? -eq 0
check "a.sav holds 400" test "$(field_of a.sav)" = "9001"

STAND_IN_CIPHER_FAULTS="decrypt:exit=7:a.sav" "$cli" --dlc 0.00 "$root/saves" >"$root/out" 2>&1
check "a tool failure exits 1" test $? -eq 1
check "a tool failure is reported" grep -q "^a.sav: cipher tool failed (exit code 7)" "$root/out"
check "the failed save keeps its value" test "$(field_of a.sav)" = "9001"
check "the other save is converted" test "$(field_of '-b save.sav')" = "0000"

mv "$app/Decrypt/decrypt.exe" "$app/Decrypt/moved.exe"
"$cli" --dlc 1.00 "$root/saves" >"$root/out" 2>&1
check "a missing tool exits 1" test $? -eq 1
check "a missing tool is reported" grep -qx "Cipher tool not found: $app/Decrypt/decrypt.exe" "$root/out"
mv "$app/Decrypt/moved.exe" "$app/Decrypt/decrypt.exe"
check "a missing tool touches nothing" test "$(field_of a.sav)" = "9001"

check "--help succeeds" "$cli" --help
check "--help lists the labels" bash -c "'$cli' --help | grep -q '0.00 1.00 2.00 3.00 4.00'"
check "--version names the program" bash -c "'$cli' --version | grep -q '^ostrapel-cli '"

echo "cli: $passed passed, $failed failed"
test "$failed" -eq 0
