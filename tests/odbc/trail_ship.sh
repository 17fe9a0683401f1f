#!/usr/bin/env bash
# qz45trail against a real PostgreSQL server through Wine's odbc32, unixODBC
# and the PostgreSQL ODBC driver, in the plant set-up: tables made by their
# owner with the release's audit_trail_setup.sql, a shipper that may only
# SELECT and INSERT, an auditor that may only SELECT. Trails written by the real reference service,
# shipped, shipped again, cut off and resumed, followed, read back, checked
# in the database and against the file.
# Usage: trail_ship.sh CASE BIN_DIR POSTGRES_DIR TIER
#   ship    one trail: exactly once, texts verbatim (line ends too, whatever
#           the driver's line-end conversion), the connection string from a
#           file or a variable, the roles' limits, refusals, bad input, read
#           and connection failures; the database as the file's witness (its
#           end cut off, the file re-chained) and edits and deletions in the
#           database caught
#           a follower with a wrong password stops at once
#   faults  a 20,000-line trail: the shipper killed midway and run again; then
#           followed while the server stops and starts, its log moved aside,
#           and a second shipper of the machine beside it
#   follow  a follower started before the trail exists: a line holding U+0000,
#           a writer's torn line followed by the next event, the file replaced
#   rotate  a trail the service rotates every few lines, written by two
#           processes while a follower ships it, then by one at full speed,
#           round after round: every line once, positions running on across
#           files; prune removes what is shipped, keeps what is not, runs
#           beside writers without refusing an event, and what it leaves
#           behind (a file held open, an archive name taken, a prune stopped
#           after its record) is accepted and finished; losses that only the
#           files and the database show together; a line deleted inside a
#           rotated file
#   plant   a trail of four processes: shipped, verified, filtered
#   view    the view's filters give the same rows from the file and from the
#           database; CSV and JSON read back whole; the table aligned in
#           characters, a backdated event flagged
#   upgrade a plant of the earlier release (its tables, a trail its service
#           wrote and shipped) carried on: this release's service appends to
#           the trail and rotates it, and ship, verify and the view take both
#   setup   audit_trail_setup.sql against `qz45trail schema`, and on a new
#           database: a shipper before it, the file run as the shipper, then
#           as the owner; shipping with --log, each role's limits; a trail
#           refused under a second machine name, and verify noting one
#           stored twice
#   months  a trail over three months, each row in its month's partition:
#           verify --odbc across them, and the review page's query for one
#           month reading only that month (the server's auto_explain)
# POSTGRES_DIR/env (scripts/postgres.sh init) gives the server; WINE_RUN the
# Wine runner.
set -u
case_=$1 bin=$2 pgdir=$3 tier=$4
setup_sql=$(cd "$(dirname "$0")/../.." && pwd)/packaging/audit_trail_setup.sql
odbc_tests=$(cd "$(dirname "$0")" && pwd)
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
log=odbc_$case_.log
: >"$log"

bad() { echo "FAIL: $*"; fail=1; }
# q SQL: as the tables' owner; shq: as the shipper; suq: as a superuser.
q() { psql -X -q -t -A -v ON_ERROR_STOP=1 -c "$1"; }
shq() { PGUSER=qz45_shipper PGPASSWORD=$QZ45_SHIPPER_PW psql -X -q -t -A -v ON_ERROR_STOP=1 -c "$1" 2>&1; }
auq() { PGUSER=qz45_auditor PGPASSWORD=$QZ45_AUDITOR_PW psql -X -q -t -A -v ON_ERROR_STOP=1 -c "$1" 2>&1; }
suq() { PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -t -A -v ON_ERROR_STOP=1 \
            -c "SET session_replication_role = replica; $1"; }
. "$odbc_tests/qz45trail_run.sh"
rows() { q "SELECT count(*) FROM audit_trail WHERE machine = '$1'"; }
send() { QZ45_AUDIT_TRAIL=$trail "$W" qz45event.exe send "$@" >/dev/null 2>&1 || bad "send $*"; }
# chain FILE CONTENT: appends CONTENT (a JSON object) to FILE as a chained line.
chain() {
    local prev hash
    prev=$(tail -1 "$1" 2>/dev/null | sed -n 's/.*"hash":"\([0-9a-f]\{64\}\)"}$/\1/p')
    [ -n "$prev" ] || prev=0000000000000000000000000000000000000000000000000000000000000000
    hash=$(printf '%s%s' "$prev" "$2" | sha256sum | cut -c1-64)
    printf '%s,"prev":"%s","hash":"%s"}\n' "${2%\}}" "$prev" "$hash" >>"$1"
}
# rechain FILE FROM: recomputes the chain of FILE from line FROM on, as someone
# who can write the file could.
rechain() {
    local file=$1 from=$2 copy=$1.rechain
    head -n $((from - 1)) "$file" >"$copy"
    tail -n +"$from" "$file" | sed 's/,"prev":"[0-9a-f]*","hash":"[0-9a-f]*"}$/}/' |
        while IFS= read -r content; do chain "$copy" "$content"; done
    mv "$copy" "$file"
}
# wait_for SECONDS COMMAND...: until COMMAND succeeds, checked every 0.1 s.
wait_for() {
    local n=$(($1 * 10))
    shift
    for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
    return 1
}
rows_are() { [ "$(rows "$1" 2>/dev/null)" = "$2" ]; }
stored_line() { q "SELECT line_text FROM audit_trail WHERE machine = '$1' AND line_no = $2"; }

"$W" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
rm -rf odbc_*.jsonl odbc_*.jsonl.torn odbc_*.out odbc_rotate odbc_ship_log.txt odbc_ship_log.moved \
    odbc_rotate_follower.txt odbc_archive odbc_archive.expected odbc_verify_? odbc_hold.fifo

# The plant set-up, once: the owner runs the release's set-up file, which
# makes the tables with the shipper's, the auditor's and the reviewer's grants.
if [ "$(q "SELECT to_regclass('audit_trail') IS NOT NULL")" != t ]; then
    psql -X -q -f "$setup_sql" || { echo "the set-up did not apply"; exit 1; }
