#!/usr/bin/env bash
# A company's store of two plants' trails, all on loopback: two plant
# servers and a company server (scripts/postgres.sh, each in a folder of
# PLANTS_DIR), set up with the release's audit_trail_setup.sql and
# audit_trail_company.sql, the company subscribed to both plants.
#   - north ships before the company subscribes, south after; both plants
#     have a machine srv-1, which the company holds as north/srv-1 and
#     south/srv-1, and verify --odbc there finds every chain intact
#   - south's server stopped while its trail grows, started, shipped; the
#     company's server stopped while north ships: the company catches up
#   - the company's review page shows the machines by plant, chains intact
#   - a superuser's edit at the company is caught there
#   - north archives a month: the company keeps its rows, until it archives
#     the month itself, whose files then verify offline
#   - a row put in at the company by anything but a subscription is refused
# Usage: trail_plants.sh BIN_DIR PLANTS_DIR TIER
set -u
bin=$1 plants=$2 tier=$3
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
setup_sql=$here/../../packaging/audit_trail_setup.sql
company_sql=$here/../../packaging/audit_trail_company.sql
arch=amd64
[ "$tier" = win32 ] && arch=i386
export PSQLRC=/dev/null
fail=0
bad() { echo "FAIL: $*"; fail=1; }

mkdir -p "$plants"
plants=$(cd "$plants" && pwd)
stop_all() { for s in north south company; do bash "$scripts/postgres.sh" stop "$plants/$s"; done; }
trap stop_all EXIT
for s in north south company; do
    bash "$scripts/postgres.sh" init "$plants/$s" $arch >/dev/null || { echo "cannot start $s's server"; exit 1; }
done

# value SERVER VARIABLE: a variable of a server's environment (postgres.sh).
value() { (. "$plants/$1/env" && eval "printf '%s' \"\$$2\""); }
# on SERVER SQL: as the server's tables' owner; su SERVER SQL...: as a superuser.
on() { (. "$plants/$1/env" && psql -X -q -t -A -v ON_ERROR_STOP=1 -c "$2"); }
su() {
    local s=$1
    shift
    (. "$plants/$s/env" && PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -t -A -v ON_ERROR_STOP=1 "$@")
}
restart() { bash "$scripts/postgres.sh" stop "$plants/$1" && bash "$scripts/postgres.sh" start "$plants/$1"; }
# wait_for SECONDS COMMAND...: until COMMAND succeeds, checked every 0.2 s.
wait_for() {
    local n=$(($1 * 5))
    shift
    for _ in $(seq "$n"); do "$@" && return 0; sleep 0.2; done
    return 1
}
company_rows() { on company "SELECT count(*) FROM audit_trail WHERE machine = '$1'" 2>/dev/null; }
rows_are() { [ "$(company_rows "$1")" = "$2" ]; }

# Every server's tables, as the plant set-up makes them; each plant
# publishes (wal_level logical from its restart on), the company takes rows
# from its subscriptions only.
company_pw=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
for s in north south company; do
    (. "$plants/$s/env" && psql -X -q -f "$setup_sql" >/dev/null) || bad "the set-up did not apply at $s"
done
for s in north south; do
    r=$(su $s -v side=plant -v company_password="$company_pw" -f "$company_sql" 2>&1) ||
        bad "the plant side at $s: $r"
    printf '%s' "$r" | grep -q "restart this server" || bad "$s was not told to restart: $r"
    restart $s || bad "$s did not restart"
    [ "$(on $s "SHOW wal_level")" = logical ] || bad "$s's wal_level: $(on $s "SHOW wal_level")"
done
r=$(su company -v side=company -f "$company_sql" 2>&1) || bad "the company side: $r"
conninfo() { echo "host=127.0.0.1 port=$(value "$1" PGPORT) dbname=qz45_audit user=qz45_company password=$company_pw"; }
subscribe() {
    r=$(su company -v side=company -v plant="$1" -v since="$2" -v conninfo="$(conninfo "$1")" \
        -f "$company_sql" 2>&1) || bad "subscribing to $1: $r"
}

cd "$bin" || exit 1
W=$WINE_RUN
log=plants.log
: >"$log"
. "$here/qz45trail_run.sh"
"$W" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
export ODBCSYSINI=$(value north ODBCSYSINI) ODBCINI=$(value north ODBCINI)
rm -f plants_north.jsonl plants_south.jsonl plants_old.jsonl
rm -rf plants_archive_north plants_archive_company
# send TRAIL N WHAT: N events into TRAIL.
send() {
    QZ45_AUDIT_TRAIL=$1 "$W" qz45event.exe send --repeat "$2" --type "Change Value" --user op1 \
        --domain PLANT --descriptor FIC101 --property SP --old r8:1 --new r8:2 \
        --message "$3" >/dev/null 2>&1 || bad "send $3 into $1"
}
ship() { run ship --odbc "$(value "$1" QZ45_ODBC)" "$2" --machine srv-1; }

