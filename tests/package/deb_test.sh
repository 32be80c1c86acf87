#!/usr/bin/env bash
# Checks a built .deb: lintian finds no error or warning, its fields and files, and that its
# ostrapel-cli, unpacked into a scratch root, converts a folder with the cipher tool in a
# per-user program folder set through XDG_DATA_HOME. With WINDOWS_TOOL given, also through
# Wine with the packaged bridge.
#   tests/package/deb_test.sh PACKAGE.deb
# Environment: STAND_IN_TOOL (the Linux stand-in cipher tool), optionally WINDOWS_TOOL and
# WINEPREFIX.
set -u
deb=${1:?package}
: "${STAND_IN_TOOL:?path of the Linux stand-in tool}"

. "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
for file in /usr/bin/ostrapel /usr/bin/ostrapel-cli /usr/lib/ostrapel/ostrapel-winebridge.exe \
    /usr/share/applications/org.ostrapel.ostrapel.desktop \
    /usr/share/metainfo/org.ostrapel.ostrapel.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/org.ostrapel.ostrapel.svg \
    /usr/share/icons/hicolor/48x48/apps/org.ostrapel.ostrapel.png \
    /usr/share/icons/hicolor/256x256/apps/org.ostrapel.ostrapel.png \
    /usr/share/man/man1/ostrapel.1.gz /usr/share/man/man1/ostrapel-cli.1.gz \
    /usr/share/bash-completion/completions/ostrapel-cli \
    /usr/share/doc/ostrapel/copyright /usr/share/doc/ostrapel/changelog.gz; do
    check "the package holds $file" grep -qx "$file" <<<"$contents"
done
check "no Decrypt folder is packaged" test -z "$(grep -i decrypt <<<"$contents")"
depends=$(dpkg-deb -f "$deb" Depends)
check "it depends on the Qt 6 runtime" grep -q "libqt6widgets6" <<<"$depends"
check "it depends on Qt's own translations" grep -q "qt6-translations-l10n" <<<"$depends"
check "it recommends wine and a CJK font" \
    test "$(dpkg-deb -f "$deb" Recommends)" = "wine, fonts-noto-cjk | fonts-wqy-microhei"
check "it is in section utils" test "$(dpkg-deb -f "$deb" Section)" = utils
description=$(dpkg-deb -f "$deb" Description)
check "its description has no list separator" test "${description//;/}" = "$description"
check "its description's lines fit 80 columns" test "$(wc -L <<<"$description")" -lt 80
check "its description has a summary and more lines" test "$(wc -l <<<"$description")" -gt 2
# What the package needs, scripts/install-deps installs (itself or as a dependency of what it
# names), so the tests see what a player has; of alternatives, one is enough.
named=$(dirname "${BASH_SOURCE[0]}")/../../scripts/install-deps
# shellcheck disable=SC2046
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances $("$named" --list --windows) 2>/dev/null | grep -v '^ ' |
    sort -u >"$root/installed"
installed_by_deps() { # a package field's groups; prints those none of whose alternatives is there
    tr ',' '\n' <<<"$1" | sed 's/([^)]*)//g' | while read -r group; do
        [ -n "$group" ] || continue
        found=false
        for package in ${group//|/ }; do
            grep -qx "$package" "$root/installed" && found=true
        done
        $found || echo "$group"
    done
}
for field in Depends Recommends; do
    left=$(installed_by_deps "$(dpkg-deb -f "$deb" "$field")")
    check "scripts/install-deps installs what the package's $field names${left:+ (not: $left)}" \
        test -z "$left"
done
# Debian's own checks: no error, no warning.
lintian --fail-on error,warning --info "$deb" >"$root/lintian" 2>&1
check "lintian finds no error and no warning" test $? -eq 0
grep -E '^(E|W):' "$root/lintian"

dpkg -x "$deb" "$root/install"
if command -v appstreamcli >/dev/null; then
    check "the AppStream metadata validates" \
        appstreamcli validate --no-net --strict "$root/install/usr/share/metainfo/org.ostrapel.ostrapel.metainfo.xml" >/dev/null
fi
check "the desktop entry starts ostrapel with our icon" \
    grep -qx "Exec=ostrapel" "$root/install/usr/share/applications/org.ostrapel.ostrapel.desktop"
check "the 48 px icon is a 48 px PNG" \
    grep -q "PNG image data, 48 x 48" <(file "$root/install/usr/share/icons/hicolor/48x48/apps/org.ostrapel.ostrapel.png")

cli="$root/install/usr/bin/ostrapel-cli"
data="$root/data home"
saves="$root/saves"
mkdir -p "$saves"
for name in "a.sav" "b c.sav"; do
    head -c 1000 /dev/urandom >"$saves/$name"
    printf '\144\000' | dd of="$saves/$name" bs=1 seek=788 conv=notrunc status=none # at 1.00
    "$STAND_IN_TOOL" "/encrypt:$saves/$name" >/dev/null && rm -f "$saves/$name.backup"
done
field_of() {
    cp "$saves/$1" "$root/scratch"
    "$STAND_IN_TOOL" "/decrypt:$root/scratch" >/dev/null
    od -An -tx1 -j788 -N2 "$root/scratch" | tr -d ' \n'
}

# No tool yet: the per-user program folder is made, and the report says where the tool goes.
XDG_DATA_HOME="$data" "$cli" --dlc 2.00 "$saves" >"$root/out" 2>&1
check "a missing tool exits 1" test $? -eq 1
check "the report names the per-user place of the tool" \
    grep -qx "Cipher tool not found: $data/ostrapel/Decrypt/decrypt.exe" "$root/out"
check "the per-user work folder is made" test -d "$data/ostrapel/Decrypt/temp"

cp "$STAND_IN_TOOL" "$data/ostrapel/Decrypt/decrypt.exe"
XDG_DATA_HOME="$data" "$cli" --dlc 2.00 "$saves" >"$root/out" 2>&1
check "the installed CLI converts the folder" test $? -eq 0
check "both saves hold 200" test "$(field_of a.sav) $(field_of 'b c.sav')" = "c800 c800"
check "nothing is written beside the installed program" test ! -e "$root/install/usr/bin/Decrypt"

if [ -n "${WINDOWS_TOOL:-}" ] && command -v wine >/dev/null; then
    cp "$WINDOWS_TOOL" "$data/ostrapel/Decrypt/decrypt.exe"
    STAND_IN_CIPHER_STRICT=1 XDG_DATA_HOME="$data" "$cli" --dlc 3.00 "$saves" >"$root/out" 2>&1
    check "through Wine with the packaged bridge" test $? -eq 0
    check "both saves hold 300" test "$(field_of a.sav) $(field_of 'b c.sav')" = "2c01 2c01"
    [ $failed -eq 0 ] || cat "$root/out"
fi

report_checks
