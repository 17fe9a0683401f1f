#!/usr/bin/env bash
# qz45trail against a real PostgreSQL server through Wine's odbc32, unixODBC
# and the PostgreSQL ODBC driver: trails written by the real reference
# service, shipped, shipped again, cut off and resumed, followed across a
# server restart, read back and checked in the database.
# Usage: trail_ship.sh CASE BIN_DIR POSTGRES_DIR TIER
#   ship    one trail: exactly once, texts verbatim, refusals, bad input,
#           edits in the database caught by verify
#   faults  a 20,000-line trail: the shipper killed midway and run again; then
#           followed while the server stops and starts
#   plant   a trail of four processes: shipped, verified, filtered
# POSTGRES_DIR/env (scripts/postgres.sh init) gives the server; WINE_RUN the
# Wine runner.
set -u
case_=$1 bin=$2 pgdir=$3 tier=$4
cd "$bin" || exit 1
arch=x86-64
[ "$tier" = win32 ] && arch=i686
echo "ODBC tests of qz45trail on $arch ($tier), case $case_"
if [ ! -f "$pgdir/env" ]; then
    echo "no PostgreSQL server was started for these tests ($pgdir/env is missing)"
    exit 1
fi
. "$pgdir/env"
export PSQLRC=/dev/null
fail=0
W=$WINE_RUN

bad() { echo "FAIL: $*"; fail=1; }
q() { psql -X -q -t -A -v ON_ERROR_STOP=1 -c "$1"; }
# run ARGS...: qz45trail with ARGS; sets $out (stdout and stderr) and $code.
run() {
    out=$("$W" qz45trail.exe "$@" 2>&1)
    code=$?
    out=$(printf '%s' "$out" | tr -d '\r')
}
# expect CODE PATTERN WHAT: the last run exited CODE and printed PATTERN.
expect() {
    if [ "$code" -ne "$1" ] || ! printf '%s\n' "$out" | grep -q -- "$2"; then
        bad "$3: exit $code, printed:"
        printf '%s\n' "$out" | sed 's/^/    /' | head -20
        echo "  expected exit $1 and: $2"
    fi
}
rows() { q "SELECT count(*) FROM audit_trail WHERE machine = '$1'"; }
send() { QZ45_AUDIT_TRAIL=$trail "$W" qz45event.exe send "$@" >/dev/null 2>&1 || bad "send $*"; }
# chain FILE CONTENT: appends CONTENT (a JSON object) to FILE as a chained line.
chain() {
    local prev hash
    prev=$(tail -1 "$1" | sed -n 's/.*"hash":"\([0-9a-f]\{64\}\)"}$/\1/p')
    [ -n "$prev" ] || prev=0000000000000000000000000000000000000000000000000000000000000000
    hash=$(printf '%s%s' "$prev" "$2" | sha256sum | cut -c1-64)
    printf '%s,"prev":"%s","hash":"%s"}\n' "${2%\}}" "$prev" "$hash" >>"$1"
}

"$W" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
rm -f odbc_*.jsonl

