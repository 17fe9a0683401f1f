#!/bin/sh
# qz45trail verify and the table view on a trail the reference service wrote,
# and on copies of it edited by hand: each kind of edit is caught at its line
# with its exit code; what is not an edit (CR LF line ends, a line still being
# written, a name beyond ASCII) is not taken for one; no text of a line can
# make the table show a row that is not there.
# Argument: the folder holding the programs; WINE_RUN: the Wine runner.
cd "$1" || exit 1
fail=0
trail=trail_verify.jsonl
rm -f "$trail" trail_verify_*
"$WINE_RUN" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
for i in 1 2 3 4 5; do
    QZ45_AUDIT_TRAIL=$trail "$WINE_RUN" qz45event.exe send --type Startup --user "op$i" \
        --domain PLANT --message "event $i" --ref-id "verify-$i" >/dev/null 2>&1
done

# expect EXIT PATTERN ARGS...: qz45trail ARGS exits with EXIT and prints PATTERN.
expect() {
    want=$1 pattern=$2
    shift 2
    out=$("$WINE_RUN" qz45trail.exe "$@" 2>&1)
    code=$?
    out=$(printf '%s' "$out" | tr -d '\r')
    if [ "$code" -ne "$want" ] || ! printf '%s\n' "$out" | grep -q -- "$pattern"; then
        echo "qz45trail $*: exit $code, printed: $out"
        echo "  expected exit $want and: $pattern"
        fail=1
    fi
}

expect 0 '^5 lines, chain intact$' verify "$trail"
# A name starting with / is a file, not an option.
expect 0 '^5 lines, chain intact$' verify "$(pwd)/$trail"
sed '3s/event 3/event 8/' "$trail" >trail_verify_changed.jsonl
expect 1 'line 3 was changed' verify trail_verify_changed.jsonl
sed '3d' "$trail" >trail_verify_removed.jsonl
expect 1 'line 3 follows a line that is no longer in the trail' verify trail_verify_removed.jsonl
{ sed -n 1p "$trail"; sed -n 3p "$trail"; sed -n 2p "$trail"; sed -n '4,$p' "$trail"; } \
    >trail_verify_swapped.jsonl
expect 1 'line 2 belongs after line 3: lines were reordered' verify trail_verify_swapped.jsonl
sed '1d' "$trail" >trail_verify_head.jsonl
expect 1 'line 1 does not start the chain' verify trail_verify_head.jsonl
sed -n '1,2p;2p;3,$p' "$trail" >trail_verify_copied.jsonl
expect 1 'line 3 repeats line 2: inserted' verify trail_verify_copied.jsonl
sed '2s/,"prev":.*$/}/' "$trail" >trail_verify_unchained.jsonl
expect 1 'line 2 has no chain members' verify trail_verify_unchained.jsonl

# Lines without chain members in front of the chain: a trail begun before
# chaining, or a forged line put at the top. Not proved, so not passed,
# unless the caller accepts exactly that many.
{ echo '{"event":"GeneralEvent","properties":{"Message":"FORGED: written before chaining"}}'; cat "$trail"; } \
    >trail_verify_older.jsonl
expect 4 'lines 1-1 have no chain members and precede the chain' verify trail_verify_older.jsonl
expect 0 'the chain is checked from line 2 on (accepted: --unchained 1)' verify --unchained 1 \
    trail_verify_older.jsonl
expect 4 '1 line(s) without chain members' verify --unchained 2 trail_verify_older.jsonl
# Every chain member stripped and a message edited: nothing is proved.
sed 's/,"prev":.*$/}/; 4s/event 4/event 9/' "$trail" >trail_verify_stripped.jsonl
expect 4 'none of them is chained' verify trail_verify_stripped.jsonl

# CR LF line ends are line ends: the same trail, intact.
sed 's/$/\r/' "$trail" >trail_verify_crlf.jsonl
expect 0 '^5 lines, chain intact$' verify trail_verify_crlf.jsonl
# A line still being written (or left by a writer that died) is unfinished,
# not changed; the lines before it check out.
{ cat "$trail"; head -c 40 "$trail"; } >trail_verify_unfinished.jsonl
expect 5 'line 6 is unfinished: 40 byte(s) without a line end' verify trail_verify_unfinished.jsonl
# A name beyond ASCII, for verify and the table alike.
cp "$trail" "trail_verify_Prüfung_測定.jsonl"
expect 0 '^5 lines, chain intact$' verify "trail_verify_Prüfung_測定.jsonl"
expect 0 '^5 event(s) in trail_verify_Prüfung_測定.jsonl$' "trail_verify_Prüfung_測定.jsonl"
expect 3 'cannot read trail_verify_missing.jsonl: ' verify trail_verify_missing.jsonl
expect 2 'verify needs a FILE, a database, or both' verify
# A file that is not there is exit 3 for every command, before any database
# is reached; a mistyped option or command is exit 2 with what was meant.
expect 3 'cannot read trail_verify_missing.jsonl: ' trail_verify_missing.jsonl
for cmd in verify ship prune; do
    expect 3 'cannot read trail_verify_missing.jsonl: ' $cmd trail_verify_missing.jsonl --odbc DSN=none
done
expect 3 'cannot read the connection string from trail_verify_missing.txt' ship "$trail" \
    --odbc-file trail_verify_missing.txt
expect 2 'machnie is not an option of qz45trail ship; did you mean --machine?' ship "$trail" \
    --machnie M --odbc DSN=none
expect 2 'verfy is not a command; did you mean verify?' verfy "$trail"
expect 0 'Usage: qz45trail verify' verify --help
expect 0 'Exit codes, for every command' -h

# A message with line ends cannot forge a row: the table shows it escaped.
QZ45_AUDIT_TRAIL=$trail "$WINE_RUN" qz45event.exe send --type Startup --user op6 --domain PLANT \
    --message "$(printf 'harmless\n9   GeneralEvent       206  2026-01-01T00:00:00.000Z PLANT\\admin FORGED\033[2K')" \
    >/dev/null 2>&1
expect 0 '^6 event(s) in' "$trail"
printf '%s\n' "$out" | grep -q 'harmless\\n9   GeneralEvent .*FORGED\\x1b\[2K$' ||
    { echo "the table does not show the message's line end and escape escaped: $out"; fail=1; }
[ "$(printf '%s\n' "$out" | grep -c 'GeneralEvent')" = 6 ] ||
    { echo "the table shows another number of rows than 6: $out"; fail=1; }

rm -f "$trail" trail_verify_*
[ $fail -eq 0 ] && echo "verify catches every edit"
exit $fail
