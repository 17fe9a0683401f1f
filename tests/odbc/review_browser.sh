#!/usr/bin/env bash
# The review page end to end: a trail written by the real service, shipped
# into the real server, served by qz45trail review under Wine, read in
# headless Chromium through WebDriver (review_browser.py); around it, what a
# browser cannot tell: the listening socket is on loopback only, a request
# without the token gets 403, and Ctrl-C stops the program cleanly.
# Usage: review_browser.sh BIN_DIR POSTGRES_DIR SHOTS_DIR
set -u
bin=$1 pgdir=$2 shots=$3
here=$(cd "$(dirname "$0")" && pwd)
cd "$bin" || exit 1
[ -f "$pgdir/env" ] || { echo "no PostgreSQL server was started ($pgdir/env is missing)"; exit 1; }
. "$pgdir/env"
export PSQLRC=/dev/null
W=$WINE_RUN
fail=0
bad() { echo "FAIL: $*"; fail=1; }
mkdir -p "$shots"

"$W" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
if [ "$(psql -X -q -t -A -c "SELECT to_regclass('audit_trail') IS NOT NULL")" != t ]; then
    psql -X -q -f "$here/../../packaging/audit_trail_setup.sql" || { echo "the set-up did not apply"; exit 1; }
fi

# A day of one plant, 2026-01-01 from 08:00 UTC, one event an hour.
trail=review_browser.jsonl m=review-a
rm -f "$trail"
t0=1767254400
n=0
send() {
    QZ45_AUDIT_TRAIL=$trail "$W" qz45event.exe send --time $((t0 + 3600 * n)) "$@" >/dev/null 2>&1 ||
        bad "send $*"
    n=$((n + 1))
}
send --type Startup --user op1 --domain PLANT --message "database started"
send --type "Change Value" --user op2 --domain PLANT --descriptor FIC101 --property SP --old r8:1 --new r8:2 --message "raised for batch 1"
send --type "Change Value" --user op2 --domain PLANT --descriptor FIC101 --property SP --old r8:2 --new r8:3.5 --message "raised for batch 2"
send --type "Change Value" --user müller --domain WERK --descriptor FIC101 --property SP --old r8:3.5 --new r8:3 --message "Durchfluß über Grenzwert"
send --type "Write Denied" --user op3 --domain PLANT --descriptor FIC101 --property SP --message "not allowed"
send --type "Change Record Security" --user admin --domain PLANT --descriptor '<img src=x onerror=alert(2)>' --old text:a --new text:b --message '<script>alert(1)</script>'
send --type "Change Value" --user op2 --domain PLANT --descriptor TIC200 --property PV --old r8:20 --new r8:21 --message '=HYPERLINK("http://example.invalid","x")'
send --type "Change Value" --user op2 --domain PLANT --descriptor TIC200 --property PV --old r8:21 --new r8:19 --message '-2+3 lowered'
send --type Shutdown --user op1 --domain PLANT --message "database stopped"
out=$("$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine $m 2>&1) || bad "ship: $out"

# The page, on a port the system picks, an hour east of UTC.
TZ=Europe/Berlin "$W" qz45trail.exe review --odbc-env QZ45_ODBC_REVIEWER --port 0 >review_browser.out 2>&1 &
pid=$!
url=
for _ in $(seq 300); do
    url=$(grep -o 'http://[^ ]*' review_browser.out 2>/dev/null | tr -d '\r')
    [ -n "$url" ] && break
    sleep 0.1
done
[ -n "$url" ] || { bad "the page did not start: $(cat review_browser.out)"; kill $pid; exit 1; }
port=$(printf '%s' "$url" | sed 's|^http://[^:]*:\([0-9]*\)/.*|\1|')

# Loopback only: the listening socket, and a try from another address.
listening=$(ss -ltnH "sport = :$port" | awk '{print $4}')
[ "$listening" = "127.0.0.1:$port" ] || bad "listening on '$listening', not on 127.0.0.1:$port alone"
other=$(hostname -I 2>/dev/null | tr ' ' '\n' | grep -v '^127\.' | grep -v ':' | head -1)
if [ -n "$other" ]; then
    curl -s -m 3 -o /dev/null "http://$other:$port/" && bad "the page answers on $other"
else
    echo "(no other address on this machine to try the page from)"
fi
code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/")
[ "$code" = 403 ] || bad "a request without the token got $code, not 403"
code=$(curl -s -o /dev/null -w '%{http_code}' -b "qz45review=0123456789abcdef0123456789abcdef" "http://127.0.0.1:$port/export.csv")
[ "$code" = 403 ] || bad "a request with another token got $code, not 403"

/usr/bin/python3 "$here/review_browser.py" "$url" "$trail" "$m" "$shots" || fail=1

# What the review put in the database: the server's user and time, the
# machine's last line.
row=$(psql -X -q -t -A -c "SELECT db_user || '|' || (positions->'$m'->>'line') FROM audit_reviews ORDER BY review_id DESC LIMIT 1")
[ "$row" = "qz45_reviewer|9" ] || bad "the stored review says '$row', not qz45_reviewer|9"

# A machine whose trail was edited in the database by a superuser (a message
# changed, its line's prev removed): its chain shows the line, once the page
# has checked it between requests.
# Its rows are the first machine's, copied by the tables' owner (ship refuses
# a trail that another machine holds).
psql -X -q -c "CREATE TEMP TABLE t AS SELECT * FROM audit_trail WHERE machine = '$m';
    CREATE TEMP TABLE s AS SELECT * FROM audit_trail_shipments WHERE machine = '$m';
    UPDATE t SET machine = 'review-b'; UPDATE s SET machine = 'review-b';
    INSERT INTO audit_trail SELECT * FROM t; INSERT INTO audit_trail_shipments SELECT * FROM s" ||
    bad "the copy of the rows failed"
PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -c "SET session_replication_role = replica;
    UPDATE audit_trail SET prev_hash = NULL, line_text = replace(line_text, 'not allowed', 'allowed')
    WHERE machine = 'review-b' AND line_no = 5" || bad "the edit as a superuser failed"
token=${url##*token=}
chain=
for _ in $(seq 60); do
    chain=$(curl -s -b "qz45review=$token" "http://127.0.0.1:$port/overview" |
            grep -o '<tr><td>review-b</td>.*' | sed 's|</tr>.*||')
    case "$chain" in *checking* | "") sleep 0.5 ;; *) break ;; esac
done
case "$chain" in *"first bad line 5 "*) ;; *) bad "review-b's chain after the edit: '$chain'" ;; esac

# Ctrl-C: the program ends by itself, with 0.
kill -INT $pid
for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
    bad "Ctrl-C did not stop the page"
    kill $pid
fi
wait $pid
code=$?
[ $code -eq 0 ] || bad "the page ended with $code after Ctrl-C"
grep -q -F -e "$QZ45_SHIPPER_PW" -e "$QZ45_AUDITOR_PW" review_browser.out && bad "a password in the output"

echo "screenshots: $shots/events.png $shots/overview.png $shots/reviews.png"
rm -f "$trail" review_browser.out
[ $fail -eq 0 ] && echo "review browser: all checks passed"
exit $fail