case "$case_" in
ship)
    trail=odbc_ship.jsonl m=ship-a
    inject="'); DROP TABLE audit_trail; --"
    umlaut="Durchfluß über Grenzwert — 測定"
    send --type Startup --user operator --domain PLANT --message "database started"
    send --type "Change Value" --user operator --domain PLANT --descriptor FIC101 --property SP \
        --old r8:41.5 --new r8:42.25 --message "$inject"
    chain "$trail" '{"context":{"AppName":"Zentrova","Domain":"WERK","User":"müller"},"event":"ChangeEvent","properties":{"Category":301,"Descriptor":"FIC101","EventTime":{"date":46023.5,"utc":"2026-01-01T12:00:00.250Z"},"Message":"'"$umlaut"'","NewValue":{"type":"VT_BSTR","value":"über"},"OldValue":{"type":"VT_BSTR","value":"unter"},"Property":"Grenze"},"submitted":"2026-01-01T12:00:01.000Z"}'
    send --type "Write Denied" --user guest --domain PLANT --descriptor FIC101 --property SP \
        --message "refused"
    lines=$(wc -l <"$trail")

    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "machine $m: $lines line(s) shipped, 0 already present" "first ship"
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "machine $m: 0 line(s) shipped, $lines already present" "second ship"
    [ "$(rows $m)" = "$lines" ] || bad "$(rows $m) rows stored, $lines expected"

    # Texts arrive verbatim, as columns and in the stored line, whose chain
    # holds only if every byte came back.
    [ "$(q "SELECT message FROM audit_trail WHERE machine = '$m' AND line_no = 2")" = "$inject" ] ||
        bad "the message of line 2 is not stored verbatim"
    [ "$(q "SELECT message || '|' || user_name || '|' || new_value || '|' || event_time FROM audit_trail WHERE machine = '$m' AND line_no = 3")" = "$umlaut|müller|über|2026-01-01 12:00:00.25" ] ||
        bad "line 3's non-ASCII texts or its time did not arrive intact"
    [ "$(q "SELECT line_json->'properties'->>'Message' FROM audit_trail WHERE machine = '$m' AND line_no = 3")" = "$umlaut" ] ||
        bad "the jsonb line does not hold the non-ASCII message"
    run --odbc "$QZ45_ODBC" --machine $m --user müller
    expect 0 "^3 .*WERK\\\\müller .*$umlaut$" "the table from the database, non-ASCII filter"
    printf '%s\n' "$out" | grep -q '^1 event(s) in the database$' || bad "--user müller lists more than line 3"
    run verify --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: $lines lines, chain intact$" "verify in the database"

    # Another file under the same machine is refused, nothing shipped.
    sed '1s/database started/database STARTED/' "$trail" >odbc_other.jsonl
    run ship --odbc "$QZ45_ODBC" odbc_other.jsonl --machine $m
    expect 1 "line 1 of odbc_other.jsonl differs from the line stored for machine $m" "another trail"
    head -2 "$trail" >odbc_short.jsonl
    run ship --odbc "$QZ45_ODBC" odbc_short.jsonl --machine $m
    expect 1 "holds more lines of machine $m than odbc_short.jsonl has" "a shorter trail"

    # A line that is not a trail line stops the ship there.
    { head -2 "$trail"; echo '{"event":"GeneralEvent","properties":{"Message":"cut off'; tail -2 "$trail"; } \
        >odbc_badline.jsonl
    run ship --odbc "$QZ45_ODBC" odbc_badline.jsonl --machine ship-bad
    expect 1 "odbc_badline.jsonl line 3 is not a trail line (not a JSON object): shipping stops there, the 2 line(s) before it are in the database" "a broken line"
    [ "$(rows ship-bad)" = 2 ] || bad "$(rows ship-bad) rows stored before the broken line, 2 expected"
    sed '2s/"submitted":"[^"]*"/"submitted":"yesterday"/' "$trail" >odbc_badtime.jsonl
    run ship --odbc "$QZ45_ODBC" odbc_badtime.jsonl --machine ship-badtime
    expect 1 'line 2 is not a trail line (submitted "yesterday" is not a UTC time)' "a bad time"

    # Connection failures, with the driver's own words.
    run ship --odbc "${QZ45_ODBC/Pwd=/Pwd=wrong}" "$trail" --machine ship-pw
    expect 1 'cannot connect to the database: \[[0-9A-Z]*\] .*password authentication failed' "a wrong password"
    run ship --odbc "Driver={No Such Driver};Server=127.0.0.1;" "$trail" --follow
    expect 1 "cannot connect to the database: .*No Such Driver" "a missing driver, even with --follow"
    run --odbc "Server=127.0.0.1;Port=1"
    expect 2 "cannot connect to the database: \[IM002\]" "a connection string without a driver"

    # Edits in the database are caught: a column, the line itself, a row gone.
    q "UPDATE audit_trail SET message = 'nothing happened' WHERE machine = '$m' AND line_no = 2"
    run verify --odbc "$QZ45_ODBC" --machine $m
    expect 1 "^$m: line 2: column message does not match the line's text: changed in the database" "an edited column"
    q "UPDATE audit_trail SET message = line_json->'properties'->>'Message' WHERE machine = '$m' AND line_no = 2"
    # Line 4 rewritten whole, every column to match: only the chain shows it.
    q "UPDATE audit_trail SET line_text = replace(line_text, 'guest', 'admin'), user_name = 'admin',
       line_json = CAST(replace(line_text, 'guest', 'admin') AS jsonb),
       line_sha256 = encode(sha256(convert_to(replace(line_text, 'guest', 'admin'), 'UTF8')), 'hex')
       WHERE machine = '$m' AND line_no = 4"
    run verify --odbc "$QZ45_ODBC" --machine $m
    expect 1 "^$m: line 4 was changed: its content does not match its hash" "an edited line"
    q "DELETE FROM audit_trail WHERE machine = '$m' AND line_no = 2"
    run verify --odbc "$QZ45_ODBC"
    expect 1 "^$m: line 2 is missing: removed from the database" "a removed row"
    ;;