# Last month at north: a machine since retired, whose rows went in then.
# Its trail is shipped into a scratch database of north's server, and its
# rows copied from there into north's table with last month's times.
this_month=$(date -u +%Y-%m-01)
last_month=$(date -u -d "$this_month -1 month" +%Y-%m-01)
su north -c "CREATE DATABASE scratch OWNER qz45_admin" >/dev/null || bad "no scratch database at north"
(. "$plants/north/env" && PGDATABASE=scratch psql -X -q -f "$setup_sql" >/dev/null) || bad "the scratch set-up"
send plants_old.jsonl 4 "retired"
run ship --odbc "$(value north QZ45_ODBC | sed 's/Database=qz45_audit/Database=scratch/')" plants_old.jsonl --machine old-1
expect 0 "4 line(s) shipped" "the retired machine's trail shipped"
on north "SELECT audit_trail_month('$last_month')" >/dev/null
columns="machine, line_no, submitted, user_name, domain_name, category, descriptor, property, message, event_time, line_text, replaced"
(. "$plants/north/env" && PGDATABASE=scratch psql -X -q -v ON_ERROR_STOP=1 -c "COPY (SELECT $columns,
    timestamp '$last_month' + line_no * interval '1 hour' FROM audit_trail ORDER BY line_no) TO STDOUT" |
    psql -X -q -v ON_ERROR_STOP=1 -c "COPY audit_trail ($columns, shipped_at) FROM STDIN") ||
    bad "north's last month did not fill"
on north "INSERT INTO audit_trail_shipments (machine, first_line, last_line, last_sha256, shipped_at)
    SELECT machine, 1, line_no, encode(sha256(convert_to(line_text, 'UTF8')), 'hex'), shipped_at
    FROM audit_trail WHERE machine = 'old-1' AND line_no = 4" || bad "north's last month's log"

# North ships before the company subscribes; south after.
send plants_north.jsonl 5 "north before"
ship north plants_north.jsonl
expect 0 "5 line(s) shipped" "north's first ship"
subscribe north "$last_month"
subscribe south "$this_month"
send plants_south.jsonl 3 "south after"
ship south plants_south.jsonl
expect 0 "3 line(s) shipped" "south's first ship"
wait_for 60 rows_are north/srv-1 5 || bad "north/srv-1 at the company: $(company_rows north/srv-1) rows"
wait_for 60 rows_are south/srv-1 3 || bad "south/srv-1 at the company: $(company_rows south/srv-1) rows"
wait_for 60 rows_are north/old-1 4 || bad "north/old-1 at the company: $(company_rows north/old-1) rows"
[ "$(on company "SELECT string_agg(machine || ':' || last_line, ' ' ORDER BY machine, last_line) FROM audit_trail_shipments")" = \
  "north/old-1:4 north/srv-1:5 south/srv-1:3" ] ||
    bad "the company's shipment log: $(on company "SELECT machine, last_line FROM audit_trail_shipments")"
[ "$(on company "SELECT count(*) FROM audit_trail WHERE line_text NOT LIKE '{%' OR machine NOT LIKE '%/%'")" = 0 ] ||
    bad "rows at the company not named by plant"
company_auditor=$(value company QZ45_ODBC_AUDITOR)
run verify --odbc "$company_auditor"
expect 0 "^north/srv-1: 5 lines, chain intact" "the company's verify of north"
expect 0 "^south/srv-1: 3 lines, chain intact" "the company's verify of south"
expect 0 "^north/old-1: 4 lines, chain intact" "the company's verify of north's last month"

# South's server stopped while its trail grows, then started and shipped;
# the company's stopped while north ships.
bash "$scripts/postgres.sh" stop "$plants/south"
send plants_south.jsonl 4 "south while down"
ship south plants_south.jsonl
[ "$code" -ne 0 ] || bad "south shipped with its server stopped"
bash "$scripts/postgres.sh" start "$plants/south" || bad "south did not start again"
ship south plants_south.jsonl
expect 0 "4 line(s) shipped, 3 already present" "south's ship after its restart"
bash "$scripts/postgres.sh" stop "$plants/company"
send plants_north.jsonl 6 "north while the company is down"
ship north plants_north.jsonl
expect 0 "6 line(s) shipped" "north's ship while the company is down"
bash "$scripts/postgres.sh" start "$plants/company" || bad "the company did not start again"
wait_for 60 rows_are north/srv-1 11 || bad "north/srv-1 after the company's restart: $(company_rows north/srv-1) rows"
wait_for 60 rows_are south/srv-1 7 || bad "south/srv-1 after south's restart: $(company_rows south/srv-1) rows"
run verify --odbc "$company_auditor" --machine north/srv-1
expect 0 "^north/srv-1: 11 lines, chain intact" "north caught up at the company"
run verify --odbc "$company_auditor" --machine south/srv-1
expect 0 "^south/srv-1: 7 lines, chain intact" "south caught up at the company"

