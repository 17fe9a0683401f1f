#!/usr/bin/env bash
# The review page answers as the console does, end to end: trails of two
# machines written by the real service and shipped into the real server,
# served by qz45trail review under Wine, read in headless Chromium
# (review_answers.py), which gives the same filters to the page, its CSV copy
# and the console's view of the database and compares the rows; a record's
# history across both machines, values as the console shows them, events
# stored long after their time flagged, paging with totals, and the 400s.
# Usage: review_answers.sh BIN_DIR POSTGRES_DIR
set -u
bin=$1 pgdir=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/review_start.sh"

# Two machines of one plant, 2026-01-01 from 08:00 UTC, one event an hour:
# a set point changed 40 -> 45 on one and back on the other.
t0=1767254400
ship() {
    out=$("$W" qz45trail.exe ship --odbc "$QZ45_ODBC" "$trail" --machine "$1" 2>&1) || bad "ship $1: $out"
    rm -f "$trail"
}
trail=review_answers_a.jsonl
rm -f "$trail"
send --type Startup --user op1 --domain PLANT --message "database started"
send --type "Change Value" --user op2 --domain PLANT --descriptor FIC101 --property SP --old r8:40 --new r8:45 --message "raised for batch 7"
send --type "Change Value" --user Op2 --domain Plant --descriptor fic101 --property OUT --old r4:0.1 --new r4:0.25 --message "opened"
send --type "Change Value" --user müller --domain WERK --descriptor TIC200 --property SP --old r8:20 --new r8:21.5 --message "Durchfluß über Grenzwert"
send --type "Write Denied" --user op3 --domain PLANT --descriptor FIC101 --property SP --message "not allowed"
send --type Shutdown --user op1 --domain PLANT --message "database stopped"
ship answers-a
trail=review_answers_b.jsonl
n=3
send --type "Change Value" --user MÜLLER --domain werk --descriptor FIC101 --property SP --old r8:45 --new r8:40 --message "set back"
send --type "Change Value" --user op2 --domain PLANT --descriptor Fic101 --property sp --old r8:40 --new r8:41 --message "trimmed"
send --type "Write Denied" --user op2 --domain PLANT --descriptor TIC200 --property SP --message "not allowed"
ship answers-b

# A machine with 250 rows, for paging: one row copied by the tables' owner, its
# event time moved a minute a row (the column only: not for the console).
psql -X -q -c "INSERT INTO audit_trail (machine, line_no, submitted, user_name, domain_name,
        category, descriptor, property, message, event_time, line_text, replaced)
    SELECT 'answers-p', g, submitted, user_name, domain_name, category, descriptor, property,
        message, event_time + g * interval '1 minute', line_text, replaced
    FROM audit_trail, generate_series(1, 250) g WHERE machine = 'answers-a' AND line_no = 1" ||
    bad "the paging rows did not go in"

start_page review_answers.out

/usr/bin/python3 "$here/review_answers.py" "$url" "$W" "$QZ45_ODBC_AUDITOR" || fail=1

stop_page
rm -f review_answers.out
[ $fail -eq 0 ] && echo "review answers: all checks passed"
exit $fail
