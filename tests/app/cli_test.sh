#!/usr/bin/env bash
# Drives the built ostrapel-cli through a program folder with the stand-in cipher tool.
# With OSTRAPEL_EMULATOR (a ';'-separated command, such as Wine's), the programs are Windows
# programs run through it, and paths handed to them are in their Z: drive form.
set -u
: "${OSTRAPEL_CLI:?path of ostrapel-cli}" "${STAND_IN_TOOL:?path of the stand-in tool}"

. "$(dirname "${BASH_SOURCE[0]}")/../support/emulator.sh"
run_quietly() { # runs a program, its output without the carriage returns of Windows lines
    local rc=0
    "${emulator[@]}" "$@" >"$root/raw-out" 2>"$root/raw-err" || rc=$?
    tr -d '\r' <"$root/raw-out"
    tr -d '\r' <"$root/raw-err" >&2
    return $rc
}

. "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export OSTRAPEL_BACKUP_DIR="$(native "$root/backups")"
export XDG_DATA_HOME="$root/data" # the save-folder locks
app="$root/app"
mkdir -p "$app/Decrypt/temp" "$root/saves" "$root/saves/sub folder"
cp "$OSTRAPEL_CLI" "$app/ostrapel-cli$exe"
cp "$STAND_IN_TOOL" "$app/Decrypt/decrypt.exe"
cli="$app/ostrapel-cli$exe"
cli() { run_quietly "$cli" "$@"; }
# Nothing in the work folder but the job places, and nothing in their temporary folders.
work_folder_clear() {
    test -z "$(ls -A "$app/Decrypt/temp" | grep -vx '\.jobs')" &&
        test -z "$(for t in "$app"/Decrypt/temp/.jobs/*/temp; do ls -A "$t" 2>/dev/null; done)"
}
tool() { run_quietly "$app/Decrypt/decrypt.exe" "$@"; }

make_save() { # make_save NAME: 1000 bytes of plain data at 1.00, enciphered by the stand-in
    head -c 1000 /dev/urandom >"$root/saves/$1"
    printf '\144\000' | dd of="$root/saves/$1" bs=1 seek=788 conv=notrunc status=none
    cp "$root/saves/$1" "$root/plain-$1"
    tool "/encrypt:$(native "$root/saves/$1")" && rm -f "$root/saves/$1.backup"
}
field_of() { # the two DLC bytes of a save, deciphered in a scratch copy
    cp "$root/saves/$1" "$root/scratch"
    tool "/decrypt:$(native "$root/scratch")" >/dev/null
    od -An -tx1 -j788 -N2 "$root/scratch" | tr -d ' \n'
}

make_save "a.sav"
make_save "-b save.sav"
make_save "x"
cp "$root/saves/x" "$root/original-x"

out=$(cli --list "$(native "$root/saves")")
check "--list prints the listed names in name order" \
    test "$out" = "$(printf '%s\n' '-b save.sav' 'a.sav' 'sub folder')"
if [ -n "$exe" ]; then
    # "Z:\...\saves\" as PowerShell 5.1 completes it reaches the program as Z:\...\saves"
    check "a folder argument ending in a quote is the folder" \
        test "$(cli --list "$(native "$root/saves")\"")" = "$out"
fi
mkdir "$root/order"
for name in slot10.sav Slot2.sav slot1.sav screenshot_52.png screenshot_9.png; do
    : >"$root/order/$name"
done
check "--list sorts naturally, ignoring case" \
    test "$(cli --list "$(native "$root/order")")" = "$(printf '%s\n' screenshot_9.png screenshot_52.png \
        slot1.sav Slot2.sav slot10.sav)"

sums=$(md5sum "$root/saves/a.sav")
cli --dlc 2.0 "$(native "$root/saves")" >"$root/out" 2>"$root/err"
check "an unknown label is bad usage" test $? -eq 2
check "an unknown label is explained" grep -q 'Unknown DLC version "2.0"' "$root/err"
cli --dlc 2.00 "$(native "$root/no-such-folder")" >/dev/null 2>"$root/err"
check "a missing folder is bad usage" test $? -eq 2
check "a missing folder is explained" grep -q "Not a folder" "$root/err"
cli --dlc >/dev/null 2>&1
check "a missing label is bad usage" test $? -eq 2
cli --frobnicate "$(native "$root/saves")" >/dev/null 2>&1
check "an unknown option is bad usage" test $? -eq 2
check "bad usage touches no save" test "$(md5sum "$root/saves/a.sav")" = "$sums"