faults)
    trail=odbc_big.jsonl m=faults-a
    QZ45_AUDIT_TRAIL=$trail "$W" qz45event.exe send --type "Change Value" --user op1 --domain PLANT \
        --descriptor FIC101 --property SP --old r8:1 --new r8:2 --repeat 20000 -q >/dev/null 2>&1
    lines=$(wc -l <"$trail")
    [ "$lines" = 20000 ] || bad "the service wrote $lines lines, 20000 expected"

    # Killed once some transactions are in: the next run ships the rest.
    "$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine $m >odbc_kill.out 2>&1 &
    pid=$!
    for _ in $(seq 600); do
        [ "$(rows $m 2>/dev/null || echo 0)" -ge 1000 ] && break
        sleep 0.05
    done
    kill -9 $pid 2>/dev/null
    wait $pid 2>/dev/null
    before=$(rows $m)
    echo "killed the shipper with $before of $lines lines in the database"
    [ "$before" -ge 1000 ] && [ "$before" -lt "$lines" ] ||
        bad "the shipper was not killed midway ($before of $lines lines stored)"
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    echo "$out"
    expect 0 "machine $m: $((lines - before)) line(s) shipped, $before already present" "the run after the kill"
    run verify --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: $lines lines, chain intact$" "verify after the kill"

    # Followed while the server is away: the lines written meanwhile arrive.
    "$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine $m --follow >odbc_follow.out 2>&1 &
    pid=$!
    for _ in $(seq 300); do grep -q 'following' odbc_follow.out && break; sleep 0.1; done
    send --type Startup --user op2 --domain PLANT --message "before the stop" --repeat 20
    for _ in $(seq 300); do [ "$(rows $m)" = $((lines + 20)) ] && break; sleep 0.1; done
    [ "$(rows $m)" = $((lines + 20)) ] || bad "--follow did not ship the 20 lines appended"
    bash "$(dirname "$0")/../../scripts/postgres.sh" stop "$pgdir"
    send --type Startup --user op3 --domain PLANT --message "while the server is away" --repeat 30
    sleep 3
    bash "$(dirname "$0")/../../scripts/postgres.sh" start "$pgdir" || bad "the server did not start again"
    send --type Startup --user op4 --domain PLANT --message "after the restart" --repeat 10
    total=$((lines + 60))
    for _ in $(seq 600); do [ "$(rows $m 2>/dev/null)" = $total ] && break; sleep 0.1; done
    kill $pid 2>/dev/null
    wait $pid 2>/dev/null
    tr -d '\r' <odbc_follow.out
    grep -q 'trying again in 1 s' odbc_follow.out || bad "the follower did not report the lost server"
    grep -q "reconnected; following" odbc_follow.out || bad "the follower did not reconnect"
    [ "$(rows $m)" = $total ] || bad "$(rows $m) lines in the database after the restart, $total expected"
    run verify --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: $total lines, chain intact$" "verify after the restart"
    ;;

plant)
    trail=odbc_plant.jsonl m=plant-a
    pids=""
    for i in 1 2 3; do
        send --type Startup --user "op$i" --domain PLANT --message "start $i" --repeat 40 &
        pids="$pids $!"
    done
    send --type "Change Value" --user op4 --domain PLANT --descriptor FIC101 --property SP \
        --old r8:1 --new r8:2 --repeat 40 &
    for pid in $pids $!; do wait "$pid" || bad "a sender failed"; done
    [ "$(wc -l <"$trail")" = 160 ] || bad "the four processes wrote $(wc -l <"$trail") lines, 160 expected"
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "machine $m: 160 line(s) shipped, 0 already present" "ship the four-process trail"
    run verify --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: 160 lines, chain intact$" "verify the four-process trail"

    # The filters, each against the file: op2's lines and no other.
    run --odbc "$QZ45_ODBC" --machine $m --user op2
    expect 0 '^40 event(s) in the database$' "--user op2"
    want=$(grep -n '"User":"op2"' "$trail" | cut -d: -f1 | tr '\n' ' ')
    got=$(printf '%s\n' "$out" | awk '$1 ~ /^[0-9]+$/ && $2 ~ /Event$/ { printf "%s ", $1 }')
    [ "$got" = "$want" ] || bad "--user op2 listed lines $got; the trail has op2 on $want"
    printf '%s\n' "$out" | grep -E '^[0-9]+ +[A-Za-z]+Event ' | grep -v 'PLANT\\op2 ' && bad "--user op2 lists others"
    run --odbc "$QZ45_ODBC" --machine $m --type 301 --descriptor FIC101
    expect 0 '^40 event(s) in the database$' "--type 301 --descriptor FIC101"
    printf '%s\n' "$out" | grep -E '^[0-9]+ +[A-Za-z]+Event ' | grep -v 'PLANT\\op4 .*R8 1.0 -> R8 2.0' && bad "--type 301 lists others"
    run --odbc "$QZ45_ODBC" --machine $m --since 2000-01-01 --until 2000-01-02T00:00:00Z
    expect 0 '^0 event(s) in the database$' "--since --until a day long ago"
    run --odbc "$QZ45_ODBC" --machine $m --since 2000-01-01
    expect 0 '^160 event(s) in the database$' "--since a day long ago"
    run --odbc "$QZ45_ODBC" --since 2000-13-01
    expect 2 'is not a UTC time' "--since a month that is not there"
    ;;
*)
    echo "unknown case $case_"
    exit 2
    ;;
esac

rm -f odbc_*.jsonl odbc_*.out
[ $fail -eq 0 ] && echo "odbc $case_: ok"
exit $fail