# The company's review page: its machines by plant, each chain checked.
export QZ45_ODBC_COMPANY=$(value company QZ45_ODBC_REVIEWER)
TZ=UTC "$W" qz45trail.exe review --odbc-env QZ45_ODBC_COMPANY --port 0 --check-interval 1 >plants_page.out 2>&1 &
page=$!
url=
for _ in $(seq 300); do
    url=$(grep -o 'http://[^ ]*' plants_page.out 2>/dev/null | tr -d '\r')
    [ -n "$url" ] && break
    sleep 0.1
done
if [ -n "$url" ]; then
    base=$(printf '%s' "$url" | sed 's|^\(http://[^/]*\)/.*|\1|')
    curl -s -o /dev/null -c plants_page.cookies "$url"
    overview=
    for _ in $(seq 60); do
        overview=$(curl -s -b plants_page.cookies "$base/overview" | sed 's|.*id="machines"||')
        [ "$(printf '%s' "$overview" | grep -o 'intact, lines' | wc -l)" -ge 3 ] && break
        sleep 0.5
    done
    for m in north/old-1 north/srv-1 south/srv-1; do
        printf '%s' "$overview" | grep -q "<tr><td>$m</td>.*intact, lines 1" || bad "the company's page on $m: $overview"
    done
    kill -INT $page
    wait $page
else
    bad "the company's page did not start: $(cat plants_page.out)"
    kill $page
fi
rm -f plants_page.cookies plants_page.out

# A superuser's edit at the company is caught there.
su company -c "SET session_replication_role = replica; UPDATE audit_trail SET message = 'nothing happened'
    WHERE machine = 'south/srv-1' AND line_no = 2" >/dev/null || bad "the superuser could not edit"
run verify --odbc "$company_auditor" --machine south/srv-1
expect 1 "^south/srv-1: line 2: column message does not match the line's text: changed in the database" "an edit at the company"

# Anything but a subscription is refused at the company.
r=$(su company -c "INSERT INTO audit_trail (machine, line_no, line_text, replaced) VALUES ('x', 1, '{}', 0)" 2>&1)
printf '%s' "$r" | grep -q "rows reach the company store from its plants' subscriptions only" ||
    bad "an insert at the company: $r"

# North archives last month: the company keeps the rows, until it archives
# the month itself.
before=${this_month%-01}
run archive --odbc "$(value north QZ45_ODBC | sed 's/Uid=qz45_shipper;Pwd=[^;]*;/Uid=qz45_admin;Pwd='"$(value north PGPASSWORD)"';/')" \
    --before "$before" plants_archive_north
expect 0 "4 line(s) of 1 machine(s) archived in plants_archive_north" "north's archive of last month"
send plants_north.jsonl 2 "north after its archive"
ship north plants_north.jsonl
wait_for 60 rows_are north/srv-1 13 || bad "north/srv-1 after north's archive: $(company_rows north/srv-1) rows"
rows_are north/old-1 4 || bad "north's archive removed the company's rows: $(company_rows north/old-1) left"
company_owner=$(value company QZ45_ODBC | sed 's/Uid=qz45_shipper;Pwd=[^;]*;/Uid=qz45_admin;Pwd='"$(value company PGPASSWORD)"';/')
run archive --odbc "$company_owner" --before "$before" plants_archive_company
expect 0 "4 line(s) of 1 machine(s) archived in plants_archive_company" "the company's archive of last month"
rows_are north/old-1 0 || bad "the company's archive left $(company_rows north/old-1) rows of north/old-1"
run verify "plants_archive_company/north%2Fold-1/audit-trail.jsonl"
expect 0 "^4 lines, chain intact" "the company's archive verified offline"
run verify --odbc "$company_auditor" --machine north/old-1
expect 0 "^north/old-1: lines 1-4 archived" "the company's verify after its archive"

rm -rf plants_archive_north plants_archive_company plants_north.jsonl plants_south.jsonl plants_old.jsonl
if [ $fail -ne 0 ]; then
    echo "odbc plants: FAILED (log in $bin/$log)"
    exit 1
fi
echo "odbc plants: ok"