(cd /tmp && STAND_IN_CIPHER_FOLDER_LOG="$root/folders" cli --jobs 1 --dlc 2.00 "$(native "$root/saves")") \
    >"$root/out" 2>&1
status=$?
check "one job runs the cipher tool in its copy in the work folder" \
    test "$(sort -u "$root/folders" | tr -d '\r')" = \
    "$(native "$(cd "$app" && pwd -P)/Decrypt/temp/.jobs/0")"
check "the cipher tool ran four times a save (decipher, its witness, encipher, check)" \
    test "$(wc -l <"$root/folders")" -eq 8
check "a folder with a sub-folder exits 1" test $status -eq 1
check "the report counts the changed saves" grep -qx "Changed versions DLC in 2 files" "$root/out"
check "the report names the sub-folder" grep -qx "sub folder: is a folder" "$root/out"
check "one progress line per entry" test "$(grep -c '^\[[0-9]/3\] ' "$root/out")" -eq 3
# One job: the sub-folder fails in the first pass, the saves are replaced in list order.
check "progress names each entry by its place in the list, as it finishes" \
    test "$(grep '^\[[0-9]/3\] ' "$root/out" | cut -d: -f1)" = \
    "$(printf '%s\n' '[3/3] sub folder' '[1/3] -b save.sav' '[2/3] a.sav')"
check "a.sav holds 200" test "$(field_of a.sav)" = "c800"
check "-b save.sav holds 200" test "$(field_of '-b save.sav')" = "c800"
check "the short name is untouched" cmp -s "$root/saves/x" "$root/original-x"
check "the work folder is empty" work_folder_clear

check "a few entries not changed get no summary" bash -c "! grep -q 'by reason' '$root/out'"

mkdir "$root/many"
cp "$root/saves/a.sav" "$root/many/a.sav"
for i in $(seq 1 12); do mkdir "$root/many/dir_$i"; done
cli --dlc 3.00 "$(native "$root/many")" >"$root/out" 2>&1
check "more than 10 not changed exits 1" test $? -eq 1
check "more than 10 not changed keep one line each" \
    test "$(grep -c '^dir_[0-9]*: is a folder$' "$root/out")" -eq 12
check "more than 10 not changed end with the summary by reason" \
    test "$(tail -n 4 "$root/out" | head -n 2)" = "$(printf '%s\n' 'Not changed, by reason:' \
        '12 files: is a folder: dir_1, dir_2, dir_3 and 9 more')"
check "then where the originals are kept, and how to undo in the CLI's terms" \
    grep -q "^The originals are kept in .*; to put them back, run ostrapel-cli --restore " \
    <(tail -n 1 "$root/out")

rmdir "$root/saves/sub folder"
cli --dlc 4.00 -- "$(native "$root/saves")" >"$root/out" 2>&1
check "a clean run exits 0" test $? -eq 0
check "a.sav holds 400" test "$(field_of a.sav)" = "9001"

STAND_IN_CIPHER_FAULTS="decrypt:exit=7:a.sav" cli --dlc 0.00 "$(native "$root/saves")" >"$root/out" 2>&1
check "a tool failure exits 1" test $? -eq 1
check "a tool failure is reported" grep -q "^a.sav: cipher tool failed (exit code 7)" "$root/out"
check "the failed save keeps its value" test "$(field_of a.sav)" = "9001"
check "the other save is converted" test "$(field_of '-b save.sav')" = "0000"

mv "$app/Decrypt/decrypt.exe" "$app/Decrypt/moved.exe"
cli --dlc 1.00 "$(native "$root/saves")" >"$root/out" 2>&1
check "a missing tool exits 1" test $? -eq 1
if [ -n "$exe" ]; then
    expected_tool="$(native "$app")\\Decrypt\\decrypt.exe"
else
    expected_tool="$app/Decrypt/decrypt.exe"
fi
check "a missing tool is reported" grep -qxF "Cipher tool not found: $expected_tool" "$root/out"
mv "$app/Decrypt/moved.exe" "$app/Decrypt/decrypt.exe"
check "a missing tool touches nothing" test "$(field_of a.sav)" = "9001"

help_lists_labels() { cli --help | grep -q '0.00 1.00 2.00 3.00 4.00'; }
version_names_program() { cli --version | grep -q '^ostrapel-cli '; }
check "--help succeeds" cli --help
check "--help lists the labels" help_lists_labels
check "--version names the program" version_names_program

