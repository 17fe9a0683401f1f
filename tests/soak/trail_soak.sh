#!/bin/sh
# Many processes, one trail: starts PROCESSES trail_soak processes side by
# side, each sending from THREADS threads up to EVENTS events per thread for
# at most SECONDS, all through the real DLL to the real reference service and
# one audit trail; then checks that every delivered event is stored exactly
# once, in its thread's order, in whole lines, that no send failed, and that
# the trail's hash chain holds.
# Usage: trail_soak.sh BIN_DIR PROCESSES THREADS EVENTS SECONDS
# The Wine runner comes from WINE_RUN.
set -u
bin=$1 procs=$2 threads=$3 events=$4 seconds=$5
cd "$bin" || exit 1
trail=trail_soak.jsonl
rm -f "$trail" trail_soak_p*.txt trail_soak_p*.out
"$WINE_RUN" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
export QZ45_AUDIT_TRAIL="$trail"

fail=0
start=$(date +%s)
pids=""
p=1
while [ "$p" -le "$procs" ]; do
    "$WINE_RUN" trail_soak.exe send "p$p" "$threads" "$events" "$seconds" "trail_soak_p$p.txt" \
        >"trail_soak_p$p.out" 2>/dev/null &
    pids="$pids $!"
    p=$((p + 1))
done
for pid in $pids; do wait "$pid" || fail=1; done
secs=$(( $(date +%s) - start ))
cat trail_soak_p*.out | tr -d '\r'

"$WINE_RUN" trail_soak.exe check "$trail" trail_soak_p*.txt 2>&1 | tr -d '\r' | tee trail_soak_check.out
grep -q 'lost 0, stored twice 0, not listed 0, out of order 0, partial or broken 0$' \
    trail_soak_check.out || fail=1
chain=$("$WINE_RUN" qz45trail.exe verify "$trail" 2>&1 | tr -d '\r')
echo "$chain"
echo "$chain" | grep -q 'chain intact' || fail=1

sent=$(awk '{ s += $4 } END { print s + 0 }' trail_soak_p*.out)
failed=$(awk '{ s += $8 } END { print s + 0 }' trail_soak_p*.out)
lines=$(wc -l <"$trail")
lost=$(sed -n 's/.* lost \([0-9]*\),.*/\1/p' trail_soak_check.out)
echo "trail soak: $sent events from $procs processes x $threads threads in $secs s, $lines lines, failures: $failed, lost: ${lost:-?}, chain: $(echo "$chain" | grep -q 'chain intact' && echo intact || echo BROKEN)"
rm -f trail_soak_p*.txt trail_soak_p*.out trail_soak_check.out
[ $fail -eq 0 ] && echo "trail soak: ok"
exit $fail
