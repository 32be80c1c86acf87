#!/usr/bin/env bash
# Checks what the build makes for an installed system: the manual pages render without a
# warning and cover what a user looks up, the bash completion completes, and the desktop entry
# and AppStream metadata pass their validators with nothing to say.
#   tests/package/docs_test.sh BUILD_DIR SOURCE_DIR
set -u
made=${1:?build folder of app/linux}
source_dir=${2:?source folder of app/linux}

. "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

for page in ostrapel ostrapel-cli; do
    zcat "$made/man/$page.1.gz" >"$root/$page.1"
    groff -ww -man -Tutf8 "$root/$page.1" >"$root/$page.txt" 2>"$root/$page.warnings"
    check "$page(1) renders" test $? -eq 0
    check "$page(1) renders without a warning" test ! -s "$root/$page.warnings"
    cat "$root/$page.warnings"
    # Without the overstrikes of bold and italics, the lines joined.
    text=$(sed 's/.\x08//g' "$root/$page.txt" | tr -s ' \n' ' ')
    for word in OSTRAPEL_BACKUP_DIR WINE WINEPREFIX XDG_DATA_HOME "BACKUPS AND UNDO" \
        "PROGRAM FOLDER" "ostrapel-cli --restore FOLDER"; do
        check "$page(1) tells of $word" grep -qF -- "$word" <<<"$text"
    done
done
cli_page=$(sed 's/.\x08//g' "$root/ostrapel-cli.txt")
for word in "EXIT STATUS" --dlc --show --list --null --backups --tool-timeout --jobs --language \
    LANGUAGES "What scripts read is the same in every language" LC_MESSAGES 130; do
    check "ostrapel-cli(1) tells of $word" grep -qF -- "$word" <<<"$cli_page"
done

# The completion, as bash runs it for "ostrapel-cli WORDS<Tab>".
completions() { # completions WORD... (the last one is being completed)
    (
        cd "$root/folder" || exit 1
        . "$made/completions/ostrapel-cli"
        COMP_WORDS=(ostrapel-cli "$@")
        COMP_CWORD=${#COMP_WORDS[@]}
        COMP_CWORD=$((COMP_CWORD - 1))
        _ostrapel_cli
        printf '%s\n' "${COMPREPLY[@]}"
    )
}
mkdir -p "$root/folder/my saves" "$root/folder/more"
touch "$root/folder/slot1.sav"
check "every option completes from --" test "$(completions -- | wc -l)" -eq 12
# What the words typed complete to, in name order and joined by '|'.
while IFS='|' read -r -u 3 what words expected; do
    eval "typed=($words)"
    check "$what" test "$(completions "${typed[@]}" | sort | paste -sd '|')" = "$expected"
done 3<<'TABLE'
options complete|--j|--jobs
after --dlc, the version labels|--dlc ''|0.00|1.00|2.00|3.00|4.00
after --dlc, a label completes|--dlc 2|2.00
after --language, the languages|--language p|pl|pt_BR
then folders, not files|--dlc 2.00 ''|more|my saves
a folder completes after --restore|--restore my|my saves
no option after --|-- --|
TABLE

for language in de es fr ja pl pt_BR ru zh_CN; do
    check "the desktop entry describes the program in $language" \
        grep -q "^Comment\[$language\]=." "$source_dir/org.ostrapel.ostrapel.desktop"
    check "the AppStream data sums it up in $language" \
        grep -q "<summary xml:lang=\"$language\">" "$made/org.ostrapel.ostrapel.metainfo.xml"
done
if command -v desktop-file-validate >/dev/null; then
    check "desktop-file-validate has nothing to say" \
        test -z "$(desktop-file-validate "$source_dir/org.ostrapel.ostrapel.desktop" 2>&1)"
else
    check "desktop-file-validate is installed (scripts/install-deps)" false
fi
if command -v appstreamcli >/dev/null; then
    out=$(appstreamcli validate --pedantic --no-net --no-color \
        "$made/org.ostrapel.ostrapel.metainfo.xml" 2>&1)
    check "appstreamcli validate --pedantic passes" test $? -eq 0
    check "appstreamcli validate --pedantic has nothing to say" \
        test "$out" = "✔ Validation was successful."
    echo "$out"
else
    check "appstreamcli is installed (scripts/install-deps)" false
fi

report_checks docs_test