fi

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
    send --type Startup --user operator --domain PLANT --message "$(printf 'first line\nsecond line')"
    lines=$(wc -l <"$trail")

    # The connection string from a file and from a variable, each asking for
    # the line-end conversion that the driver on Windows does by default.
    printf '%s\n' "${QZ45_ODBC}LFConversion=1;" >odbc_ship.conn
    run ship --odbc-file odbc_ship.conn "$trail" --machine $m
    expect 0 "machine $m: $lines line(s) shipped, 0 already present" "first ship"
    export QZ45_TEST_ODBC="${QZ45_ODBC}LFConversion=1;"
    run ship --odbc-env QZ45_TEST_ODBC "$trail" --machine $m
    expect 0 "machine $m: 0 line(s) shipped, $lines already present" "second ship"
    [ "$(rows $m)" = "$lines" ] || bad "$(rows $m) rows stored, $lines expected"

    # Texts arrive verbatim, as columns and in the stored line, whose chain
    # holds only if every byte came back; line ends stay line feeds.
    [ "$(q "SELECT message FROM audit_trail WHERE machine = '$m' AND line_no = 2")" = "$inject" ] ||
        bad "the message of line 2 is not stored verbatim"
    [ "$(q "SELECT message || '|' || user_name || '|' || event_time FROM audit_trail WHERE machine = '$m' AND line_no = 3")" = "$umlaut|müller|2026-01-01 12:00:00.25" ] ||
        bad "line 3's non-ASCII texts or its time did not arrive intact"
    [ "$(q "SELECT CAST(line_text AS jsonb)->'properties'->>'Message' FROM audit_trail WHERE machine = '$m' AND line_no = 3")" = "$umlaut" ] ||
        bad "the stored line does not hold the non-ASCII message"
    [ "$(q "SELECT message = E'first line\\nsecond line' FROM audit_trail WHERE machine = '$m' AND line_no = $lines")" = t ] ||
        bad "the message with a line end was not stored with its line feed alone"
    run --odbc-env QZ45_TEST_ODBC --machine $m --user müller
    expect 0 "^3 .*WERK\\\\müller .*$umlaut$" "the table from the database, non-ASCII filter"
    printf '%s\n' "$out" | grep -q '^1 event(s) in the database$' || bad "--user müller lists more than line 3"
    run --odbc-env QZ45_TEST_ODBC --machine $m --category 206
    expect 0 'first line\\nsecond line$' "the table of a message with a line end, LFConversion=1 asked for"
    run verify --odbc-env QZ45_TEST_ODBC --machine $m
    expect 0 "^$m: $lines lines, chain intact; last line shipped 2" "verify in the database"
    run verify "$trail" --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: every line of $trail is in the database$" "verify the file with the database"

    # The database as the file's witness: lines cut off the file's end after
    # shipping, a file re-chained from an edited line on, lines not shipped.
    head -n 3 "$trail" >odbc_cut.jsonl
    run verify odbc_cut.jsonl
    expect 0 '^3 lines, chain intact$' "the cut file alone"
    run verify odbc_cut.jsonl --odbc "$QZ45_ODBC" --machine $m
    expect 1 "^$m: the database holds lines 4-$lines, which odbc_cut.jsonl no longer has: its end was cut off" "the cut file with the database"
    sed '2s/DROP TABLE/DROP VIEW/' "$trail" >odbc_rechained.jsonl
    rechain odbc_rechained.jsonl 2
    run verify odbc_rechained.jsonl
    expect 0 "^$lines lines, chain intact$" "the re-chained file alone"
    run verify odbc_rechained.jsonl --odbc "$QZ45_ODBC" --machine $m
    expect 1 "odbc_rechained.jsonl line 2 differs from the line stored in the database: the file was changed or re-chained" "the re-chained file with the database"
    send --type Startup --user operator --domain PLANT --message "not shipped yet"
    run verify "$trail" --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: $trail line $((lines + 1)) not shipped yet$" "a line not shipped yet"

    # The roles: the shipper cannot change or delete a row, nor can the
    # tables' owner (the trigger); the auditor cannot ship, and that failure
    # stops a follower at once, naming the line.
    r=$(shq "UPDATE audit_trail SET message = 'nothing happened' WHERE machine = '$m'")
    printf '%s' "$r" | grep -q 'permission denied' || bad "the shipper could UPDATE: $r"
    r=$(shq "DELETE FROM audit_trail WHERE machine = '$m'")
    printf '%s' "$r" | grep -q 'permission denied' || bad "the shipper could DELETE: $r"
    for sql in "UPDATE audit_trail SET message = 'x' WHERE machine = '$m'" \
               "DELETE FROM audit_trail WHERE machine = '$m'" "TRUNCATE audit_trail" \
               "DELETE FROM audit_trail_shipments WHERE machine = '$m'"; do
        r=$(q "$sql" 2>&1)
        printf '%s' "$r" | grep -q 'refused: the audit trail keeps every row it got' ||
            bad "the owner's $sql was not refused: $r"
    done
    [ "$(rows $m)" = "$lines" ] || bad "rows of $m changed: $(rows $m)"
    # (Each trail shipped under a machine of its own below starts with a line
    # of its own: ship refuses a trail that another machine holds.)
    # own FILE NEW: FILE with line 1's message NEW, the chain made anew.
    own() { sed "1s/database started/$2/" "$trail" >"$1"; rechain "$1" 1; }
    own odbc_auditor.jsonl "the auditor ships"
    run ship --odbc "$QZ45_ODBC_AUDITOR" odbc_auditor.jsonl --machine ship-auditor --follow
    expect 3 "odbc_auditor.jsonl line 1: a statement failed: \[42501\] .*permission denied" "the auditor ships"

    # Another file under the same machine is refused, nothing shipped.
    sed '1s/database started/database STARTED/' "$trail" >odbc_other.jsonl
    run ship --odbc "$QZ45_ODBC" odbc_other.jsonl --machine $m
    expect 1 "line 1 of odbc_other.jsonl differs from the line stored for machine $m" "another trail"
    head -2 "$trail" >odbc_short.jsonl
    run ship --odbc "$QZ45_ODBC" odbc_short.jsonl --machine $m
    expect 1 "holds more lines of machine $m than odbc_short.jsonl has" "a shorter trail"

    # A line that is not a trail line stops the ship there.
    own odbc_badhead.jsonl "a broken line ahead"
    { head -2 odbc_badhead.jsonl; echo '{"event":"GeneralEvent","properties":{"Message":"cut off'; tail -2 "$trail"; } \
        >odbc_badline.jsonl
    run ship --odbc "$QZ45_ODBC" odbc_badline.jsonl --machine ship-bad
    expect 1 "odbc_badline.jsonl line 3 is not a trail line (not a JSON object): shipping stops there, the 2 line(s) before it are in the database" "a broken line"
    [ "$(rows ship-bad)" = 2 ] || bad "$(rows ship-bad) rows stored before the broken line, 2 expected"
    own odbc_badtime.jsonl "a bad time ahead"
    sed -i '2s/"submitted":"[^"]*"/"submitted":"yesterday"/' odbc_badtime.jsonl
    run ship --odbc "$QZ45_ODBC" odbc_badtime.jsonl --machine ship-badtime
    expect 1 'line 2 is not a trail line (submitted "yesterday" is not a UTC time)' "a bad time"

    # A file that cannot be read is a failure, not an empty trail.
    run ship --odbc "$QZ45_ODBC" 'Z:\proc\self\mem' --machine ship-unreadable
    expect 3 'cannot read Z:\\proc\\self\\mem line 1: ' "a read error"
    run ship --odbc "$QZ45_ODBC" odbc_missing.jsonl --machine ship-missing
    expect 3 'cannot read odbc_missing.jsonl: ' "a missing trail"

    # Connection failures, with the driver's own words.
    run ship --odbc "${QZ45_ODBC/Pwd=/Pwd=wrong}" "$trail" --machine ship-pw
    expect 3 'cannot connect to the database: \[[0-9A-Z]*\] .*password authentication failed' "a wrong password"
    # Following, too: a refused login is not an outage to wait out. It
    # stops at once, in the event log as well.
    raw=$(WINEDEBUG=err+eventlog timeout 120 "$W" qz45trail.exe ship --odbc "${QZ45_ODBC/Pwd=/Pwd=wrong}" \
              "$trail" --machine ship-pw --follow 2>&1)
    code=$?
    out=$(printf '%s' "$raw" | tr -d '\r')
    printf '%s\n' "$out" >>"$log"
    expect 3 "the database refused the login (.*password authentication failed.*not retried" "a wrong password when following"
    printf '%s\n' "$out" | grep -q 'ReportEventW L"qz45trail ship .*refused the login' ||
        bad "the refused login is not in the event log"
    run ship --odbc "Driver={No Such Driver};Server=127.0.0.1;" "$trail" --follow
    expect 3 "cannot connect to the database: .*No Such Driver" "a missing driver, even with --follow"
    run --odbc "Server=127.0.0.1;Port=1"
    expect 3 "cannot connect to the database: \[IM002\]" "a connection string without a driver"

    # Edits in the database by someone the trigger does not stop (a superuser)
    # are caught: a column, the line itself, a row gone, the last rows gone.
    own odbc_del.jsonl "rows to delete"
    run ship --odbc "$QZ45_ODBC" odbc_del.jsonl --machine ship-del
    suq "DELETE FROM audit_trail WHERE machine = 'ship-del' AND line_no > $((lines - 1))"
    run verify --odbc "$QZ45_ODBC" --machine ship-del
    expect 1 "^ship-del: lines $lines-$((lines + 1)) shipped (in the shipment log) but not in the database: deleted" "the last rows deleted"
    run verify odbc_del.jsonl --odbc "$QZ45_ODBC" --machine ship-del
    expect 1 "^ship-del: lines $lines-$((lines + 1)) shipped (in the shipment log) but not in the database" "the last rows deleted, with the file"
    suq "UPDATE audit_trail SET message = 'nothing happened' WHERE machine = '$m' AND line_no = 2"
    run verify --odbc "$QZ45_ODBC" --machine $m
    expect 1 "^$m: line 2: column message does not match the line's text: changed in the database" "an edited column"
    suq "UPDATE audit_trail SET message = CAST(line_text AS jsonb)->'properties'->>'Message' WHERE machine = '$m' AND line_no = 2"
    # Line 4 rewritten whole, every column to match: the chain shows it.
    suq "UPDATE audit_trail SET line_text = replace(line_text, 'guest', 'admin'), user_name = 'admin'
         WHERE machine = '$m' AND line_no = 4"
    run verify --odbc "$QZ45_ODBC" --machine $m
    expect 1 "^$m: line 4 was changed: its content does not match its hash" "an edited line"
    suq "DELETE FROM audit_trail WHERE machine = '$m' AND line_no = 2"
    run verify --odbc "$QZ45_ODBC"
    expect 1 "^$m: line 2 missing: removed from the database" "a removed row"
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
    expect 0 "^$m: $lines lines, chain intact" "verify after the kill"

    # Followed while the server is away: the lines written meanwhile arrive,
    # and the log tells the story.
    "$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine $m --follow --log odbc_ship_log.txt \
        >odbc_follow.out 2>&1 &
    pid=$!
    wait_for 30 grep -q 'following' odbc_follow.out
    send --type Startup --user op2 --domain PLANT --message "before the stop" --repeat 20
    wait_for 30 rows_are $m $((lines + 20)) || bad "--follow did not ship the 20 lines appended"
    bash "$(dirname "$0")/../../scripts/postgres.sh" stop "$pgdir"
    send --type Startup --user op3 --domain PLANT --message "while the server is away" --repeat 30
    sleep 3
    bash "$(dirname "$0")/../../scripts/postgres.sh" start "$pgdir" || bad "the server did not start again"
    send --type Startup --user op4 --domain PLANT --message "after the restart" --repeat 10
    total=$((lines + 60))
    wait_for 60 rows_are $m $total
    # The administrator moves the log aside: the next line starts a new one.
    mv odbc_ship_log.txt odbc_ship_log.moved || bad "the follower's log could not be moved"
    entries=$(sed 's/\r$//; s/^20[0-9-]*T[0-9:.]*Z //' odbc_ship_log.moved | tr '\n' '|')
    case "$entries" in
    "start: shipping $trail as machine $m, following it|connected: $lines line(s) in the database|shipped lines $((lines + 1))-"*"|retrying in 1 s: "*"|reconnected: "*"|shipped lines "*"-$total|") ;;
    *) bad "the follower's log holds: $(cat odbc_ship_log.moved)" ;;
    esac
    [ "$(rows $m)" = $total ] || bad "$(rows $m) lines in the database after the restart, $total expected"

    # A second shipper of the machine, run by hand while the follower runs:
    # once while the follower is held still (the one by hand ships what the
    # follower read and was about to store), once side by side. Both end
    # well, and every line is stored once.
    kill -STOP $pid
    send --type Startup --user op5 --domain PLANT --message "shipped by hand" --repeat 700
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "machine $m: 700 line(s) shipped, $total already present" "a second shipper while the follower is held"
    kill -CONT $pid
    send --type Startup --user op5 --domain PLANT --message "after the second shipper" --repeat 5
    total=$((total + 705))
    wait_for 60 rows_are $m $total || bad "the follower did not go on after the second shipper: $(rows $m) of $total"
    send --type Startup --user op6 --domain PLANT --message "two shippers at once" --repeat 1500 &
    sender=$!
    for _ in 1 2 3; do
        sleep 1
        run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
        expect 0 "machine $m: [0-9]* line(s) shipped" "a second shipper beside the follower"
    done
    wait $sender
    total=$((total + 1500))
    wait_for 60 rows_are $m $total || bad "$(rows $m) of $total lines stored with two shippers"
    kill -0 $pid 2>/dev/null || bad "the follower stopped beside a second shipper"
    [ "$(q "SELECT count(DISTINCT line_no) || '|' || max(line_no) FROM audit_trail WHERE machine = '$m'")" = "$total|$total" ] ||
        bad "the lines of two shippers are not stored once each"
    grep -q "resync: another shipper stored lines $((total - 2204))-" odbc_ship_log.txt ||
        bad "the follower's new log does not say that it read the other shipper's lines: $(cat odbc_ship_log.txt)"
    kill $pid 2>/dev/null
    wait $pid 2>/dev/null
    tr -d '\r' <odbc_follow.out | tee -a "$log"
    grep -q 'trying again in 1 s' odbc_follow.out || bad "the follower did not report the lost server"
    grep -q "reconnected; following" odbc_follow.out || bad "the follower did not reconnect"
    run verify "$trail" --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: $total lines, chain intact" "verify after the restart"
    ;;

