#!/usr/bin/env bash
# The company's store of two plants: how far it lags behind a plant that
# ships at its full rate, and how fast the company's review page answers over
# both plants' rows. Two plant servers and the company's, private, on
# loopback (scripts/postgres.sh), set up with audit_trail_setup.sql and
# audit_trail_company.sql. Prints figures; it is not a test, and checks only
# what the figures need (every row arrived, every chain intact).
#
#   bench/plants_bench.sh BUILD_DIR [LINES] [--quick]
#
# BUILD_DIR   the build tree of the 64-bit tier (build/win64): its qz45trail.exe
#             and wine-run; the servers live in BUILD_DIR/plants-bench
# LINES       lines each plant ships, 100000 by default (bench/trail_lines.py)
# --quick     2000 lines: a run of about a minute
#
# South ships its trail first, and the company catches up; then north ships
# its own while the rows each side holds are counted every 0.2 s: the lag is
# how many of north's rows the company lacked, at most, and how long after
# north's last commit the company had them all.
set -euo pipefail
export LC_ALL=C.UTF-8

usage() { echo "usage: plants_bench.sh BUILD_DIR [LINES] [--quick]" >&2; exit 2; }
quick=0
args=()
for a in "$@"; do
    case "$a" in
    --quick) quick=1 ;;
    -*) usage ;;
    *) args+=("$a") ;;
    esac
