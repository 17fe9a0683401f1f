#!/bin/sh
# Many processes, one trail: starts PROCESSES trail_soak processes side by
# side, each sending from THREADS threads up to EVENTS events per thread for
# at most SECONDS, all through the real DLL to the real reference service and
# one audit trail; then checks that every delivered event is stored exactly
# once, in its thread's order, in whole lines, that no send failed, and that
# the trail's hash chain holds. With ROTATE_KB the service rotates the trail
# at that size: then the events must be stored once across the files, in
# order, the files form one chain, and a rotated file removed, swapped with
# another or edited makes verify fail and name it.
# Usage: trail_soak.sh BIN_DIR PROCESSES THREADS EVENTS SECONDS [ROTATE_KB]
# The Wine runner comes from WINE_RUN.
set -u
bin=$1 procs=$2 threads=$3 events=$4 seconds=$5 rotate=${6:-}
cd "$bin" || exit 1
trail=trail_soak.jsonl
rm -rf "$trail" trail_soak.*.jsonl trail_soak_p*.txt trail_soak_p*.out trail_soak_edit
"$WINE_RUN" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
export QZ45_AUDIT_TRAIL="$trail"
[ -n "$rotate" ] && export QZ45_AUDIT_TRAIL_ROTATE_KB="$rotate"
# The trail's files in order: the rotated ones by their first line, then the current one.
files() {
    ls "$1"/trail_soak.*.jsonl 2>/dev/null | sed 's/.*\.\([0-9]\{9,\}\)\.jsonl$/\1 &/' | sort -n | cut -d' ' -f2
    echo "$1/$trail"
}

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

cat $(files .) >trail_soak_all.jsonl
"$WINE_RUN" trail_soak.exe check trail_soak_all.jsonl trail_soak_p*.txt 2>&1 | tr -d '\r' | tee trail_soak_check.out
grep -q 'lost 0, stored twice 0, not listed 0, out of order 0, partial or broken 0$' \
    trail_soak_check.out || fail=1
chain=$("$WINE_RUN" qz45trail.exe verify "$trail" 2>&1 | tr -d '\r')
echo "$chain"
echo "$chain" | grep -q 'chain intact' || fail=1

sent=$(awk '{ s += $4 } END { print s + 0 }' trail_soak_p*.out)
failed=$(awk '{ s += $8 } END { print s + 0 }' trail_soak_p*.out)
lines=$(wc -l <trail_soak_all.jsonl)
parts=$(files . | wc -l)
if [ -n "$rotate" ]; then
    [ "$parts" -ge 3 ] || { echo "the trail was rotated into $parts file(s) only"; fail=1; }
    # Each kind of edit on a copy of the rotated files, caught and named.
    edit() {
        rm -rf trail_soak_edit && mkdir trail_soak_edit && cp trail_soak*.jsonl trail_soak_edit/
        rm -f trail_soak_edit/trail_soak_all.jsonl
        set -- $(files trail_soak_edit)
        second=$2 third=$3
    }
    expect_verify() {
        out=$("$WINE_RUN" qz45trail.exe verify 'trail_soak_edit\trail_soak.jsonl' 2>&1 | tr -d '\r')
        printf '%s\n' "$out" | grep -q -- "$1" || { echo "$2: verify said: $out"; fail=1; }
    }
    edit
    rm "$second"
    expect_verify "are missing: .* and $(basename "$third") starts at line [0-9]* (a file between them was removed" "a rotated file removed"
    edit
    mv "$second" trail_soak_edit/swap && mv "$third" "$second" && mv trail_soak_edit/swap "$third"
    expect_verify "out of order\|are missing\|belongs after\|follows a line" "two rotated files swapped"
    edit
    sed -i '1s/"User":"/"User":"X/' "$second"
    expect_verify "was changed: its content does not match its hash ($(basename "$second") line 1)" \
        "a rotated file edited"
    rm -rf trail_soak_edit
fi
lost=$(sed -n 's/.* lost \([0-9]*\),.*/\1/p' trail_soak_check.out)
echo "trail soak: $sent events from $procs processes x $threads threads in $secs s, $lines lines in $parts file(s), failures: $failed, lost: ${lost:-?}, chain: $(echo "$chain" | grep -q 'chain intact' && echo intact || echo BROKEN)"
rm -f trail_soak_p*.txt trail_soak_p*.out trail_soak_check.out trail_soak_all.jsonl
[ $fail -eq 0 ] && echo "trail soak: ok"
exit $fail