follow)
    trail=odbc_follow.jsonl m=follow-a
    # Started before the trail exists (a shipper started at boot): it waits.
    "$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine $m --follow >odbc_follow.out 2>&1 &
    pid=$!
    wait_for 30 grep -q "waiting for $trail to appear" odbc_follow.out ||
        bad "the follower does not wait for the trail"
    send --type Startup --user op1 --domain PLANT --message "first" --repeat 3
    wait_for 30 rows_are $m 3 || bad "the follower did not ship the trail once it appeared"

    # A message holding U+0000, which the server cannot store as text: the
    # line goes in all the same, and the lines after it.
    chain "$trail" '{"context":{"Domain":"PLANT","User":"op9"},"event":"GeneralEvent","properties":{"Category":206,"Message":"nul\u0000inside"},"submitted":"2026-01-01T12:00:00.000Z"}'
    send --type Startup --user op1 --domain PLANT --message "after the NUL" --repeat 2
    wait_for 30 rows_are $m 6 || bad "the lines from the U+0000 line on were not all shipped: $(rows $m) of 6"
    [ "$(stored_line $m 4)" = "$(sed -n 4p "$trail")" ] || bad "line 4 is not stored exactly"
    [ "$(q "SELECT replaced || '|' || message FROM audit_trail WHERE machine = '$m' AND line_no = 4")" = "1|nul␀inside" ] ||
        bad "line 4's columns do not show U+2400 for U+0000, or it is not marked"

    # A writer dies mid-line, leaving its first 40 bytes; the next event is
    # written where they began. The database gets the file's line, nothing
    # spliced together.
    head -c 40 "$trail" | tr 'a-z' 'A-Z' >>"$trail"
    sleep 1
    send --type Startup --user op1 --domain PLANT --message "after the torn line"
    wait_for 30 rows_are $m 7 || bad "the line after the torn one was not shipped"
    [ "$(stored_line $m 7)" = "$(sed -n 7p "$trail")" ] || bad "line 7 in the database is not the file's line 7"
    grep -q '"bytes":40' "$trail.torn" || bad "the torn line was not kept in $trail.torn"
    run verify "$trail" --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: 1 row(s) show U+2400 for a U+0000 the database cannot store" "verify with the U+0000 row"
    printf '%s\n' "$out" | grep -q "^$m: 7 lines, chain intact" || bad "verify: $out"

    # The file replaced under the follower: it stops and says so.
    cp "$trail" odbc_follow_copy.jsonl
    mv odbc_follow_copy.jsonl "$trail"
    wait_for 30 sh -c "! kill -0 $pid 2>/dev/null" || bad "the follower did not stop when its file was replaced"
    wait $pid
    code=$?
    tr -d '\r' <odbc_follow.out | tee -a "$log"
    out=$(tr -d '\r' <odbc_follow.out)
    expect 1 "$trail: $trail was replaced by another file: it begins the trail anew, after 7 line(s) read; shipping stops at line 8" "the replaced file"
    kill $pid 2>/dev/null
    ;;

