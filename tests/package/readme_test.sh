#!/usr/bin/env bash
# Keeps README.md true for a newcomer: short, its two commands there and runnable (and the
# one CI runs), and every link in it and in docs/ leading to a file that exists.
#   tests/package/readme_test.sh SOURCE_DIR
set -u
root=${1:?source folder}

. "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"

readme=$root/README.md
check "README.md is at most about 200 lines" test "$(wc -l <"$readme")" -le 210
for command in scripts/run scripts/test; do
    check "README.md gives the command $command" grep -qE "^    $command( |$)" "$readme"
    check "$command can be run" test -x "$root/$command"
done
check "scripts/run takes --cli, as README.md says" grep -q -- '--cli' "$root/scripts/run"
check "CI runs README.md's test command" grep -qE '^scripts/test( |$)' "$root/.ci/run"

# Links: [text](target), relative to the file; web addresses and anchors in the same file aside.
for doc in "$readme" "$root"/docs/*.md; do
    while IFS= read -r target; do
        target=${target%%#*}
        [ -n "$target" ] || continue
        check "${doc#"$root"/} links to $target, which exists" \
            test -e "$(dirname "$doc")/$target"
    done < <(grep -oE '\]\([^)]+\)' "$doc" | sed -E 's/^\]\((.*)\)$/\1/' | grep -vE '^[a-z]+:')
done
for doc in "$root"/docs/*.md; do
    check "README.md links to ${doc#"$root"/}" grep -qF "(${doc#"$root"/})" "$readme"
done

report_checks readme_test