# A folder and a save whose names are not ASCII, through the arguments and the output.
mkdir -p "$root/Sävé Ü"
mv "$root/saves/a.sav" "$root/Sävé Ü/ä ß.sav"
cli --dlc 3.00 "$(native "$root/Sävé Ü")" >"$root/out" 2>&1
check "a non-ASCII folder converts" test $? -eq 0
check "a non-ASCII name is printed in UTF-8" grep -qx "\[1/1\] ä ß.sav: changed .* -> 3.00" "$root/out"
mv "$root/Sävé Ü/ä ß.sav" "$root/saves/a.sav"
check "the non-ASCII save holds 300" test "$(field_of a.sav)" = "2c01"

# What follows uses POSIX signals, pgrep and host paths: the POSIX build only.
if [ -z "$exe" ]; then
# The program folder, and the work folder above all, is never a save folder.
cp "$root/saves/a.sav" "$app/Decrypt/temp/slot.sav"
cp "$cli" "$root/cli-before"
for folder in "$app/Decrypt/temp" "$app" "$app/Decrypt/.."; do
    STAND_IN_CIPHER_FAULTS="any:lenient:*" "$cli" --dlc 2.00 "$folder" >"$root/out" 2>&1
    check "a save folder inside the program folder is bad usage ($folder)" test $? -eq 2
    check "the refusal says why ($folder)" \
        grep -q "^The save folder is inside the program folder: " "$root/out"
done
check "the work folder's file is kept" cmp -s "$app/Decrypt/temp/slot.sav" "$root/saves/a.sav"
check "the program is not rewritten" cmp -s "$cli" "$root/cli-before"
rm "$app/Decrypt/temp/slot.sav"

# A batch of four saves in a folder of their own.
many="$root/four"
mkdir "$many"
for name in a.sav b.sav c.sav d.sav; do
    head -c 1000 /dev/urandom >"$many/$name"
    printf '\144\000' | dd of="$many/$name" bs=1 seek=788 conv=notrunc status=none # at 1.00
    "$app/Decrypt/decrypt.exe" "/encrypt:$many/$name" && rm -f "$many/$name.backup"
done
field_in_many() { cp "$many/$1" "$root/scratch" && "$app/Decrypt/decrypt.exe" "/decrypt:$root/scratch" >/dev/null &&
    od -An -tx1 -j788 -N2 "$root/scratch" | tr -d ' \n'; }
fields() { for name in a.sav b.sav c.sav d.sav; do printf '%s ' "$(field_in_many $name)"; done; }

# Output nobody reads any more must not cut the batch short.
(set -o pipefail; STAND_IN_CIPHER_FAULTS="any:sleep=30:*" "$cli" --dlc 3.00 "$many" | head -1 >/dev/null)
check "a closed output does not stop the batch" test $? -eq 0
check "with a closed output every save is converted" test "$(fields)" = "2c01 2c01 2c01 2c01 "
check "with a closed output the work folder is emptied" work_folder_clear

# The first SIGINT, SIGTERM or SIGHUP cancels: the tool run is ended, nothing more starts.
interrupt() { # interrupt SIGNAL: starts a batch whose tool hangs on b.sav, then signals it
    : >"$root/tool.log"
    STAND_IN_CIPHER_LOG="$root/tool.log" STAND_IN_CIPHER_FAULTS="encrypt:hang=120000:b.sav" \
        "$cli" --dlc 1.00 "$many" >"$root/out" 2>&1 &
    local pid=$! i
    for i in $(seq $((3000 * ${OSTRAPEL_TIME_FACTOR:-1}))); do grep -q "encrypt b.sav" "$root/tool.log" 2>/dev/null && break; sleep 0.02; done
    kill -s "$1" "$pid"
    wait "$pid"
}
for sig in INT TERM HUP; do
    interrupt "$sig"
    status=$?
    if [ "$sig" = INT ]; then expected=130; else expected=1; fi
    check "SIG$sig cancels with exit $expected" test "$status" -eq "$expected"
    check "SIG$sig: the report says Cancelled" grep -q "^Cancelled" "$root/out"
    check "SIG$sig: the report names the saves left unchanged" grep -q "^b.sav: cancelled" "$root/out"
    check "SIG$sig: no save changed" test "$(fields)" = "2c01 2c01 2c01 2c01 "
    check "SIG$sig: the work folder is emptied" work_folder_clear
    check "SIG$sig: no tool is left running" test -z "$(pgrep -f "encrypt:$app/Decrypt/temp/b.sav")"
