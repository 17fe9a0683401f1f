#!/usr/bin/env bash
# The review page's reviews, exceptions, chart, printed copy and
# accessibility end to end: a trail written by the real service across a
# local midnight, shipped into the real server, served by qz45trail review
# under Wine an hour east of UTC, read in headless Chromium
# (review_print.py); around it, what the database stored of the review.
# Usage: review_print.sh BIN_DIR POSTGRES_DIR SHOTS_DIR
set -u
bin=$1 pgdir=$2 shots=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/review_start.sh"

# 2026-01-01 from 20:00 UTC, one event an hour: three on the 1st in Berlin,
# five on the 2nd (four of them on the 1st in UTC).
trail=review_print.jsonl m=review-p
rm -f "$trail"
t0=1767297600
send --type Startup --user op1 --domain PLANT --message "database started"
send --type "Read Denied" --user op3 --domain PLANT --descriptor FIC101 --property SP --message "no read right on the unit"
send --type "Change Value" --user op2 --domain PLANT --descriptor FIC101 --property SP --old r8:1 --new r8:2 --message "raised for batch 1 after the operator's deviation report was approved by quality assurance"
send --type "Write Denied" --user op3 --domain PLANT --descriptor FIC101 --property SP --message "not allowed"
send --type "Change Security Denied" --user op3 --domain PLANT --descriptor TIC200 --property ACL --message "no security right"
send --type "DB Read Denied" --user op4 --domain PLANT --message "database closed to guests"
send --type "Change Value" --user op2 --domain PLANT --descriptor TIC200 --property PV --old r8:20 --new r8:21 --message "calibrated"
send --type Shutdown --user op1 --domain PLANT --message "database stopped"
out=$("$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine $m 2>&1) || bad "ship: $out"

start_page review_print.out

/usr/bin/python3 "$here/review_print.py" "$url" "$trail" "$m" "$shots" \
    "$here/../../src/event/event_types.cpp" || fail=1

# What the database stored of the review recorded: its meaning in its own
# column, the machine's last line.
row=$(psql -X -q -t -A -c "SELECT meaning || '|' || (positions->'$m'->>'line') FROM audit_reviews
    WHERE remark LIKE 'print test: batch 1 checked%' ORDER BY review_id DESC LIMIT 1")
[ "$row" = "reviewed, exceptions noted|8" ] || bad "the stored review says '$row'"
refused=$(psql -X -q -t -A -c "SELECT count(*) FROM audit_reviews WHERE remark LIKE 'print test: refused%'")
[ "$refused" = 0 ] || bad "$refused refused reviews were stored"

stop_page
rm -f "$trail" review_print.out
[ $fail -eq 0 ] && echo "review print: all checks passed"
exit $fail
