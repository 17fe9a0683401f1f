#!/bin/sh
# Runs the soak in rounds, one process each, and adds up the totals.
# Usage: soak.sh BIN_DIR ROUNDS EVENTS_PER_THREAD FAULTS_PER_MILLION [FIRST_SEED]
# The Wine runner comes from WINE_RUN.
set -u
bin=$1 rounds=$2 events=$3 ppm=$4 seed=${5:-1}
cd "$bin" || exit 1
fail=0
log=$(mktemp)
i=0
start=$(date +%s)
while [ "$i" -lt "$rounds" ]; do
    s=$((seed + i))
    "$WINE_RUN" soak.exe "$s" "$events" "$ppm" 2>/dev/null | tr -d '\r' >>"$log"
    tail -1 "$log" | grep -qx "soak: ok" || fail=1
    i=$((i + 1))
done
grep -v '^soak: ok$' "$log" | grep -v '^soak round' || true
awk -v secs=$(( $(date +%s) - start )) '/^soak round/ {
        for (i = 1; i <= NF; i++) {
            if ($(i+1) == "events") sent += $i; if ($(i+1) == "delivered,") del += $i
            if ($(i+1) == "service") svc += $i; if ($(i+1) == "refused") inv += $i
            if ($(i+1) == "bad") bad += $i; if ($(i+1) == "dropped") drop += $i
            if ($(i+1) == "faults") faults += $i; if ($(i+1) == "wrong") wrong += $i
            if ($(i+1) == "interleavings;") inter += $i
        }
        rounds++; if ($0 ~ /breaker opened/) opened++
    }
    END { printf "soak totals: %d rounds in %d s, %d events sent, %d delivered, %d service failures, %d refused, %d bad type, %d dropped by the breaker (opened in %d rounds), %d faults injected, %d interleavings, %d wrong\n", rounds, secs, sent, del, svc, inv, bad, drop, opened, faults, inter, wrong }' "$log"
rm -f "$log"
[ $fail -eq 0 ] && echo "soak: all rounds ok"
exit $fail