done
[ ${#args[@]} -ge 1 ] && [ ${#args[@]} -le 2 ] || usage
build=$(cd "${args[0]}" && pwd)
lines=${args[1]:-100000}
[ "$quick" = 1 ] && [ ${#args[@]} = 1 ] && lines=2000
[[ "$lines" =~ ^[0-9]+$ ]] && [ "$lines" -ge 1000 ] || { echo "plants_bench.sh: LINES must be a number of 1000 or more" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$build/plants-bench
exe=$build/bin/qz45trail.exe
W=$build/wine-run
[ -f "$exe" ] || { echo "plants_bench.sh: $exe is missing (cmake --build --preset win64 --target qz45trail)" >&2; exit 1; }
export QZ45_WINEPREFIX=${QZ45_WINEPREFIX:-$build/wineprefix}
export PSQLRC=/dev/null
company_sql=$root/packaging/audit_trail_company.sql
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# --- the servers -----------------------------------------------------------------

mkdir -p "$dir"
for s in north south company; do
    bash "$root/scripts/postgres.sh" init "$dir/$s" amd64 >/dev/null
done
value() { (. "$dir/$1/env" && eval "printf '%s' \"\$$2\""); }
on() { (. "$dir/$1/env" && psql -X -q -t -A -v ON_ERROR_STOP=1 -c "$2"); }
su() {
    local s=$1
    shift
    (. "$dir/$s/env" && PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -t -A -v ON_ERROR_STOP=1 "$@")
}
"$W" ping -n 1800 127.0.0.1 >/dev/null 2>&1 &
idle=$!
finish() {
    kill "$idle" 2>/dev/null || true
    [ -z "${page:-}" ] || kill "$page" 2>/dev/null || true
    for s in north south company; do bash "$root/scripts/postgres.sh" stop "$dir/$s"; done
}
trap finish EXIT
pw=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
for s in north south company; do
    (. "$dir/$s/env" && psql -X -q -f "$root/packaging/audit_trail_setup.sql" >/dev/null)
done
for s in north south; do
    su $s -v side=plant -v company_password="$pw" -f "$company_sql" >/dev/null
    bash "$root/scripts/postgres.sh" stop "$dir/$s"
    bash "$root/scripts/postgres.sh" start "$dir/$s"
done
su company -v side=company -f "$company_sql" >/dev/null
for s in north south; do
    su company -v side=company -v plant=$s -v since=2026-01-01 \
        -v conninfo="host=127.0.0.1 port=$(value $s PGPORT) dbname=qz45_audit user=qz45_company password=$pw" \
        -f "$company_sql" >/dev/null
done
export ODBCSYSINI=$(value north ODBCSYSINI) ODBCINI=$(value north ODBCINI)

# --- the trail ---------------------------------------------------------------------

trail=$dir/trail-$lines.jsonl
[ -f "$trail" ] || { echo "generating a trail of $lines lines ..."; python3 "$root/bench/trail_lines.py" "$lines" "$trail"; }
cd "$dir"
trail=$(basename "$trail")
at_company() { on company "SELECT count(*) FROM audit_trail WHERE machine LIKE '$1/%'"; }
wait_all() {
    local tries=0
    until [ "$(at_company "$1")" = "$lines" ]; do
        tries=$((tries + 1))
        [ $tries -lt 6000 ] || { echo "plants_bench.sh: $1's rows did not all reach the company" >&2; exit 1; }
        sleep 0.1
    done
}

# --- south, then north at its full rate, counted on both sides ------------------------

t0=$(now)
"$W" "$exe" ship --odbc "$(value south QZ45_ODBC)" "$trail" --machine bench-a >/dev/null
south_ship=$(seconds "$t0" "$(now)")
wait_all south
south_all=$(seconds "$t0" "$(now)")

"$W" "$exe" ship --odbc "$(value north QZ45_ODBC)" "$trail" --machine bench-a >north.out 2>&1 &
shipper=$!
start=$(now) samples=lag.samples
: >$samples
while kill -0 $shipper 2>/dev/null; do
    # The company's count first: north's, read after it, can only be
    # higher than it was then, so the difference is at most the lag.
    company=$(at_company north)
    plant=$(on north "SELECT count(*) FROM audit_trail")
    echo "$(seconds "$start" "$(now)") $plant $company" >>$samples
    sleep 0.2
done
wait $shipper || { echo "plants_bench.sh: north's ship failed:" >&2; cat north.out >&2; exit 1; }
shipped=$(now)
wait_all north
after=$(seconds "$shipped" "$(now)")
north_ship=$(seconds "$start" "$shipped")
behind=$(awk '{ if ($2 - $3 > m) { m = $2 - $3; t = $1 } } END { if (m > 0) printf "%d rows (%.1f s into the ship)", m, t; else print "0 rows" }' $samples)
rate=$(awk -v n="$lines" -v s="$north_ship" 'BEGIN { printf "%.0f", n / s }')

verify_t0=$(now)
out=$("$W" "$exe" verify --odbc "$(value company QZ45_ODBC_AUDITOR)" 2>&1 | tr -d '\r')
verify_t=$(seconds "$verify_t0" "$(now)")
[ "$(printf '%s\n' "$out" | grep -c ": $lines lines, chain intact")" = 2 ] ||
    { echo "plants_bench.sh: the company's chains:" >&2; printf '%s\n' "$out" >&2; exit 1; }

# --- the company's review page over both plants' rows -------------------------------

on company "VACUUM (ANALYZE) audit_trail" >/dev/null
export QZ45_ODBC_COMPANY=$(value company QZ45_ODBC_REVIEWER)
"$W" "$exe" review --odbc-env QZ45_ODBC_COMPANY --port 0 >page.out 2>&1 &
page=$!
url=
for _ in $(seq 300); do
    url=$(grep -o 'http://[^ ]*' page.out 2>/dev/null | tr -d '\r') && [ -n "$url" ] && break
    sleep 0.1
done
[ -n "$url" ] || { echo "plants_bench.sh: the page did not start:" >&2; cat page.out >&2; exit 1; }
base=$(printf '%s' "$url" | sed 's|^\(http://[^/]*\)/.*|\1|')
curl -s -o /dev/null -c cookies "$url"
descriptor=$(on company "SELECT descriptor FROM audit_trail WHERE category = 301 GROUP BY 1 ORDER BY count(*) DESC LIMIT 1")
# time_page WHAT PATH: fetched once to warm up, then 5 times; the median and
# the slowest.
time_page() {
    local times
    curl -s -o /dev/null -b cookies "$base$2"
    times=$(for _ in 1 2 3 4 5; do curl -s -o /dev/null -b cookies -w '%{time_total}\n' "$base$2"; done | sort -n)
    printf '  %-46s median %5.0f ms, slowest %5.0f ms\n' "$1" \
        "$(printf '%s\n' "$times" | sed -n 3p | awk '{ print $1 * 1000 }')" \
        "$(printf '%s\n' "$times" | tail -1 | awk '{ print $1 * 1000 }')"
}
period="from=2026-01-01T00:00&to=2026-01-08T00:00"

pg_version=$(on company "SHOW server_version" | awk '{print $1}')
cat <<EOF

== two plants, $lines lines each, in the company's database ==
x86-64 under Wine, PostgreSQL $pg_version: three servers on the same machine ($(nproc) cores, default settings)
  south shipped                               ${south_ship} s; the company had every row ${south_all} s after south began
  north shipped at its full rate              ${north_ship} s, ${rate} lines/s
  the company behind north, at most           ${behind}, in $(wc -l <$samples) counts
  the company had all of north's rows         ${after} s after north's last commit
  verify --odbc at the company (2 machines)   ${verify_t} s
the company's review page over $((2 * lines)) rows (curl time_total):
EOF
time_page "/ (the newest 100)" "/"
time_page "/?machine=north/bench-a" "/?machine=north%2Fbench-a"
time_page "/ user müller, a week" "/?user=m%C3%BCller&$period"
time_page "/overview, a week" "/overview?$period"
time_page "/history $descriptor, both plants" "/history?descriptor=$descriptor"