done

# A hung tool is ended at its time limit and the batch goes on; the limit leaves the other
# saves' runs time enough on a busy machine.
limit=$((2 * ${OSTRAPEL_TIME_FACTOR:-1}))
STAND_IN_CIPHER_FAULTS="decrypt:hang=120000:a.sav" "$cli" --tool-timeout "$limit" --dlc 4.00 \
    "$many" >"$root/out" 2>&1
check "a time-out exits 1" test $? -eq 1
check "a time-out is reported" grep -q "^a.sav: cipher tool did not finish within $limit s" "$root/out"
check "a time-out leaves that save, converts the rest" test "$(fields)" = "2c01 9001 9001 9001 "
"$cli" --tool-timeout soon --dlc 4.00 "$many" >/dev/null 2>&1
check "a time limit that is no number is bad usage" test $? -eq 2
"$cli" --tool-timeout 1,5 --dlc 4.00 "$many" >/dev/null 2>"$root/err"
check "a time limit with a decimal comma is bad usage" test $? -eq 2
check "a decimal comma is named, with the number as it should be written" \
    grep -qF -- "--tool-timeout takes a decimal point, not a comma: 1.5" "$root/err"

# Started by a parent that ignores SIGCHLD.
bash -c 'trap "" CHLD; exec "$0" --dlc 0.00 "$1"' "$cli" "$many" >"$root/out" 2>&1
check "with SIGCHLD ignored the batch still succeeds" test $? -eq 0
check "with SIGCHLD ignored every save is converted" test "$(fields)" = "0000 0000 0000 0000 "

# A folder that cannot be read is said so, not reported as an empty success.
runas=()
[ "$(id -u)" -eq 0 ] && runas=(setpriv --reuid=65534 --regid=65534 --clear-groups)
chmod 0755 "$root"
mkdir "$root/locked"
chmod 0 "$root/locked"
for mode in --list "--dlc 2.00"; do
    # shellcheck disable=SC2086
    "${runas[@]}" "$cli" $mode "$root/locked" >"$root/out" 2>&1
    check "an unreadable folder is bad usage ($mode)" test $? -eq 2
    check "an unreadable folder is said so ($mode)" \
        grep -qx "Cannot read folder $root/locked: Permission denied" "$root/out"
done
chmod 0700 "$root"

# Names are shown escaped, one entry a line; --list --null gives them raw.
odd="$root/odd"
mkdir "$odd"
forged=$'evil\nslot9.sav: changed'
escape=$'\e[2Jwipe.sav'
for name in "$forged" "$escape"; do
    printf 'plain' >"$odd/$name"
done
"$cli" --dlc 2.00 "$odd" >"$root/out" 2>&1
check "a name cannot forge an output line" bash -c "! grep -qx 'slot9.sav: changed' '$root/out'"
check "a newline in a name is shown escaped" grep -qF 'evil\nslot9.sav: changed: ' "$root/out"
check "an escape sequence is shown escaped" grep -qF '\x1b[2Jwipe.sav: ' "$root/out"
check "no raw escape reaches the terminal" bash -c "! grep -q $'\e' '$root/out'"
check "--list escapes too" test "$("$cli" --list "$odd" | wc -l)" -eq 2
"$cli" --list --null "$odd" >"$root/listed"
printf '%s\0' "$escape" "$forged" | sort -z >"$root/expected"
check "--list --null gives the raw names" cmp -s <(sort -z "$root/listed") "$root/expected"
"$cli" --dlc 2.00 --null "$odd" >/dev/null 2>&1
check "--null without --list is bad usage" test $? -eq 2

# Backups and undo: every conversion keeps the originals; --restore walks back one at a time.
undo="$root/undo"
mkdir "$undo"
for name in a.sav b.sav; do
    head -c 1200 /dev/urandom >"$undo/$name"
    printf '\000\000' | dd of="$undo/$name" bs=1 seek=788 conv=notrunc status=none # at 0.00
    "$app/Decrypt/decrypt.exe" "/encrypt:$undo/$name" && rm -f "$undo/$name.backup"
    cp "$undo/$name" "$root/undo-original-$name"
