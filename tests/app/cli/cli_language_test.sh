#!/usr/bin/env bash
# ostrapel-cli in German and in Russian: a batch whose failures are grouped by reason, told in
# the catalogue's words with the file names and the cipher tool's words as they are, and what a
# script reads the same as in English. With OSTRAPEL_EMULATOR (a ';'-separated command, such as
# Wine's), the programs are Windows programs run through it.
set -u
: "${OSTRAPEL_CLI:?path of ostrapel-cli}" "${STAND_IN_TOOL:?path of the stand-in tool}"

. "$(dirname "${BASH_SOURCE[0]}")/../../support/emulator.sh"
. "$(dirname "${BASH_SOURCE[0]}")/../../support/check.sh"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export OSTRAPEL_BACKUP_DIR="$(native "$root/backups")" XDG_DATA_HOME="$root/data"
app="$root/app"
mkdir -p "$app/Decrypt/temp"
cp "$OSTRAPEL_CLI" "$app/ostrapel-cli$exe"
cp "$STAND_IN_TOOL" "$app/Decrypt/decrypt.exe"
# run OUT LANGUAGE ARGS...: stdout to OUT, stderr to OUT.err, carriage returns dropped; the exit
# status in OUT.status.
run() {
    local out=$1 language=$2 rc=0
    shift 2
    "${emulator[@]}" "$app/ostrapel-cli$exe" --language "$language" "$@" >"$out.raw" 2>"$out.err.raw" || rc=$?
    tr -d '\r' <"$out.raw" >"$out"
    tr -d '\r' <"$out.err.raw" >"$out.err"
    echo "$rc" >"$out.status"
}

# Twelve saves: the tool fails on eleven, with its own words; one converts.
saves="$root/Spielstände"
mkdir "$saves"
faults=""
for i in $(seq 1 12); do
    name="Slot $i.sav"
    head -c 1000 /dev/urandom >"$saves/$name"
    printf '\144\000' | dd of="$saves/$name" bs=1 seek=788 conv=notrunc status=none # at 1.00
    "${emulator[@]}" "$app/Decrypt/decrypt.exe" "/encrypt:$(native "$saves/$name")" >/dev/null
    rm -f "$saves/$name.backup"
    [ "$i" -gt 1 ] && faults+="decrypt:exit=7:$name;"
done
cp -a "$saves" "$root/originals"

for language in en de ru; do
    rm -rf "$saves" && cp -a "$root/originals" "$saves"
    OSTRAPEL_BACKUP_DIR="$(native "$root/backups-$language")" STAND_IN_CIPHER_FAULTS="$faults" \
        run "$root/$language" "$language" --jobs 1 --dlc 2.00 "$(native "$saves")"
    run "$root/$language-list" "$language" --list "$(native "$saves")"
    run "$root/$language-null" "$language" --list --null "$(native "$saves")"
    run "$root/$language-missing" "$language" --dlc 2.00 "$(native "$root/no such folder")"
done

# language|changed|not changed|grouped heading|not a folder
while IFS='|' read -r -u 3 language changed left heading folder; do
    out="$root/$language"
    check "$language: a save's line says it changed in the catalogue's words" \
        grep -qx "\[1/12\] Slot 1.sav: $changed [-0-9.]* -> 2.00" "$out"
    check "$language: each failure's line is in the catalogue's words, name and tool's words verbatim" \
        test "$(grep -c "^\[[0-9]*/12\] Slot [0-9]*\.sav: $left (.*: stand-in: decrypt of Slot [0-9]*\.sav failed on purpose)$" "$out")" -eq 11
    check "$language: the grouped report has its heading" grep -qx "$heading" "$out"
    check "$language: the grouped report names the saves as they are" \
        grep -q "Slot 2.sav, Slot 3.sav, Slot 4.sav" "$out"
    check "$language: the grouped report keeps the tool's words" \
        grep -q "stand-in: decrypt of Slot 2.sav failed on purpose" "$out"
    check "$language: the refusal is in the catalogue's words" \
        grep -qxF "$folder $(native "$root/no such folder")" "$out-missing.err"
done 3<<TABLE
en|changed|not changed|Not changed, by reason:|Not a folder:
de|geändert|nicht geändert|Nicht geändert, nach Grund:|Kein Ordner:
ru|изменено|не изменено|Не изменены, по причинам:|Это не папка:
TABLE

# What a script reads is the same in every language.
for language in de ru; do
    for what in "" -list -null -missing; do
        check "$language: the exit status of '${what:-dlc}' is English's" \
            cmp -s "$root/en$what.status" "$root/$language$what.status"
    done
    check "$language: --list prints what it prints in English" cmp -s "$root/en-list" "$root/$language-list"
    check "$language: --list --null prints what it prints in English" cmp -s "$root/en-null" "$root/$language-null"
    # but for the time the batch ran
    check "$language: the backup manifest is English's" \
        diff <(grep -v '^time ' "$root"/backups-en/*/*/manifest) <(grep -v '^time ' "$root/backups-$language"/*/*/manifest)
done
check "the batch exits 1" test "$(cat "$root/en.status")" = 1
check "a missing folder exits 2" test "$(cat "$root/en-missing.status")" = 2
check "--list lists the twelve saves" test "$(wc -l <"$root/en-list")" -eq 12
check "the manifest names the save converted, with the value it held" grep -qE ' Slot%201.sav -?[0-9]+$' "$root"/backups-en/*/*/manifest

# A language the program does not carry: English, said once on stderr; no tag: bad usage.
run "$root/xx" xx --list "$(native "$saves")"
check "an unknown language lists as English" cmp -s "$root/en-list" "$root/xx"
check "an unknown language is said on stderr" grep -qx "No translation into xx; English is used" "$root/xx.err"
"${emulator[@]}" "$app/ostrapel-cli$exe" --list "$(native "$saves")" --language >/dev/null 2>"$root/err"
check "--language without a tag is bad usage" test $? -eq 2
check "--language without a tag is explained" grep -q "^--language needs a language tag" "$root/err"

report_checks cli_language