rotate)
    mkdir -p odbc_rotate
    trail='odbc_rotate\trail.jsonl' m=rotate-a
    export QZ45_AUDIT_TRAIL_ROTATE_KB=4
    "$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine $m --follow --log odbc_rotate_follower.txt \
        >odbc_rotate.out 2>&1 &
    pid=$!
    for p in 1 2; do send --type Startup --user "op$p" --domain PLANT --message "process $p" --repeat 40 & done
    wait %2 %3 2>/dev/null
    files=$(ls odbc_rotate | grep -c '^trail\.2.*\.jsonl$')
    [ "$files" -ge 8 ] || bad "the trail was rotated into $files file(s) only"
    wait_for 60 rows_are $m 80 || bad "the follower shipped $(rows $m) of 80 lines across the rotations"
    [ "$(q "SELECT count(DISTINCT line_no) || '|' || min(line_no) || '|' || max(line_no) FROM audit_trail WHERE machine = '$m'")" = "80|1|80" ] ||
        bad "the stored positions do not run 1-80 once each"
    # One writer at full speed, a rotation every few lines, round after
    # round: the follower ships every line and is still running. (A listing
    # of the folder misses a file renamed while it is read now and then.)
    total=80
    for round in 1 2 3 4 5 6 7 8; do
        send --type Startup --user op4 --domain PLANT --message "round $round" --repeat 300
        total=$((total + 300))
        wait_for 60 rows_are $m $total || bad "round $round: the follower shipped $(rows $m) of $total lines"
        kill -0 $pid 2>/dev/null || { bad "round $round: the follower stopped"; break; }
    done
    kill $pid 2>/dev/null
    wait $pid 2>/dev/null
    tr -d '\r' <odbc_rotate.out >>"$log"
    files=$(ls odbc_rotate | grep -c '^trail\.2.*\.jsonl$')
    run verify "$trail" --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: every line of .*trail.jsonl is in the database$" "verify the rotated trail with the database"
    printf '%s\n' "$out" | grep -q "^$total lines, chain intact in $((files + 1)) files$" || bad "verify: $out"

    # More lines, not shipped: prune takes the shipped files only.
    send --type Startup --user op3 --domain PLANT --message "not shipped yet" --repeat 20
    run prune --odbc "$QZ45_ODBC" "$trail" --machine $m --dry-run
    expect 0 "would be pruned" "prune --dry-run"
    [ "$(ls odbc_rotate | grep -c '^trail\.2.*\.jsonl$')" -gt "$files" ] || bad "--dry-run removed files"
    run prune --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "kept trail\..* and after: line [0-9]* is not in the database for machine $m" "prune keeps what is not shipped"
    pruned=$(printf '%s\n' "$out" | grep -c '^pruned ')
    [ "$pruned" -ge 5 ] || bad "prune removed $pruned file(s)"
    oldest() { ls odbc_rotate | grep '^trail\.2.*\.jsonl$' | sort -t. -k3,3n | head -1; }
    first=$(oldest | cut -d. -f3 | sed 's/^0*//')
    [ "$first" -le $((total + 1)) ] || bad "prune removed a file with lines not shipped (the first file left starts at $first)"
    run verify "$trail"
    expect 0 "starts at line $first: lines 1-$((first - 1)) were pruned" "verify after prune"
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "machine $m: 20 line(s) shipped" "ship after prune"
    total=$((total + 20))
    run verify "$trail" --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: every line of .*trail.jsonl is in the database$" "verify after prune, with the database"

    # Writers at full speed while a follower ships and prune removes what is
    # shipped, again and again: no event is refused (send checks each), and
    # the trail stays whole.
    "$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine $m --follow >odbc_rotate.out 2>&1 &
    pid=$!
    writers=""
    for p in 5 6; do
        QZ45_AUDIT_TRAIL=$trail "$W" qz45event.exe send --type Startup --user "op$p" --domain PLANT \
            --message "beside prune" --repeat 100 >odbc_writer_$p.out 2>&1 &
        writers="$writers $!"
    done
    writing() { for w in $writers; do kill -0 $w 2>/dev/null && return 0; done; return 1; }
    prunes=0
    while writing; do
        run prune --odbc "$QZ45_ODBC" "$trail" --machine $m
        [ "$code" = 0 ] || bad "prune beside the writers: exit $code: $out"
        prunes=$((prunes + 1))
    done
    for w in $writers; do wait $w || bad "a writer beside prune: $(cat odbc_writer_*.out)"; done
    total=$((total + 200))
    wait_for 60 rows_are $m $total || bad "beside prune: the follower shipped $(rows $m) of $total lines"
    kill -0 $pid 2>/dev/null || bad "the follower stopped beside prune"
    kill $pid 2>/dev/null
    wait $pid 2>/dev/null
    echo "prune ran $prunes time(s) beside the writers"
    run verify "$trail" --odbc "$QZ45_ODBC" --machine $m
    expect 0 "^$m: every line of .*trail.jsonl is in the database$" "verify after pruning beside the writers"

    # What prune may leave behind, each followed by verify, ship and the
    # next prune on the honest trail. More shipped files first.
    send --type Startup --user op7 --domain PLANT --message "for the leftovers" --repeat 40
    total=$((total + 40))
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "machine $m: 40 line(s) shipped" "ship before the leftovers"
    after_leftover() {
        run verify "$trail" --odbc "$QZ45_ODBC" --machine $m
        expect 0 "^$m: every line of .*trail.jsonl is in the database$" "$1: verify"
        run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
        expect 0 "machine $m: 0 line(s) shipped, [0-9]* already present" "$1: ship"
    }
    # A rotated file held open by a program that does not share its deletion.
    held=$(oldest)
    rm -f odbc_hold.fifo && mkfifo odbc_hold.fifo
    "$W" hold_file.exe "odbc_rotate\\$held" <odbc_hold.fifo >odbc_hold.out 2>&1 &
    holder=$!
    exec 7>odbc_hold.fifo
    wait_for 30 grep -q holding odbc_hold.out || bad "the file was not held: $(cat odbc_hold.out)"
    run prune --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 3 "cannot delete $held: .*it is recorded as pruned" "prune with a file held open"
    run verify "$trail"
    expect 0 "$held is recorded as pruned but still there" "verify with a file recorded as pruned and held open"
    after_leftover "a file held open"
    exec 7>&-
    wait $holder
    run prune --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "finished pruning $held (recorded as pruned, still there): deleted" "the next prune after the file was let go"
    [ ! -e "odbc_rotate/$held" ] || bad "the next prune did not remove $held"
    after_leftover "a file held open, finished"

    # An archive that holds another file under the name of the next one.
    send --type Startup --user op7 --domain PLANT --message "for the archive" --repeat 30
    total=$((total + 30))
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    next=$(oldest)
    rm -rf odbc_archive && mkdir odbc_archive
    echo "an older file of the same name" >"odbc_archive/$next"
    cp "odbc_rotate/$next" odbc_archive.expected
    run prune --odbc "$QZ45_ODBC" "$trail" --machine $m --archive odbc_archive
    expect 3 "kept $next and after: the archive already holds another file named $next .*, which is not overwritten; nothing of it recorded or removed" "an archive name that is taken"
    grep -q "$next" 'odbc_rotate/trail.pruned.jsonl' && bad "a file kept for the archive's sake was recorded as pruned"
    [ "$(cat "odbc_archive/$next")" = "an older file of the same name" ] || bad "the archive's file was overwritten"
    after_leftover "an archive name that is taken"
    mv "odbc_archive/$next" "odbc_archive/$next.older"
    run prune --odbc "$QZ45_ODBC" "$trail" --machine $m --archive odbc_archive
    expect 0 "pruned $next (lines .*): moved to odbc_archive" "prune into the archive once the name is free"
    cmp -s odbc_archive.expected "odbc_archive/$next" || bad "the archive's copy of $next is not the file"
    [ ! -e "odbc_rotate/$next" ] && [ ! -e "odbc_archive/$next.partial" ] || bad "prune left $next or its partial copy"
    after_leftover "an archive name that was taken"

    # Prune stopped between its record and the removal: the record it writes
    # is there, the file too.
    send --type Startup --user op7 --domain PLANT --message "for the stopped prune" --repeat 30
    total=$((total + 30))
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    next=$(oldest)
    from=$(printf '%s' "$next" | cut -d. -f3 | sed 's/^0*//')
    count=$(wc -l <"odbc_rotate/$next")
    hash=$(tail -1 "odbc_rotate/$next" | sed -n 's/.*"hash":"\([0-9a-f]\{64\}\)"}$/\1/p')
    printf '{"action":"deleted","file":"%s","first_line":%s,"last_hash":"%s","last_line":%s,"time":"2026-12-09T10:00:00.000Z"}\n' \
        "$next" "$from" "$hash" $((from + count - 1)) >>'odbc_rotate/trail.pruned.jsonl'
    after_leftover "a prune stopped after its record"
    run prune --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "finished pruning $next (recorded as pruned, still there): deleted" "the prune after the stopped one"
    after_leftover "a prune stopped after its record, finished"

    # The pruned trail under another name: its first line is line $first.
    send --type Startup --user op7 --domain PLANT --message "after the leftovers" --repeat 30
    first=$(oldest | cut -d. -f3 | sed 's/^0*//')
    run ship --odbc "$QZ45_ODBC" "$trail" --machine rotate-b
    expect 1 "line $first is stored as line $first of machine $m: this trail was shipped as machine $m" "the pruned trail under another name"
    # A pruned file is not put back by the shipper, and a file removed by
    # hand, not by prune, is a gap.
    rm "odbc_rotate/$(oldest)"
    run verify "$trail"
    expect 1 "are missing: the file(s) before .* were removed, and not by prune" "a file removed by hand"
    unset QZ45_AUDIT_TRAIL_ROTATE_KB

    # Losses that the files and the database show only together. Trails of
    # 40 lines, each split into rotated files as the writer names them:
    # split SOURCE DIR RANGE... (the last range the current file).
    split_trail() {
        local src=$1 dir=$2 r a b name
        shift 2
        local last=${!#}
        rm -rf "$dir" && mkdir "$dir"
        for r in "$@"; do
            a=${r%-*} b=${r#*-}
            if [ "$r" = "$last" ]; then name=trail.jsonl
            else name=$(printf 'trail.2026-12-08T1000%02dZ.%09d.jsonl' "$a" "$a"); fi
            sed -n "${a},${b}p" "$src" >"$dir/$name"
        done
    }
    for v in a b c d; do
        rm -f odbc_verify_$v.jsonl
        QZ45_AUDIT_TRAIL=odbc_verify_$v.jsonl "$W" qz45event.exe send --type Startup --user op8 \
            --domain PLANT --message "verify $v" --repeat 40 >/dev/null 2>&1 || bad "send for $v"
    done
    # 20 lines shipped; then the files through line 25 deleted and a pruned
    # record forged for them.
    split_trail odbc_verify_a.jsonl odbc_verify_a 1-10 11-20 21-21
    rm odbc_verify_a/trail.jsonl
    run ship --odbc "$QZ45_ODBC" 'odbc_verify_a\trail.jsonl' --machine verify-a
    expect 0 "machine verify-a: 20 line(s) shipped" "20 lines of verify-a shipped"
    split_trail odbc_verify_a.jsonl odbc_verify_a 26-30 31-35 36-40
    for last in 10 20 25; do
        first=$((last == 10 ? 1 : last == 20 ? 11 : 21))
        printf '{"file":"%s","first_line":%s,"last_line":%s,"last_hash":"%s"}\n' \
            "$(printf 'trail.2026-12-08T1000%02dZ.%09d.jsonl' $first $first)" $first $last \
            "$(sed -n "${last}p" odbc_verify_a.jsonl | sed -n 's/.*"hash":"\([0-9a-f]\{64\}\)"}$/\1/p')" \
            >>odbc_verify_a/trail.pruned.jsonl
    done
    run verify 'odbc_verify_a\trail.jsonl' --odbc "$QZ45_ODBC" --machine verify-a
    expect 1 "^verify-a: lines 21-25 lost: in neither the database nor" "lines lost behind a forged pruned record"
    printf '%s\n' "$out" | grep -q "^verify-a: .* lines 26-40 not shipped yet$" || bad "verify-a: $out"
    # Shipped in two runs and pruned to line 35; then a superuser deletes
    # lines 21-40 and the second run's log entry.
    split_trail odbc_verify_b.jsonl odbc_verify_b 1-10 11-20 21-21
    rm odbc_verify_b/trail.jsonl
    run ship --odbc "$QZ45_ODBC" 'odbc_verify_b\trail.jsonl' --machine verify-b
    split_trail odbc_verify_b.jsonl odbc_verify_b 1-10 11-20 21-25 26-30 31-35 36-40
    run ship --odbc "$QZ45_ODBC" 'odbc_verify_b\trail.jsonl' --machine verify-b
    expect 0 "machine verify-b: 20 line(s) shipped, 20 already present" "verify-b shipped in two runs"
    run prune --odbc "$QZ45_ODBC" 'odbc_verify_b\trail.jsonl' --machine verify-b
    expect 0 "5 file(s) pruned" "verify-b pruned to line 35"
    suq "DELETE FROM audit_trail WHERE machine = 'verify-b' AND line_no > 20; DELETE FROM audit_trail_shipments WHERE machine = 'verify-b' AND last_line > 20" >/dev/null
    run verify 'odbc_verify_b\trail.jsonl' --odbc "$QZ45_ODBC" --machine verify-b
    expect 1 "^verify-b: lines 21-35 lost: in neither the database nor" "pruned lines deleted from the database"
    # Shipped in one run; a superuser deletes the last 5 lines and the log's
    # entry of the run.
    run ship --odbc "$QZ45_ODBC" odbc_verify_c.jsonl --machine verify-c
    suq "DELETE FROM audit_trail WHERE machine = 'verify-c' AND line_no > 35; DELETE FROM audit_trail_shipments WHERE machine = 'verify-c'" >/dev/null
    run verify odbc_verify_c.jsonl --odbc "$QZ45_ODBC" --machine verify-c
    expect 1 "^verify-c: lines 1-35 stored, but no shipment in the log stored them" "the last lines deleted with their log entry"
    printf '%s\n' "$out" | grep -q "^verify-c: odbc_verify_c.jsonl lines 36-40 not in the database: deleted with the shipment's log entry, or not shipped yet$" ||
        bad "verify-c: $out"
    # A line deleted inside a rotated file is named where it was.
    split_trail odbc_verify_d.jsonl odbc_verify_d 1-10 11-15 16-20 21-25
    sed -i 2d "odbc_verify_d/$(printf 'trail.2026-12-08T1000%02dZ.%09d.jsonl' 11 11)"
    run verify 'odbc_verify_d\trail.jsonl'
    expect 1 "line 12 follows a line that is no longer in the trail: removed before it (trail.2026-12-08T100011Z.000000011.jsonl line 2)" "a line deleted inside a rotated file"
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
    run verify --odbc "$QZ45_ODBC_AUDITOR" --machine $m
    expect 0 "^$m: 160 lines, chain intact" "verify the four-process trail, as the auditor"

    # The filters, each against the file: op2's lines and no other.
    run --odbc "$QZ45_ODBC_AUDITOR" --machine $m --user op2
    expect 0 '^40 event(s) in the database$' "--user op2"
    want=$(grep -n '"User":"op2"' "$trail" | cut -d: -f1 | tr '\n' ' ')
    got=$(printf '%s\n' "$out" | awk '$1 ~ /^[0-9]+$/ && / [A-Za-z]+Event / { printf "%s ", $1 }')
    [ "$got" = "$want" ] || bad "--user op2 listed lines $got; the trail has op2 on $want"
    printf '%s\n' "$out" | grep -E '^[0-9]+ .* [A-Za-z]+Event ' | grep -v 'PLANT\\op2 ' && bad "--user op2 lists others"
    run --odbc "$QZ45_ODBC" --machine $m --category 301 --descriptor FIC101
    expect 0 '^40 event(s) in the database$' "--category 301 --descriptor FIC101"
    printf '%s\n' "$out" | grep -E '^[0-9]+ .* [A-Za-z]+Event ' | grep -v 'PLANT\\op4 .*R8 1 -> R8 2 ' && bad "--category 301 lists others"
    run --odbc "$QZ45_ODBC" --machine $m --since 2000-01-01 --until 2000-01-02T00:00:00Z
    expect 0 '^0 event(s) in the database$' "--since --until a day long ago"
    run --odbc "$QZ45_ODBC" --machine $m --since 2000-01-01
    expect 0 '^160 event(s) in the database$' "--since a day long ago"
    run --odbc "$QZ45_ODBC" --since 2000-13-01
    expect 2 'is not a UTC time' "--since a month that is not there"
    ;;
view)
    trail=odbc_view.jsonl m=VIEW-A
    # FIC101's set point changed by PLANT\op2, by PLANT\Jürgen (fic101), and
    # by OP2 of domain plant with an event time three years before it was
    # written; its security changed (type 32, written as type 37 is), a
    # start-up, another domain's record.
    send --type "Change Value" --user op2 --domain PLANT --descriptor FIC101 --property SP \
        --old r4:0.1 --new r4:0.25 --message "set point up"
    send --type "Change Value" --user Jürgen --domain PLANT --descriptor fic101 --property SP \
        --old r4:0.25 --new r4:0.5 --message "nachgestellt"
    send --type "Change Value" --user OP2 --domain plant --descriptor FIC101 --property SP \
        --old r8:0.5 --new r8:12.5 --time 1700000000 --message "backdated"
    send --type "Change Record Security" --user op2 --domain PLANT --descriptor FIC101 --property ACL \
        --old text:a --new text:b
    send --type Startup --user op3 --domain PLANT --message "start"
    send --type "Change Value" --user op5 --domain OTHER --descriptor TIC200 --property SP \
        --old r8:1 --new r8:2
    run ship --odbc "$QZ45_ODBC" "$trail" --machine $m
    expect 0 "machine $m: 6 line(s) shipped" "ship the trail to view"

    # same LINES ARGS...: the file and the database (its machine named in
    # another case) give the same CSV, of these lines.
    same() {
        local want=$1 fileOut fileCode
        shift
        run "$trail" --machine $m --format csv "$@"
        fileOut=$out fileCode=$code
        run --odbc "$QZ45_ODBC_AUDITOR" --machine view-a --format csv "$@"
        [ "$fileCode" = 0 ] && [ "$code" = 0 ] && [ "$fileOut" = "$out" ] ||
            bad "$* gives other rows from the file (exit $fileCode) than from the database (exit $code):
$fileOut
--
$out"
        got=$(printf '%s\n' "$out" | grep "^$m," | cut -d, -f2 | tr '\n' ' ')
        [ "$got" = "$want" ] || bad "$* selects lines $got, not $want"
    }
    same "1 3 4 " --user 'PLANT\op2'
    same "1 3 4 " --user OP2
    same "1 3 4 " --user op2
    same "1 2 3 " --descriptor fic101 --property sp
    same "4 " --descriptor FIC101 --property acl
    same "1 2 3 4 6 " --type 37
    printf '%s\n' "$out" | grep -q '^qz45trail: --type 37 (Change Value) selects change events of category 301: types 3, 31, 32 and 37 are written alike$' ||
        bad "--type 37 does not say which types it cannot tell apart: $out"
    same "1 2 3 4 6 " --type "change-value"
    same "5 " --category start-up
    same "6 " --domain other
    same "3 " --until 2024-01-01 --user 'plant\OP2'
    same "2 " --user 'PLANT\JÜRGEN' --since 2024-01-01
    run "$trail" --type "No Such Type"
    expect 2 "is not an event type that is written: .*Change Value" "an unknown type"
    run "$trail" --category nothing
    expect 2 "is neither a number nor a category's name: create (201), " "an unknown category"

    # CSV and JSON read back: every text whole, the non-ASCII user intact,
    # the single-precision 0.1 as 0.1, the backdated line flagged.
    for format in csv json; do
        "$W" qz45trail.exe --odbc "$QZ45_ODBC" --machine $m --format $format >odbc_view.$format.out ||
            bad "--format $format failed"
        python3 - "$format" odbc_view.$format.out <<'PY' || bad "--format $format does not read back"
import csv, json, sys
fmt, path = sys.argv[1], sys.argv[2]
with open(path, encoding="utf-8", newline="") as f:
    rows = list(csv.DictReader(f)) if fmt == "csv" else [json.loads(l) for l in f]
assert [str(r["line"]) for r in rows] == ["1", "2", "3", "4", "5", "6"], rows
one, two, three = rows[0], rows[1], rows[2]
assert two["user"] == "J\u00fcrgen" and two["domain"] == "PLANT", two
assert one["category_name"] == "change" and one["event_class"] == "ChangeEvent", one
old = one["old_value"] if fmt == "csv" else one["old"]["value"]
assert str(old) == "0.1", one
assert three["message"] == "backdated" and three["event_time"] == "2023-11-14T22:13:20.000Z", three
flags = [str(r["flagged"]) for r in rows]
assert flags == (["0", "0", "1", "0", "0", "0"] if fmt == "csv" else
                 ["False", "False", "True", "False", "False", "False"]), flags
PY
    done

    # The table: the row of PLANT\Jürgen has its columns where the others
    # have them (counted in characters), the backdated line is flagged.
    run "$trail" --machine $m --utc
    expect 0 "^1 with an event time more than 300 s before or after their submission" "the flagged count"
    printf '%s\n' "$out" | grep -q '^3 .* !-[0-9]*d .*R8 0.5 -> R8 12.5 .*backdated$' || bad "line 3 is not flagged: $out"
    printf '%s\n' "$out" | grep -q '^1 .*PLANT\\op2 .*R4 0.1 -> R4 0.25 .*set point up$' || bad "line 1: $out"
    printf '%s\n' "$out" | python3 -c '
import sys
rows = [l for l in sys.stdin.buffer.read().decode("utf-8").splitlines() if l[:1].isdigit() and "Event" in l]
at = [(r.lower().find("fic101"), r.find(" R4 "), r.find(m)) for r, m in
      zip(rows, ("set point up", "nachgestellt"))]
sys.exit(0 if len(rows) == 6 and at[0] == at[1] and min(at[0]) > 0 else "not aligned: %r" % at)
' || bad "the row of PLANT\Jürgen is not aligned with the others"
    ;;
upgrade)
    # A plant database as the earlier release made and filled it: its tables,
    # and the rows it stored of a trail its service wrote (each line's
    # columns as this release reads them, and the earlier ones besides).
    earlier=$(cd "$(dirname "$setup_sql")/../tests/odbc/earlier_release" && pwd)
    upgrade_sql=$(dirname "$setup_sql")/audit_trail_upgrade.sql
    trail=odbc_upgrade.jsonl m=OLD1
    rm -f odbc_upgrade.*
    cp "$earlier/trail.jsonl" $trail
    run ship --odbc "$QZ45_ODBC" $trail --machine upgrade-src
    expect 0 "3 line(s) shipped, 0 already present" "the earlier trail shipped to be copied"
    psql -X -q -v ON_ERROR_STOP=1 -c "\\copy (SELECT 'OLD1', line_no, submitted,
        CAST(line_text AS jsonb)->>'event', CAST(line_text AS jsonb)->'context'->>'AppName',
        user_name, domain_name, CAST(line_text AS jsonb)->'context'->>'ApplicationId', category,
        descriptor, property, message, event_time, NULL, NULL, NULL, NULL,
        CAST(line_text AS jsonb)->>'prev', CAST(line_text AS jsonb)->>'hash',
        encode(sha256(convert_to(line_text, 'UTF8')), 'hex'), line_text, CAST(line_text AS jsonb),
        replaced FROM audit_trail WHERE machine = 'upgrade-src' ORDER BY line_no) TO 'odbc_upgrade.rows'" \
        -c "\\copy (SELECT 'OLD1', first_line, last_line, last_sha256, shipped_at - interval '40 days'
        FROM audit_trail_shipments WHERE machine = 'upgrade-src') TO 'odbc_upgrade.log'" ||
        bad "cannot copy the earlier rows out"
    db=qz45_upgrade
    PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW PGOPTIONS='-c client_min_messages=warning' \
        psql -X -q -v ON_ERROR_STOP=1 -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db OWNER qz45_admin" || bad "cannot make $db"
    export PGDATABASE=$db
    psql -X -q -v ON_ERROR_STOP=1 -f "$earlier/schema.sql" -c "\\copy audit_trail FROM 'odbc_upgrade.rows'" \
        -c "\\copy audit_trail_shipments FROM 'odbc_upgrade.log'" || bad "the earlier tables did not fill"
    conn=${QZ45_ODBC/Database=qz45_audit/Database=$db}
    aconn=${QZ45_ODBC_AUDITOR/Database=qz45_audit/Database=$db}

    # This release's shipper, before the upgrade, says what to do.
    run ship --odbc "$conn" $trail --machine $m
    expect 3 "the table audit_trail is of an earlier release .*run audit_trail_upgrade.sql" "a shipper before the upgrade"

    # The upgrade: every row copied into the month its shipment was logged
    # in, the earlier table kept; a second run changes nothing.
    r=$(psql -X -q -f "$upgrade_sql" 2>&1) || bad "the upgrade failed: $r"
    printf '%s' "$r" | grep -q "audit_trail upgraded: 3 rows copied" || bad "the upgrade said: $r"
    before=$(q "SELECT 'audit_trail_' || to_char(min(shipped_at), 'YYYY_MM') FROM audit_trail_shipments")
    [ "$(q "SELECT string_agg(tableoid::regclass::text, ',') FROM audit_trail")" = "$before,$before,$before" ] ||
        bad "the earlier rows are not in $before: $(q "SELECT tableoid::regclass, line_no FROM audit_trail")"
    [ "$(q "SELECT count(*) FROM audit_trail_earlier")" = 3 ] || bad "the earlier table is not kept"
    r=$(psql -X -q -f "$upgrade_sql" 2>&1) || bad "the second upgrade failed: $r"
    printf '%s' "$r" | grep -q "nothing to do" || bad "the second upgrade said: $r"
    [ "$(q "SELECT count(*) FROM audit_trail")" = 3 ] || bad "the second upgrade changed the rows"

    # This release's service goes on with the trail, rotating at once.
    QZ45_AUDIT_TRAIL_ROTATE_KB=1 send --type "Change Value" --user op4 --domain PLANT \
        --descriptor FIC101 --property SP --old r4:0.25 --new r8:3 --message "new 4"
    QZ45_AUDIT_TRAIL_ROTATE_KB=1 send --type Startup --user op5 --domain PLANT --message "new 5"
    [ "$(ls odbc_upgrade.*.jsonl 2>/dev/null | wc -l)" -ge 1 ] || bad "the earlier trail was not rotated"
    run verify $trail
    expect 0 '^5 lines, chain intact in [0-9]* files$' "verify across the earlier lines and the new"
    run ship --odbc "$conn" $trail --machine $m
    expect 0 "2 line(s) shipped, 3 already present" "shipping on into the upgraded tables"
    run verify $trail --odbc "$aconn" --machine $m
    expect 0 "$m: every line of $trail is in the database" "verify against the upgraded tables"
    run verify --odbc "$aconn" --machine $m
    expect 0 "^$m: 5 lines, chain intact" "verify of the upgraded tables, across the months"
    run --odbc "$aconn" --machine old1 --user op2 --format csv
    expect 0 '^OLD1,2,ChangeEvent,301,change,.*,op2,.*,SP,VT_R4,0.1,VT_R8,2.5,.*,old 2' "an earlier line in the view"
    [ "$(printf '%s\n' "$out" | grep -c '^OLD1,')" = 1 ] || bad "the view's rows: $out"
    rm -f odbc_upgrade.rows odbc_upgrade.log
    ;;
