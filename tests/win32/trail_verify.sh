#!/bin/sh
# qz45trail verify on a trail the reference service wrote, and on copies of
# it edited by hand: each kind of edit is caught at its line.
# Argument: the folder holding the programs; WINE_RUN: the Wine runner.
cd "$1" || exit 1
fail=0
trail=trail_verify.jsonl
rm -f "$trail" trail_verify_*.jsonl
"$WINE_RUN" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
for i in 1 2 3 4 5; do
    QZ45_AUDIT_TRAIL=$trail "$WINE_RUN" qz45event.exe send --type Startup --user "op$i" \
        --domain PLANT --message "event $i" --ref-id "verify-$i" >/dev/null 2>&1
done

# expect EXIT PATTERN FILE: verify exits with EXIT and prints PATTERN.
expect() {
    out=$("$WINE_RUN" qz45trail.exe verify "$3" 2>&1)
    code=$?
    out=$(printf '%s' "$out" | tr -d '\r')
    if [ "$code" -ne "$1" ] || ! printf '%s\n' "$out" | grep -q -- "$2"; then
        echo "verify $3: exit $code, printed: $out"
        echo "  expected exit $1 and: $2"
        fail=1
    fi
}

expect 0 '^5 lines, chain intact$' "$trail"
sed '3s/event 3/event 8/' "$trail" >trail_verify_changed.jsonl
expect 1 'line 3 was changed' trail_verify_changed.jsonl
sed '3d' "$trail" >trail_verify_removed.jsonl
expect 1 'line 3 follows a line that is no longer in the trail' trail_verify_removed.jsonl
{ sed -n 1p "$trail"; sed -n 3p "$trail"; sed -n 2p "$trail"; sed -n '4,$p' "$trail"; } \
    >trail_verify_swapped.jsonl
expect 1 'line 2 belongs after line 3: lines were reordered' trail_verify_swapped.jsonl
sed '1d' "$trail" >trail_verify_head.jsonl
expect 1 'line 1 does not start the chain' trail_verify_head.jsonl
sed -n '1,2p;2p;3,$p' "$trail" >trail_verify_copied.jsonl
expect 1 'line 3 repeats line 2: inserted' trail_verify_copied.jsonl
sed '2s/,"prev":.*$/}/' "$trail" >trail_verify_unchained.jsonl
expect 1 'line 2 has no chain fields' trail_verify_unchained.jsonl
# A trail begun before chaining: checked from its first chained line on.
{ echo '{"event":"GeneralEvent","properties":{"Message":"written before chaining"}}'; cat "$trail"; } \
    >trail_verify_older.jsonl
expect 0 '1 unchained line(s) written before chaining precede it; checked from line 2 on' \
    trail_verify_older.jsonl
# The table ignores the chain fields.
"$WINE_RUN" qz45trail.exe "$trail" | tr -d '\r' | grep -q '^5 event(s) in' || {
    echo "the table view does not read the chained trail"; fail=1; }

rm -f "$trail" trail_verify_*.jsonl
[ $fail -eq 0 ] && echo "verify catches every edit"
exit $fail
