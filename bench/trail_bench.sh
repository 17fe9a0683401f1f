#!/usr/bin/env bash
# What the trail costs as it grows, under Wine: one append with 10 MB and with
# 1 GB in the trail (31 rotated files and the current one), a rotation, and
# qz45trail verify per million lines. Needs about 2 GB of disk in BUILD_DIR.
#   bench/trail_bench.sh BUILD_DIR [LINES]   (LINES for verify: 1000000)
set -euo pipefail
build=$(cd "${1:?usage: trail_bench.sh BUILD_DIR [LINES]}" && pwd)
lines=${2:-1000000}
export QZ45_WINEPREFIX=${QZ45_WINEPREFIX:-$build/wineprefix}
W=$build/wine-run
work=$build/trail-bench
rm -rf "$work" && mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$build/bin"
echo "== the trail as it grows (x86-64 under Wine, $(nproc) cores) =="
"$W" trail_bench.exe append "$(printf '%s' "$work" | sed 's|^|Z:|; s|/|\\|g')" 2000 | tr -d '\r'
rm -rf "$work"/*
"$W" trail_bench.exe make "$(printf '%s' "$work/verify.jsonl" | sed 's|^|Z:|; s|/|\\|g')" "$lines"
size=$(du -m "$work/verify.jsonl" | cut -f1)
start=$(date +%s.%N)
out=$("$W" qz45trail.exe verify "$(printf '%s' "$work/verify.jsonl" | sed 's|^|Z:|; s|/|\\|g')" | tr -d '\r')
end=$(date +%s.%N)
echo "$out" | head -1
awk -v a="$start" -v b="$end" -v n="$lines" -v m="$size" 'BEGIN {
    s = b - a; printf "verify, %d lines (%d MB):                %.1f s, %.1f s per million lines, %.0f lines/s\n", n, m, s, s * 1000000 / n, n / s }'
start=$(date +%s.%N)
sha256sum "$work/verify.jsonl" >/dev/null
end=$(date +%s.%N)
awk -v a="$start" -v b="$end" 'BEGIN { printf "sha256sum of the same file (native):     %.1f s\n", b - a }'
