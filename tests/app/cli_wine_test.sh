#!/usr/bin/env bash
# ostrapel-cli with a Windows cipher tool: a program folder made by copying the build's output
# folder, the cross-built stand-in in strict mode (it refuses any command line but the exact
# form), run through Wine and the bridge.
set -u
: "${OUTPUT_DIR:?build output folder}" "${WINDOWS_TOOL:?Windows stand-in}" \
    "${STAND_IN_TOOL:?Linux stand-in, to make and read saves}" "${WINEPREFIX:?test prefix}"

. "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export OSTRAPEL_BACKUP_DIR="$root/backups"
app="$root/program folder é"
mkdir -p "$app"
cp -r "$OUTPUT_DIR/." "$app/"
mkdir -p "$app/Decrypt"
cp "$WINDOWS_TOOL" "$app/Decrypt/decrypt.exe"
cli="$app/ostrapel-cli"
saves="$root/saves ü"
mkdir -p "$saves"
export STAND_IN_CIPHER_STRICT=1

names=("slot 1.sav" "sauvegarde é.sav" "セーブ 3.sav")
for name in "${names[@]}"; do
    head -c 1000 /dev/urandom >"$saves/$name"
    printf '\144\000' | dd of="$saves/$name" bs=1 seek=788 conv=notrunc status=none # at 1.00
    "$STAND_IN_TOOL" "/encrypt:$saves/$name" && rm -f "$saves/$name.backup"
done
field_of() { # the two DLC bytes of a save, deciphered in a scratch copy by the Linux stand-in
    cp "$saves/$1" "$root/scratch"
    "$STAND_IN_TOOL" "/decrypt:$root/scratch" >/dev/null
    od -An -tx1 -j788 -N2 "$root/scratch" | tr -d ' \n'
}
fields() { for name in "${names[@]}"; do printf '%s ' "$(field_of "$name")"; done; }

"$cli" --dlc 2.00 "$saves" >"$root/out" 2>&1
status=$?
check "a batch through Wine exits 0" test $status -eq 0
check "every save is converted" test "$(fields)" = "c800 c800 c800 "
check "the report counts them" grep -qx "Changed versions DLC in 3 files" "$root/out"
# Three progress lines, the count, a blank line and where the originals are kept.
check "no Wine noise in the output" test "$(wc -l <"$root/out")" -eq 6
check "the output ends with where the originals are kept" \
    grep -q "^The originals are kept in $root/backups/" <(tail -n 1 "$root/out")
check "the work folder is empty but for the job places" test -z "$(ls -A "$app/Decrypt/temp" | grep -vx '\.jobs')"
[ $status -eq 0 ] || cat "$root/out"

STAND_IN_CIPHER_FAULTS="encrypt:exit=7:slot 1.sav" "$cli" --dlc 4.00 "$saves" >"$root/out" 2>&1
check "a failing save exits 1" test $? -eq 1
check "the failure is reported with the tool's words" grep -qx \
    "slot 1.sav: cipher tool failed (exit code 7): stand-in: encrypt of slot 1.sav failed on purpose" \
    "$root/out"
check "the failing save keeps its value, the others change" test "$(fields)" = "c800 9001 9001 "

# The limit leaves the other saves' runs through Wine time enough on a busy machine.
STAND_IN_CIPHER_FAULTS="decrypt:hang:slot 1.sav" "$cli" --tool-timeout 10 --dlc 1.00 "$saves" \
    >"$root/out" 2>&1
check "a hanging Windows tool is ended at its time limit" \
    grep -qx "slot 1.sav: cipher tool did not finish within 10 s" "$root/out"
check "and no tool is left running" test -z "$(pgrep -f "$(basename "$root")" | grep -vx $$)"
check "the other saves are converted" test "$(fields)" = "c800 6400 6400 "

# Wine missing: refused before anything is touched.
sums=$(cd "$saves" && md5sum -- *)
PATH="$root/no-wine" "$cli" --dlc 0.00 "$saves" >"$root/out" 2>"$root/err"
check "Wine missing from PATH is exit 2" test $? -eq 2
check "Wine missing is explained" grep -qx \
    "The cipher tool is a Windows program; install Wine to run it (for example: apt install wine)" \
    "$root/err"
check "Wine missing touches no save" test "$(cd "$saves" && md5sum -- *)" = "$sums"
WINE="$root/no-such-wine" "$cli" --dlc 0.00 "$saves" >/dev/null 2>&1
check "a WINE that names nothing is Wine missing" test $? -eq 2

# A prefix never used before is announced; here the Wine given never starts anything.
printf '#!/bin/sh\nexit 1\n' >"$root/fake-wine"
chmod +x "$root/fake-wine"
WINE="$root/fake-wine" WINEPREFIX="$root/new prefix" "$cli" --dlc 0.00 "$saves" >"$root/out" 2>&1
check "a Wine that cannot start exits 1" test $? -eq 1
check "the first use of a prefix is announced before the batch" test "$(head -1 "$root/out")" = \
    "Wine sets up its prefix $root/new prefix on this first use; that takes a while"
check "the saves are left as they were" test "$(cd "$saves" && md5sum -- *)" = "$sums"

# A tool sound alone that keeps one fixed scratch file (beside itself, in its working folder, in
# its temporary folder): with the default jobs, through the bridge, every save gets its own data,
# and each job's copy of the tool gets the exact command line naming that copy.
mixed="$root/mixed"
for place in beside folder temp; do
    rm -rf "$mixed" "$root/wanted" && mkdir "$mixed" "$root/wanted"
    for i in 1 2 3 4 5 6; do # each save and, in wanted/, its own data at 2.00
        head -c 1000 /dev/urandom >"$root/wanted/s$i.sav"
        printf '\310\000' | dd of="$root/wanted/s$i.sav" bs=1 seek=788 conv=notrunc status=none
        cp "$root/wanted/s$i.sav" "$mixed/s$i.sav"
        printf '\144\000' | dd of="$mixed/s$i.sav" bs=1 seek=788 conv=notrunc status=none
        "$STAND_IN_TOOL" "/encrypt:$mixed/s$i.sav" && rm "$mixed/s$i.sav.backup"
    done
    STAND_IN_CIPHER_SCRATCH=$place STAND_IN_CIPHER_SCRATCH_MS=40 "$cli" --jobs 3 --dlc 2.00 "$mixed" \
        >"$root/out" 2>&1
    check "through Wine, scratch $place: every save is changed" \
        grep -qx "Changed versions DLC in 6 files" "$root/out"
    own=yes
    for i in 1 2 3 4 5 6; do
        cp "$mixed/s$i.sav" "$root/scratch" && "$STAND_IN_TOOL" "/decrypt:$root/scratch" >/dev/null
        cmp -s "$root/scratch" "$root/wanted/s$i.sav" || own=no
    done
    check "through Wine, scratch $place: every save holds its own data" test $own = yes
done

report_checks