done
"$cli" --backups "$undo" >"$root/out" 2>&1
check "--backups without sets says so" grep -qx "No backups of $undo" "$root/out"
"$cli" --dlc 1.00 "$undo" >"$root/out" 2>&1
check "the report ends by saying how to undo" \
    bash -c "tail -1 '$root/out' | grep -q 'The originals are kept in $root/backups/.*--restore $undo\$'"
cp "$undo/a.sav" "$root/undo-first-a.sav"
"$cli" --dlc 3.00 "$undo" >/dev/null 2>&1
"$cli" --backups "$undo" >"$root/out" 2>&1
check "--backups lists the sets newest first" \
    bash -c "sed 's/^[-0-9]* [:0-9]*, //' '$root/out' | diff - <(printf '%s\n' \
        '2 saves, version 3.00, not undone' '2 saves, version 1.00, not undone')"
"$cli" --restore "$undo" >"$root/out" 2>&1
check "a restore that puts every save back exits 0" test $? -eq 0
check "a restore prints a line per save" test "$(grep -c ': restored$' "$root/out")" -eq 2
check "a restore ends with the count" bash -c "tail -1 '$root/out' | grep -qx 'Restored 2 files'"
check "the first restore undoes the newest batch" cmp -s "$undo/a.sav" "$root/undo-first-a.sav"
printf 'written by the game' >"$undo/b.sav"
"$cli" --restore "$undo" >"$root/out" 2>&1
check "a restore that leaves a save exits 1" test $? -eq 1
check "the save written since is named with its original" \
    grep -qx "b.sav: changed since the conversion; its original is kept at $root/backups/.*/original-2" "$root/out"
check "the saves not restored are listed" grep -qx "Not restored:" "$root/out"
kept=$(sed -n 's/^b.sav: changed since the conversion; its original is kept at //p' "$root/out" | head -1)
check "the original kept is b.sav's" cmp -s "$kept" "$root/undo-original-b.sav"
check "the other save is back to its original" cmp -s "$undo/a.sav" "$root/undo-original-a.sav"
check "the save written since is left alone" test "$(cat "$undo/b.sav")" = "written by the game"
"$cli" --restore "$undo/" >"$root/out" 2>&1
check "nothing left to undo exits 2" test $? -eq 2
check "nothing left to undo says so" grep -qx "No conversion of $undo/ to undo" "$root/out"
check "--backups marks the undone sets" test "$(grep -c ', undone$' <("$cli" --backups "$undo"))" -eq 2
"$cli" --restore "$root/no-such-folder" >/dev/null 2>&1
check "--restore of a missing folder is bad usage" test $? -eq 2

