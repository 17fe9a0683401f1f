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
. "$here/review_start.sh"

# A day of one plant, 2026-01-01 from 08:00 UTC, one event an hour.
trail=review_browser.jsonl m=review-a
rm -f "$trail"
t0=1767254400
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
start_page review_browser.out

# Loopback only: the listening socket, on the loopback address the program
# chose, and a try from another address.
case "$host" in
127.0.0.1) bad "the page chose 127.0.0.1, the loopback address every local server shares" ;;
127.*.*.*) ;;
*) bad "the page chose $host, not a loopback address" ;;
esac
listening=$(ss -ltnH "sport = :$port" | awk '{print $4}')
[ "$listening" = "$host:$port" ] || bad "listening on '$listening', not on $host:$port alone"
other=$(hostname -I 2>/dev/null | tr ' ' '\n' | grep -v '^127\.' | grep -v ':' | head -1)
if [ -n "$other" ]; then
    curl -s -m 3 -o /dev/null "http://$other:$port/" && bad "the page answers on $other"
else
    echo "(no other address on this machine to try the page from)"
fi
code=$(curl -s -o /dev/null -w '%{http_code}' "http://$host:$port/")
[ "$code" = 403 ] || bad "a request without the token got $code, not 403"
code=$(curl -s -o /dev/null -w '%{http_code}' -b "qz45review=0123456789abcdef0123456789abcdef" "http://$host:$port/export.csv")
[ "$code" = 403 ] || bad "a request with another token got $code, not 403"

/usr/bin/python3 "$here/review_browser.py" "$url" "$trail" "$m" "$shots" || fail=1

# What the review put in the database: the server's user and time, the
# machine's last line.
row=$(psql -X -q -t -A -c "SELECT db_user || '|' || (positions->'$m'->>'line') FROM audit_reviews ORDER BY review_id DESC LIMIT 1")
[ "$row" = "qz45_reviewer|9" ] || bad "the stored review says '$row', not qz45_reviewer|9"

# A machine whose trail was edited in the database by a superuser (a message
# changed in its line): its chain shows the line, once the page
# has checked it between requests.
# Its rows are the first machine's, copied by the tables' owner (ship refuses
# a trail that another machine holds).
psql -X -q -c "CREATE TEMP TABLE t AS SELECT * FROM audit_trail WHERE machine = '$m';
    CREATE TEMP TABLE s AS SELECT * FROM audit_trail_shipments WHERE machine = '$m';
    UPDATE t SET machine = 'review-b'; UPDATE s SET machine = 'review-b';
    INSERT INTO audit_trail SELECT * FROM t; INSERT INTO audit_trail_shipments SELECT * FROM s" ||
    bad "the copy of the rows failed"
PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -c "SET session_replication_role = replica;
    UPDATE audit_trail SET line_text = replace(line_text, 'not allowed', 'allowed')
    WHERE machine = 'review-b' AND line_no = 5" || bad "the edit as a superuser failed"
token=${url##*token=}
chain=
for _ in $(seq 60); do
    chain=$(curl -s -b "qz45review=$token" "http://$host:$port/overview" |
            grep -o '<tr><td>review-b</td>.*' | sed 's|</tr>.*||')
    case "$chain" in *checking* | "") sleep 0.5 ;; *) break ;; esac
done
case "$chain" in *"first bad line 5 "*) ;; *) bad "review-b's chain after the edit: '$chain'" ;; esac

# Ctrl-C: the program ends by itself, with 0.
stop_page
grep -q -F -e "$QZ45_SHIPPER_PW" -e "$QZ45_AUDITOR_PW" review_browser.out && bad "a password in the output"

echo "screenshots: $shots/events.png $shots/overview.png $shots/reviews.png"
rm -f "$trail" review_browser.out
[ $fail -eq 0 ] && echo "review browser: all checks passed"
exit $fail