months)
    # A machine's trail over three months, each row in the month it went in:
    # verify --odbc follows its chain across them, and the review page's
    # query for a month's events reads that month alone, as the server's
    # own EXPLAIN (auto_explain, in its log) shows.
    db=qz45_months
    PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW PGOPTIONS='-c client_min_messages=warning' \
        psql -X -q -v ON_ERROR_STOP=1 -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db OWNER qz45_admin" || bad "cannot make $db"
    here=$(cd "$(dirname "$0")" && pwd)
    . "$here/review_start.sh"
    export PGDATABASE=$db
    psql -X -q -f "$setup_sql" >/dev/null || bad "the set-up did not apply to $db"
    trail=odbc_months.jsonl m=months-a
    rm -f $trail
    # 2026-01-10 08:00 UTC and every ten days: three in January, two in
    # February, four in March.
    t0=$(date -u -d 2026-01-10T08:00:00Z +%s)
    for i in 0 1 2 3 4 5 6 7 8; do
        n=$((240 * i))
        send --type "Change Value" --user op1 --domain PLANT --descriptor FIC101 --property SP \
            --old r8:$i --new r8:$((i + 1)) --message "step $i"
    done
    # Shipped elsewhere, then stored here as they would have gone in, over
    # the months.
    run ship --odbc "$QZ45_ODBC" $trail --machine months-src
    expect 0 "9 line(s) shipped" "the trail shipped"
    PGDATABASE=qz45_audit psql -X -q -v ON_ERROR_STOP=1 -c "\\copy (SELECT '$m', line_no, submitted,
        user_name, domain_name, category, descriptor, property, message, event_time, line_text,
        replaced, event_time + interval '2 seconds' FROM audit_trail WHERE machine = 'months-src'
        ORDER BY line_no) TO 'odbc_months.rows'" || bad "cannot copy the rows out"
    q "SELECT audit_trail_month(m::date) FROM generate_series(timestamp '2026-01-01',
           timestamp '2026-03-01', interval '1 month') m" >/dev/null
    psql -X -q -v ON_ERROR_STOP=1 -c "\\copy audit_trail (machine, line_no, submitted, user_name,
        domain_name, category, descriptor, property, message, event_time, line_text, replaced,
        shipped_at) FROM 'odbc_months.rows'" || bad "the months did not fill"
    q "INSERT INTO audit_trail_shipments (machine, first_line, last_line, last_sha256, shipped_at)
       SELECT '$m', line_no, line_no, encode(sha256(convert_to(line_text, 'UTF8')), 'hex'),
           shipped_at FROM audit_trail WHERE machine = '$m'" || bad "the log did not fill"
    [ "$(q "SELECT string_agg(tableoid::regclass || ':' || n, ' ' ORDER BY tableoid::regclass::text)
            FROM (SELECT tableoid, count(*) n FROM audit_trail WHERE machine = '$m' GROUP BY 1) c")" = \
      "audit_trail_2026_01:3 audit_trail_2026_02:2 audit_trail_2026_03:4" ] ||
        bad "the rows by month: $(q "SELECT tableoid::regclass, line_no FROM audit_trail WHERE machine = '$m'")"
    run verify --odbc "${QZ45_ODBC_AUDITOR/Database=qz45_audit/Database=$db}" --machine $m
    expect 0 "^$m: 9 lines, chain intact" "verify --odbc across three months"

    # The page's queries explained in the server's log.
    PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -v ON_ERROR_STOP=1 \
        -c "ALTER ROLE qz45_reviewer IN DATABASE $db SET session_preload_libraries = 'auto_explain'" \
        -c "ALTER ROLE qz45_reviewer IN DATABASE $db SET auto_explain.log_min_duration = 0" ||
        bad "cannot explain the reviewer's queries"
    export QZ45_ODBC_MONTHS=${QZ45_ODBC_REVIEWER/Database=qz45_audit/Database=$db}
    start_page odbc_months.out --odbc-env QZ45_ODBC_MONTHS --port 0
    jar=odbc_months.cookies
    curl -s -o /dev/null -c $jar "$url"
    mark=$(wc -l <"$pgdir/server.log")
    # February in the page's local time (an hour east of UTC): its two events.
    page=$(curl -s -b $jar "http://$host:$port/?machine=$m&from=2026-02-01T00:00&to=2026-03-01T00:00")
    printf '%s' "$page" | grep -q 'rows 1&ndash;2 of 2,' || bad "February's page: $(printf '%s' "$page" | grep -o 'rows [^<]*')"
    stop_page
    read_months=$(tail -n +$((mark + 1)) "$pgdir/server.log" | python3 -c '
import re, sys
entries, read = [], set()
for line in sys.stdin:
    if "LOG:  duration:" in line:
        entries.append([])
    elif entries and line.startswith("\t"):
        entries[-1].append(line)
for e in entries:
    text = "".join(e)
    if "shipped_at >=" not in text or "event_time >=" not in text:
        continue  # not a query for a period
    plan = [l for l in e if "Query Text:" not in l]
    read |= set(re.findall(r"\bon (audit_trail_\d{4}_\d\d)\b", "".join(plan)))
print(" ".join(sorted(read)) or "none")')
    [ "$read_months" = audit_trail_2026_02 ] || bad "February's queries read $read_months"
    rm -f $jar odbc_months.out odbc_months.rows

    # January and February archived by the tables' owner: each month's lines
    # of the machine a file of its trail, checked offline, named in the
    # manifests; the months out of the table, the chain checked on from them.
    owner="${QZ45_ODBC%%;Uid=*};Uid=qz45_admin;Pwd=$PGPASSWORD;"
    owner=${owner/Database=qz45_audit/Database=$db}
    aconn=${QZ45_ODBC_AUDITOR/Database=qz45_audit/Database=$db}
    rm -rf odbc_archive_months
    run archive --odbc "$owner" --before 2026-03 odbc_archive_months
    expect 0 "^2026-01: 3 line(s) of 1 machine(s) archived in odbc_archive_months" "archiving January"
    printf '%s\n' "$out" | grep -q "^2026-02: 2 line(s) of 1 machine(s) archived" || bad "February not archived: $out"
    attached() { q "SELECT string_agg(c.relname, ' ' ORDER BY c.relname) FROM pg_inherits i JOIN pg_class c
                    ON c.oid = i.inhrelid WHERE i.inhparent = 'audit_trail'::regclass AND c.relname LIKE 'audit\_trail\_2026\_0%'"; }
    [ "$(attached)" = audit_trail_2026_03 ] || bad "the months in the table: $(attached)"
    run verify odbc_archive_months/$m/audit-trail.jsonl
    expect 0 '^5 lines, chain intact in 2 files$' "the archive verified offline"
    python3 - odbc_archive_months <<'PY' || bad "the manifests do not describe the files"
import hashlib, json, os, sys
folder = sys.argv[1]
for month, first, last in (("2026-01", 1, 3), ("2026-02", 4, 5)):
    m = json.load(open(os.path.join(folder, "manifest-%s.json" % month)))
    [f] = m["files"]
    data = open(os.path.join(folder, f["file"].replace("\\", "/")), "rb").read()
    lines = data.decode().splitlines()
    assert m["month"] == month and f["machine"] == "months-a", m
    assert (f["first"], f["last"]) == (first, last), f
    assert f["sha256"] == hashlib.sha256(data).hexdigest(), f
    assert lines[-1].endswith('"hash":"%s"}' % f["hash"]) and ('"prev":"%s"' % f["first_prev"]) in lines[0], f
PY
    run verify --odbc "$aconn" --machine $m
    expect 0 "^$m: lines 1-5 archived (manifest odbc_archive_months.manifest-2026-02.json), chained on to: 4 lines, chain intact" "verify --odbc across the archive's end"
    [ "$(q "SELECT string_agg(to_char(month, 'YYYY-MM') || ' ' || action || ' ' || db_user, ', ' ORDER BY archive_id)
            FROM audit_trail_archives")" = "2026-01 archived qz45_admin, 2026-02 archived qz45_admin" ] ||
        bad "the record of archives: $(q "SELECT * FROM audit_trail_archives")"
    # The page says where the archive ends, and checks on from there.
    start_page odbc_months.out --odbc-env QZ45_ODBC_MONTHS --port 0 --check-interval 1
    curl -s -o /dev/null -c $jar "$url"
    chain=
    for _ in $(seq 60); do
        chain=$(curl -s -b $jar "http://$host:$port/overview" | sed 's|.*id="machines"||' |
                grep -o "<tr><td>$m</td>.*" | sed 's|</tr>.*||')
        printf '%s' "$chain" | grep -q 'intact' && break
        sleep 0.5
    done
    printf '%s' "$chain" | grep -q "intact, lines 1.*5 archived (manifest odbc_archive_months.manifest-2026-02.json), lines 6.*9, checked" ||
        bad "the page's chain of $m: $chain"
    stop_page
    rm -f $jar odbc_months.out
    r=$(q "DELETE FROM audit_trail_archives" 2>&1)
    printf '%s' "$r" | grep -q 'refused: the audit trail keeps every row it got' || bad "the record of archives lost a row: $r"

    # February back, then out again and dropped.
    run restore --odbc "$owner" 2026-02
    expect 0 "^2026-02: back in the table" "restoring February"
    [ "$(attached)" = "audit_trail_2026_02 audit_trail_2026_03" ] || bad "after the restore: $(attached)"
    run verify --odbc "$aconn" --machine $m
    expect 0 "^$m: lines 1-3 archived (manifest odbc_archive_months.manifest-2026-01.json), chained on to: 6 lines, chain intact" "verify --odbc after the restore"
    run archive --odbc "$owner" --before 2026-03 odbc_archive_months --drop
    expect 0 "^2026-02: compared again, and dropped" "archiving February again, dropped"
    [ "$(q "SELECT to_regclass('audit_trail_2026_02') IS NULL")" = t ] || bad "February's table is still there"
    run restore --odbc "$owner" 2026-02
    expect 3 "2026-02 is not a month taken out of the table" "restoring a dropped month"
    run verify --odbc "$aconn" --machine $m
    expect 0 "^$m: lines 1-5 archived" "verify --odbc after the drop"
    rm -rf odbc_archive_months
    ;;
setup)
    # The release's set-up file makes what qz45trail schema says, statement
    # for statement, the roles its psql variables.
    want=$("$W" qz45trail.exe schema --shipper qz45_shipper --auditor qz45_auditor --reviewer qz45_reviewer |
           tr -d '\r' | grep -E '^(CREATE|REVOKE|GRANT) ')
    grep -q '^SELECT audit_trail_months() ' "$setup_sql" || bad "audit_trail_setup.sql makes no months"
    got=$(grep -E '^(CREATE|REVOKE|GRANT) ' "$setup_sql" |
          sed 's/:"shipper"/"qz45_shipper"/; s/:"auditor"/"qz45_auditor"/; s/:"reviewer"/"qz45_reviewer"/')
    if [ -z "$want" ] || [ "$got" != "$want" ]; then
        bad "audit_trail_setup.sql and qz45trail schema differ (< schema, > file):"
        diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") | head -20
    fi

    # A new database of the administrative role: nothing in it yet.
    db=qz45_setup
    PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW PGOPTIONS='-c client_min_messages=warning' \
        psql -X -q -v ON_ERROR_STOP=1 -c "DROP DATABASE IF EXISTS $db" -c "CREATE DATABASE $db OWNER qz45_admin" || bad "cannot make $db"
    export PGDATABASE=$db
    conn=${QZ45_ODBC/Database=qz45_audit/Database=$db}
    trail=odbc_setup.jsonl m=setup-a slog=odbc_ship_log.txt
    QZ45_AUDIT_TRAIL=$trail "$W" qz45event.exe send --type Startup --user op1 --domain PLANT \
        --message "set-up" --repeat 1200 -q >/dev/null 2>&1
    lines=$(wc -l <"$trail")
    [ "$lines" = 1200 ] || bad "the service wrote $lines lines, 1200 expected"

    # Before the set-up the shipper, who may not create tables, says what to
    # do, on standard error and in its log.
    run ship --odbc "$conn" "$trail" --machine $m --log $slog
    expect 3 "the table audit_trail is not in the database, and this role cannot create it .*audit_trail_setup.sql" "a shipper before the set-up"
    grep -q "^20[0-9-]*T[0-9:.]*Z failed: the table audit_trail is not in the database" $slog ||
        bad "the log does not hold the failure: $(cat $slog)"
    # Wine shows the event-log entry as its eventlog channel's message.
    printf '%s\n' "$out" | grep -q "ReportEventW L\"qz45trail ship $trail (machine $m) stopped: the table audit_trail is not" ||
        bad "no event-log entry for the failure"
    # The file run as the shipper stops before it makes anything.
    r=$(PGUSER=qz45_shipper PGPASSWORD=$QZ45_SHIPPER_PW psql -X -q -f "$setup_sql" 2>&1) &&
        bad "the set-up ran as the shipper"
    printf '%s' "$r" | grep -q 'run audit_trail_setup.sql as the administrative role that is to own the tables, not as qz45_shipper' ||
        bad "the set-up run as the shipper: $r"
    [ "$(q "SELECT count(*) FROM pg_class WHERE relname LIKE 'audit\_%'")" = 0 ] || bad "the shipper's set-up left tables"

    # As the owner, roles named (the reviewer's by default).
    psql -X -q -v shipper=qz45_shipper -v auditor=qz45_auditor -f "$setup_sql" >>"$log" 2>&1 ||
        bad "the set-up did not apply as the owner"
    [ "$(q "SELECT string_agg(DISTINCT pg_get_userbyid(relowner), ',') || count(*) FROM pg_class
            WHERE relname LIKE 'audit\_%' AND relkind IN ('r', 'p') AND NOT relispartition")" = qz45_admin4 ] ||
        bad "the tables are not the owner's four"
    # The trail by month: this one's and the next two, each with its line key
    # and the triggers.
    months=$(q "SELECT string_agg(c.relname || ':' || (SELECT count(*) FROM pg_constraint k
                    WHERE k.conrelid = c.oid AND k.contype = 'u') || ':' ||
                (SELECT string_agg(t.tgname, ',' ORDER BY t.tgname) FROM pg_trigger t
                    WHERE t.tgrelid = c.oid), ' ' ORDER BY c.relname)
                FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid
                WHERE i.inhparent = 'audit_trail'::regclass")
    want_months=
    for n in 0 1 2; do
        p=audit_trail_$(date -u -d "$(date -u +%Y-%m-01) + $n month" +%Y_%m)
        want_months="$want_months${want_months:+ }$p:1:${p}_keep_all,audit_trail_keep_rows"
    done
    [ "$months" = "$want_months" ] || bad "the months: $months (not $want_months)"
    # Each role's privileges, as granted: nothing more.
    privileges=$(q "SELECT r || ':' || string_agg(t || '.' || p, ',' ORDER BY t, p) FROM
        unnest(ARRAY['qz45_shipper', 'qz45_auditor', 'qz45_reviewer']) r,
        unnest(ARRAY['audit_trail', 'audit_trail_shipments', 'audit_reviews']) t,
        unnest(ARRAY['SELECT', 'INSERT', 'UPDATE', 'DELETE', 'TRUNCATE', 'REFERENCES', 'TRIGGER']) p
        WHERE has_table_privilege(r, t, p) GROUP BY r ORDER BY r" | tr '\n' ' ')
    [ "$privileges" = "qz45_auditor:audit_reviews.SELECT,audit_trail.SELECT,audit_trail_shipments.SELECT qz45_reviewer:audit_reviews.INSERT,audit_reviews.SELECT,audit_trail.SELECT,audit_trail_shipments.SELECT qz45_shipper:audit_trail.INSERT,audit_trail.SELECT,audit_trail_shipments.INSERT,audit_trail_shipments.SELECT " ] ||
        bad "the roles' privileges: $privileges"

    # The shipper ships, logging each batch; progress, with no console to
    # show it, comes in plain lines.
    run ship --odbc "$conn" "$trail" --machine $m --log $slog
    expect 0 "machine $m: $lines line(s) shipped, 0 already present" "ship after the set-up"
    printf '%s\n' "$raw" | sed 's/\r$//' | grep -q $'\r' && bad "progress with carriage returns where no console shows it"
    printf '%s\n' "$out" | grep -q "^shipping $trail: [0-9]* line(s) shipped" || bad "no plain progress line"
    entries=$(sed 's/\r$//; s/^20[0-9-]*T[0-9:.]*Z //' $slog | tr '\n' '|')
    case "$entries" in
    "start: shipping $trail as machine $m|stopped: $trail -> machine $m: 0 line(s) shipped, 0 already present, "*"|failed: the table audit_trail is not in the database, "*"|start: shipping $trail as machine $m|connected: 0 line(s) in the database|shipped lines 1-500|shipped lines 501-1000|shipped lines 1001-1200|done: $trail -> machine $m: 1200 line(s) shipped, 0 already present, "*"|") ;;
    *) bad "the log holds: $(cat $slog)" ;;
    esac
    # The auditor reads with no further grant; the shipper changes nothing.
    [ "$(auq "SELECT count(*) FROM audit_trail WHERE machine = '$m'")" = "$lines" ] ||
        bad "the auditor cannot read the trail: $(auq "SELECT count(*) FROM audit_trail")"
    for sql in "UPDATE audit_trail SET message = 'x'" "DELETE FROM audit_trail" "TRUNCATE audit_trail" \
               "UPDATE audit_trail_shipments SET last_line = 0" "DELETE FROM audit_trail_shipments"; do
        r=$(shq "$sql")
        printf '%s' "$r" | grep -q 'permission denied' || bad "the shipper's $sql: $r"
    done
    # Nor does the owner, through the table or a month by its name.
    part=audit_trail_$(date -u +%Y_%m)
    for sql in "UPDATE audit_trail SET message = 'x'" "DELETE FROM audit_trail" "TRUNCATE audit_trail" \
               "UPDATE $part SET message = 'x'" "DELETE FROM $part" "TRUNCATE $part"; do
        r=$(q "$sql" 2>&1)
        printf '%s' "$r" | grep -q 'refused: the audit trail keeps every row it got' || bad "the owner's $sql: $r"
    done
    [ "$(q "SELECT count(*) FROM $part WHERE machine = '$m'")" = "$lines" ] || bad "the rows are not in $part"
    # A month's line key refuses a line stored twice.
    r=$(q "INSERT INTO audit_trail SELECT * FROM audit_trail WHERE machine = '$m' AND line_no = 1" 2>&1)
    printf '%s' "$r" | grep -q 'duplicate key value violates unique constraint "'"$part"'_line"' ||
        bad "a line stored twice: $r"

    # The trail again without --machine (the computer's name): refused,
    # naming the machine it was shipped as; nothing stored.
    export QZ45_ODBC_SETUP=$conn
    run ship --odbc-env QZ45_ODBC_SETUP "$trail"
    expect 1 "$trail line 1 is stored as line 1 of machine $m: this trail was shipped as machine $m (ship it on with --machine $m); nothing shipped" "the trail under the computer's name"
    [ "$(q "SELECT count(*) FROM audit_trail WHERE machine <> '$m'")" = 0 ] || bad "rows stored under another name"
    # A trail begun before chaining: its first chained line stands for it;
    # the same unchained lines ahead of another chain are no reason to refuse.
    unchain() { sed 's/,"prev":"[0-9a-f]*","hash":"[0-9a-f]*"}$/}/'; }
    head -2 "$trail" | unchain >odbc_unchained.jsonl
    cp odbc_unchained.jsonl odbc_unchained2.jsonl
    sed -n 3,4p "$trail" | unchain | while IFS= read -r c; do chain odbc_unchained.jsonl "$c"; done
    sed -n 5,6p "$trail" | unchain | while IFS= read -r c; do chain odbc_unchained2.jsonl "$c"; done
    run ship --odbc "$conn" odbc_unchained.jsonl --machine unchained-a
    expect 0 "machine unchained-a: 4 line(s) shipped" "a trail begun before chaining"
    run ship --odbc "$conn" odbc_unchained2.jsonl --machine unchained-b
    expect 0 "machine unchained-b: 4 line(s) shipped" "another chain after the same unchained lines"
    run ship --odbc "$conn" odbc_unchained.jsonl --machine unchained-c
    expect 1 "odbc_unchained.jsonl line 3 is stored as line 3 of machine unchained-a" "a trail begun before chaining, under another name"
    [ "$(q "SELECT count(*) FROM audit_trail WHERE machine = 'unchained-c'")" = 0 ] || bad "rows stored as unchained-c"

    # Rows copied to another machine name behind the shipper's back, with
    # their shipments' log entries: verify says which machines hold one trail.
    q "CREATE TEMP TABLE copied AS SELECT * FROM audit_trail WHERE machine = '$m';
       UPDATE copied SET machine = 'setup-copy'; INSERT INTO audit_trail SELECT * FROM copied;
       INSERT INTO audit_trail_shipments (machine, first_line, last_line, last_sha256, shipped_at)
       SELECT 'setup-copy', first_line, last_line, last_sha256, shipped_at FROM audit_trail_shipments
       WHERE machine = '$m'"
    run verify --odbc "${QZ45_ODBC_AUDITOR/Database=qz45_audit/Database=$db}" --unchained 2
    expect 0 "^setup-copy: holds the trail of machine $m (line 1, its first chained line, is the same line): one trail shipped under two machine names" "verify, one trail under two names"
    printf '%s\n' "$out" | grep -q "^unchained-b: holds" && bad "verify took two chains after the same unchained lines for one"
    printf '%s\n' "$out" | grep -q "^setup-copy: $lines lines, chain intact" || bad "verify: $out"
    ;;
*)
    echo "unknown case $case_"
    exit 2
    ;;
esac

# No password in anything qz45trail printed.
if grep -q -F -e "$QZ45_SHIPPER_PW" -e "$QZ45_AUDITOR_PW" "$log" odbc_*.out odbc_ship_log.txt 2>/dev/null; then
    bad "a password appears in qz45trail's output"
fi
# QZ45_ODBC_KEEP=1 keeps the case's files and its log, to look at.
[ -n "${QZ45_ODBC_KEEP:-}" ] ||
rm -rf odbc_*.jsonl odbc_*.jsonl.torn odbc_*.out odbc_rotate odbc_*.conn odbc_ship_log.txt "$log" \
    odbc_ship_log.moved odbc_rotate_follower.txt odbc_archive odbc_archive.expected odbc_verify_? odbc_hold.fifo
[ $fail -eq 0 ] && echo "odbc $case_: ok"
exit $fail
