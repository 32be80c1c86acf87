#!/usr/bin/env bash
# What a cipher tool that crashes costs per save under Wine with a display: ostrapel-cli --dlc
# over N saves whose decipher crashes (the stand-in's crash fault), through the Wine bridge.
#   xvfb-run -a -s "-screen 0 1024x768x24" bench/wine_crash_cost.sh build/testing [N] [TIMEOUT]
# Prints the seconds per save; before the tool's crash ended without a dialog it was TIMEOUT.
set -u
build=$1; n=${2:-3}; timeout=${3:-20}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export OSTRAPEL_BACKUP_DIR="$root/backups" WINEPREFIX="${WINEPREFIX:-$root/prefix}"
app="$root/app"; mkdir -p "$app/Decrypt" "$root/saves"
cp -r "$build/bin/." "$app/"
cp "$build/tests/windows/decrypt.exe" "$app/Decrypt/decrypt.exe"
for i in $(seq 1 "$n"); do head -c 1000 /dev/urandom >"$root/saves/s$i.sav"
  "$build/tests/decrypt.exe" "/encrypt:$root/saves/s$i.sav"; rm -f "$root/saves/s$i.sav.backup"; done
# warm the prefix and the bridge once
STAND_IN_CIPHER_FAULTS="" "$app/ostrapel-cli" --show "$root/saves" >/dev/null 2>&1
start=$(date +%s.%N)
STAND_IN_CIPHER_FAULTS="decrypt:crash:*" "$app/ostrapel-cli" --jobs 1 --tool-timeout "$timeout" --dlc 2.00 "$root/saves" >"$root/out" 2>&1
end=$(date +%s.%N)
cat "$root/out"
awk -v s="$start" -v e="$end" -v n="$n" -v t="$timeout" \
    'BEGIN { printf "per save: %.2f s over %d saves (tool timeout %d s)\n", (e - s) / n, n, t }'