# A damaged set is refused, and nothing is touched.
cp "$root/undo-original-b.sav" "$undo/b.sav"
"$cli" --dlc 2.00 "$undo" >"$root/out" 2>&1
set_folder=$(sed -n 's/^The originals are kept in \(.*\); to put them back.*/\1/p' "$root/out")
sed -i 's/^value 200$/value 2OO/' "$set_folder/manifest"
sums=$(md5sum "$undo"/*)
"$cli" --restore "$undo" >"$root/out" 2>&1
check "a damaged manifest exits 1" test $? -eq 1
check "a damaged manifest is explained" grep -qx \
    "The backup set $set_folder cannot be used: its manifest is damaged: line 4: expected the value. Nothing was restored" "$root/out"
check "a damaged manifest touches no save" test "$(md5sum "$undo"/*)" = "$sums"
check "--backups names the damaged set" grep -q "^$set_folder: cannot be used: " <("$cli" --backups "$undo")
sed -i 's/^value 2OO$/value 200/' "$set_folder/manifest"
check "once repaired, the set restores" "$cli" --restore "$undo"
check "and the saves are their originals" cmp -s "$undo/b.sav" "$root/undo-original-b.sav"

# Names are printed escaped in a restore too.
escaped="$root/escaped"
mkdir "$escaped"
head -c 1000 /dev/urandom >"$escaped/$forged"
printf '\144\000' | dd of="$escaped/$forged" bs=1 seek=788 conv=notrunc status=none # at 1.00
"$app/Decrypt/decrypt.exe" "/encrypt:$escaped/$forged" && rm -f "$escaped/$forged.backup"
"$cli" --dlc 2.00 "$escaped" >/dev/null 2>&1
"$cli" --restore "$escaped" >"$root/out" 2>&1
check "a restore escapes names" grep -qxF 'evil\nslot9.sav: changed: restored' "$root/out"
check "a restore lets no raw escape through" bash -c "! grep -q $'\e' '$root/out'"

# A Backups folder beside the program makes it portable: the backups go there.
portable="$root/portable"
mkdir -p "$portable/Decrypt/temp" "$portable/Backups"
cp "$cli" "$portable/"
cp "$STAND_IN_TOOL" "$portable/Decrypt/decrypt.exe"
# A relative OSTRAPEL_BACKUP_DIR means the folder the program was started in (here $root), for
# the batch (which then works from the program folder) as for --backups and --restore.
while IFS='|' read -r -u 3 what program backups label kept; do
    (cd "$root" && OSTRAPEL_BACKUP_DIR="$backups" "$program" --dlc "$label" "$undo" >"$root/out" 2>&1)
    check "$what: the backups are kept in $kept" grep -q "kept in $kept/" "$root/out"
    check "$what: --restore finds the batch there" \
        bash -c "cd '$root' && OSTRAPEL_BACKUP_DIR='$backups' '$program' --restore '$undo' >/dev/null"
done 3<<TABLE
a portable program|$portable/ostrapel-cli||4.00|$portable/Backups
a relative backup folder|$cli|relative|3.00|$root/relative
TABLE

# --show reads each save's version in work copies and changes nothing.
shown="$root/shown"
mkdir "$shown"
make_save_at() { # make_save_at FOLDER NAME VALUE: an enciphered save whose field holds VALUE
    head -c 1000 /dev/urandom >"$1/$2"
    printf "$(printf '\\%03o\\%03o' $(($3 & 255)) $((($3 >> 8) & 255)))" |
        dd of="$1/$2" bs=1 seek=788 conv=notrunc status=none
    "$app/Decrypt/decrypt.exe" "/encrypt:$1/$2" && rm -f "$1/$2.backup"
}

# A set whose batch was stopped before it replaced any save (made so by hand here: not complete,
# every save its original) is passed over: the restore changed nothing, and says why.
rm -rf "$root/stopped" "$root/stopped-originals" && mkdir "$root/stopped"
make_save_at "$root/stopped" a.sav 0
cp -a "$root/stopped" "$root/stopped-originals"
"$cli" --dlc 2.00 "$root/stopped" >"$root/out" 2>&1
cp "$root/stopped-originals/a.sav" "$root/stopped/a.sav"
stopped_set=$(sed -n 's/^The originals are kept in \(.*\); to put them back.*/\1/p' "$root/out")
sed -i '/^complete$/d' "$stopped_set/manifest"
"$cli" --restore "$root/stopped" >"$root/out" 2>&1
check "a restore that only passed over sets exits 1" test $? -eq 1
check "a restore that only passed over sets says so" grep -q "^Passed over the backup set " "$root/out"
check "a set passed over leaves its save as it was" cmp -s "$root/stopped/a.sav" "$root/stopped-originals/a.sav"
make_save_at "$shown" zero.sav 0
make_save_at "$shown" one.sav 100
make_save_at "$shown" three.sav 300
make_save_at "$shown" odd.sav 250
head -c 1000 /dev/urandom >"$shown/plain.sav"
printf '\144\000' | dd of="$shown/plain.sav" bs=1 seek=788 conv=notrunc status=none # at 1.00
state() { (cd "$1" && find . -type f -printf '%p %T@ ' -exec md5sum {} \; | sort); }
before=$(state "$shown")
"$cli" --show "$shown" >"$root/out" 2>"$root/err"
check "--show with an unreadable save exits 1" test $? -eq 1
check "--show prints one line per entry" test "$(wc -l <"$root/out")" -eq 5
check "--show gives table labels" grep -qx "zero.sav: 0.00" "$root/out"
check "--show gives 1.00" grep -qx "one.sav: 1.00" "$root/out"
check "--show gives 3.00" grep -qx "three.sav: 3.00" "$root/out"
check "--show gives a value outside the table as a number" grep -qx "odd.sav: 250" "$root/out"
check "--show says what it could not read" \
    grep -qx "plain.sav: not read (cipher tool failed (exit code 65): plain.sav is not enciphered)" "$root/out"
check "--show lists in --list order" \
    test "$(sed 's/: .*//' "$root/out")" = "$("$cli" --list "$shown")"
check "--show leaves bytes and times of the saves" test "$(state "$shown")" = "$before"
check "--show leaves the work folder empty" work_folder_clear
rm "$shown/plain.sav"
"$cli" --jobs 3 --show "$shown" >"$root/out" 2>&1
check "--show with every save read exits 0" test $? -eq 0
check "--show with jobs keeps list order" \
    test "$(sed 's/: .*//' "$root/out")" = "$("$cli" --list "$shown")"
"$cli" --show >/dev/null 2>&1
check "--show without a folder is bad usage" test $? -eq 2

# A save already at the value is left alone; the others say old -> new.
before=$(state "$shown" | grep three.sav)
"$cli" --dlc 3.00 "$shown" >"$root/out" 2>&1
check "changed or already at the value exits 0" test $? -eq 0
check "progress says old -> new" grep -qx "\[[0-9]/4\] zero.sav: changed 0.00 -> 3.00" "$root/out"
check "progress names other values as the windows do" \
    grep -qx "\[[0-9]/4\] odd.sav: changed not a known version (250) -> 3.00" "$root/out"
check "progress says already" grep -qx "\[[0-9]/4\] three.sav: already 3.00" "$root/out"
check "the first report line counts the replaced saves" \
    grep -qx "Changed versions DLC in 3 files" "$root/out"
check "the report counts the saves already at the value" grep -qx "Already at 3.00: 1 file" "$root/out"
check "the save already at the value keeps bytes and time" \
    test "$(state "$shown" | grep three.sav)" = "$before"

# A wrong tool deciphers anything alike and passes every proof: with most saves read as no known
# version nothing changes without --force.
rm -rf "$root/wrong" && cp -a "$shown" "$root/wrong"
before=$(state "$root/wrong")
STAND_IN_CIPHER_MODE=xor "$cli" --dlc 2.00 "$root/wrong" >"$root/out" 2>&1
check "most saves of no known version exit 3" test $? -eq 3
check "the refusal names them and the tool" \
    grep -qx "4 of 4 saves read as no known version: the cipher tool may not be the one for these saves" "$root/out"
check "the refusal names --force" grep -q -- "--force" "$root/out"
check "a refused batch touches no save" test "$(state "$root/wrong")" = "$before"
STAND_IN_CIPHER_MODE=xor "$cli" --force --dlc 2.00 "$root/wrong" >"$root/out" 2>&1
check "--force converts them all the same" test $? -eq 0

# --jobs 4 gives what --jobs 1 gives.
for jobs in 1 4; do
    rm -rf "$root/jobs$jobs"
    mkdir "$root/jobs$jobs"
done
for i in 0 1 2 3 4 5 6 7 8; do
    make_save_at "$root/jobs1" "s$i.sav" $(((i % 4) * 100))
done
cp -p "$root/jobs1/"* "$root/jobs4/"
for jobs in 1 4; do
    STAND_IN_CIPHER_FAULTS="encrypt:exit=3:s5.sav;decrypt:exit=4:s6.sav" \
        "$cli" --jobs "$jobs" --dlc 2.00 "$root/jobs$jobs" >"$root/out$jobs" 2>&1
    echo "status $?" >>"$root/out$jobs"
done
check "--jobs 4 exits as --jobs 1" test "$(tail -1 "$root/out4")" = "status 1"
# (but for the folder each keeps its backup set in)
check "--jobs 4 reports as --jobs 1" \
    test "$(grep -v -e '^\[' -e '^The originals are kept in ' "$root/out4")" = \
    "$(grep -v -e '^\[' -e '^The originals are kept in ' "$root/out1")"
check "--jobs 4 prints the progress of --jobs 1" \
    test "$(grep '^\[' "$root/out4" | sort)" = "$(grep '^\[' "$root/out1" | sort)"
check "--jobs 4 leaves the saves byte for byte as --jobs 1" diff -r "$root/jobs1" "$root/jobs4"
check "--jobs 4 changes what it should" grep -qx "Changed versions DLC in 6 files" "$root/out4"
check "--jobs 4 counts the save already at the value" grep -qx "Already at 2.00: 1 file" "$root/out4"
for bad in 0 65 two ""; do
    "$cli" --jobs "$bad" --dlc 2.00 "$many" >/dev/null 2>&1
    check "--jobs '$bad' is bad usage" test $? -eq 2
done

# A signal cancels a batch in the decipher pass and in the encipher pass. --jobs 3 runs three
# saves at once; without --jobs as many as there are processors, at most 8 (here at most the
# four saves).
processors=$(getconf _NPROCESSORS_ONLN)
[ "$processors" -gt 4 ] && processors=4
# The encipher pass hangs on each save's second encipher: its first enciphered the save's plain
# form back, as its witness. A run too many would start before the cancel or not at all: the runs
# are counted once the batch has ended.
while read -r -u 3 fault jobs expected before; do
    options=(--jobs "$jobs")
    [ "$jobs" = - ] && options=()
    what="${options[*]:-without --jobs}, $fault pass"
    : >"$root/tool.log"
    rm -rf "$root/counts" && mkdir "$root/counts"
    STAND_IN_CIPHER_LOG="$root/tool.log" STAND_IN_CIPHER_STATE="$root/counts" \
        STAND_IN_CIPHER_FAULTS="$fault:hang=120000:*#$((before > 0 ? 2 : 1))" \
        "$cli" "${options[@]}" --dlc 1.00 "$many" >"$root/out" 2>&1 &
    pid=$!
    for i in $(seq $((3000 * ${OSTRAPEL_TIME_FACTOR:-1}))); do [ "$(grep -c "^$fault" "$root/tool.log")" -ge $((before + expected)) ] && break; sleep 0.02; done
    kill -s INT "$pid"
    wait "$pid"
    status=$?
    check "$what: $expected runs hang at once" \
        test "$(grep -c "^$fault" "$root/tool.log")" -eq $((before + expected))
    check "$what: SIGINT cancels with exit 130" test $status -eq 130
    check "$what: no save changed" test "$(fields)" = "0000 0000 0000 0000 "
    check "$what: the work folder is emptied" work_folder_clear
    check "$what: no tool is left running" test -z "$(pgrep -f "$app/Decrypt/")"
done 3<<TABLE
decrypt 3 3 0
encrypt 3 3 4
decrypt - $processors 0
TABLE

# A tool sound alone but keeping one fixed scratch file, beside itself, in its working folder or
# in the temporary folder: a default batch gives every save its own data, and runs each job's
# tool in a folder of its own, laid out as the program folder.
for place in beside folder temp; do
    rm -rf "$root/mixed" "$root/wanted" && mkdir "$root/mixed" "$root/wanted" && : >"$root/folders"
    for i in 1 2 3 4 5 6; do # each save and, in wanted/, its own data at 2.00
        make_save_at "$root/wanted" "s$i.sav" 200
        "$app/Decrypt/decrypt.exe" "/decrypt:$root/wanted/s$i.sav" && rm "$root/wanted/s$i.sav.backup"
        cp "$root/wanted/s$i.sav" "$root/mixed/s$i.sav"
        printf '\144\000' | dd of="$root/mixed/s$i.sav" bs=1 seek=788 conv=notrunc status=none
        "$app/Decrypt/decrypt.exe" "/encrypt:$root/mixed/s$i.sav" && rm "$root/mixed/s$i.sav.backup"
    done
    STAND_IN_CIPHER_SCRATCH=$place STAND_IN_CIPHER_SCRATCH_MS=40 STAND_IN_CIPHER_FOLDER_LOG="$root/folders" \
        "$cli" --dlc 2.00 "$root/mixed" >"$root/out" 2>&1
    check "scratch $place: a default batch changes every save" grep -qx "Changed versions DLC in 6 files" "$root/out"
    own=yes
    for i in 1 2 3 4 5 6; do
        cp "$root/mixed/s$i.sav" "$root/scratch" && "$app/Decrypt/decrypt.exe" "/decrypt:$root/scratch" >/dev/null
        cmp -s "$root/scratch" "$root/wanted/s$i.sav" || own=no
    done
    check "scratch $place: every save holds its own data" test $own = yes
    # Runs side by side that met in one scratch file would disagree with their witnesses and be
    # tried again alone: each save's four runs alone show that the job's places kept them apart.
    check "scratch $place: no save needed a run again" test "$(wc -l <"$root/folders")" -eq 24
    check "scratch $place: the work folder is emptied" work_folder_clear
done
check "jobs run the tool in folders of their own" \
    test "$(sort -u "$root/folders" | grep -c 'Decrypt/temp/\.jobs/[0-9]*$')" -ge 2
# The jobs' copies of the tool stay where they are from batch to batch.
copy_id() { stat -c %i "$app/Decrypt/temp/.jobs/0/Decrypt/decrypt.exe" 2>/dev/null; }
before=$(copy_id)
cli --show "$root/mixed" >/dev/null 2>&1
check "the jobs' copies of the tool are reused" test -n "$before" -a "$(copy_id)" = "$before"

fi

report_checks cli
