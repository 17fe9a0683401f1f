#!/usr/bin/env bash
# The review page's background checks end to end: three machines shipped
# into the real server (one of them begun before chaining, one silent), the
# page under Wine with a one-second pause between its full checks, and a
# superuser who edits a stored row's message, another row's line and deletes
# a machine's last row while it runs; review_watch.py watches the overview,
# the printed copy and the events in headless Chromium.
# Usage: review_watch.sh BIN_DIR POSTGRES_DIR
set -u
bin=$1 pgdir=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/review_start.sh"
super() { PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -v ON_ERROR_STOP=1 -c "$1"; }

# Earlier runs' machines go (as a superuser would: the triggers refuse it).
super "ALTER TABLE audit_trail DISABLE TRIGGER USER; ALTER TABLE audit_trail_shipments DISABLE TRIGGER USER;
    DELETE FROM audit_trail WHERE machine LIKE 'watch-%'; DELETE FROM audit_trail_shipments WHERE machine LIKE 'watch-%';
    ALTER TABLE audit_trail ENABLE TRIGGER USER; ALTER TABLE audit_trail_shipments ENABLE TRIGGER USER" ||
    bad "the earlier machines were not removed"

# chain FILE CONTENT: appends CONTENT to FILE with chain members, as the
# service would.
chain() {
    local prev hash
    prev=$(tail -1 "$1" 2>/dev/null | sed -n 's/.*"hash":"\([0-9a-f]\{64\}\)"}$/\1/p')
    [ -n "$prev" ] || prev=0000000000000000000000000000000000000000000000000000000000000000
    hash=$(printf '%s%s' "$prev" "$2" | sha256sum | cut -c1-64)
    printf '%s,"prev":"%s","hash":"%s"}\n' "${2%\}}" "$prev" "$hash" >>"$1"
}
unchain() { sed 's/,"prev":"[0-9a-f]*","hash":"[0-9a-f]*"}$/}/'; }

# Fourteen events a minute apart: six for watch-a, six for watch-b (chained
# afresh), two unchained and two chained for watch-u.
trail=review_watch.jsonl
rm -f "$trail" review_watch_b.jsonl review_watch_u.jsonl
t0=$(( $(date +%s) - 3600 ))
for i in $(seq 14); do
    QZ45_AUDIT_TRAIL=$trail "$W" qz45event.exe send --time $((t0 + 60 * i)) --type "Change Value" \
        --user op$i --domain PLANT --descriptor FIC10$i --property SP --old r8:$i --new r8:$((i + 1)) \
        --message "step $i" >/dev/null 2>&1 || bad "send $i"
done
sed -n 7,12p "$trail" | unchain | while IFS= read -r c; do chain review_watch_b.jsonl "$c"; done
sed -n 13,14p "$trail" | unchain >review_watch_u.jsonl
head -2 "$trail" | unchain | sed 's/"step /"before chaining /' |
    while IFS= read -r c; do chain review_watch_u.jsonl "$c"; done
head -6 "$trail" >review_watch_a.jsonl
for m in a b u; do
    out=$("$W" qz45trail.exe ship --odbc "$QZ45_ODBC" review_watch_$m.jsonl --machine watch-$m 2>&1) ||
        bad "ship watch-$m: $out"
done
# watch-u shipped last two days ago: silent.
super "ALTER TABLE audit_trail_shipments DISABLE TRIGGER USER;
    UPDATE audit_trail_shipments SET shipped_at = shipped_at - interval '2 days' WHERE machine = 'watch-u';
    ALTER TABLE audit_trail_shipments ENABLE TRIGGER USER" || bad "the shipment log's time was not set back"

start_page review_watch.out --odbc-env QZ45_ODBC_REVIEWER --port 0 --check-interval 1 --unchained 2

# The edits, as review_watch.py asks for them once it saw every chain intact.
cat >review_watch_edit.sql <<'SQL'
ALTER TABLE audit_trail DISABLE TRIGGER USER;
UPDATE audit_trail SET message = 'forged' WHERE machine = 'watch-a' AND line_no = 3;
UPDATE audit_trail SET line_text = replace(line_text, '"step 10"', '"step ten"') WHERE machine = 'watch-b' AND line_no = 4;
DELETE FROM audit_trail WHERE machine = 'watch-u' AND line_no = 4;
ALTER TABLE audit_trail ENABLE TRIGGER USER;
SQL
edit="PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -v ON_ERROR_STOP=1 -f $bin/review_watch_edit.sql"
/usr/bin/python3 "$here/review_watch.py" "$url" "$edit" || fail=1

# The review recorded carries the fresh check's result.
remark=$(psql -X -q -t -A -c "SELECT remark FROM audit_reviews ORDER BY review_id DESC LIMIT 1")
case "$remark" in
*"Chains checked afresh: "*"watch-a first bad line 3 ("*) ;;
*) bad "the review's record does not carry the fresh check: '$remark'" ;;
esac

stop_page
rm -f "$trail" review_watch_[abu].jsonl review_watch_edit.sql review_watch.out
[ $fail -eq 0 ] && echo "review watch: all checks passed"
exit $fail
