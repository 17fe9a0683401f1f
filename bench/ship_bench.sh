#!/usr/bin/env bash
# How fast a trail goes into the database and is checked there: a trail of
# LINES chained lines, shipped by qz45trail under Wine into a private
# PostgreSQL server, checked there (verify --odbc) and as a file (verify
# FILE), and the same lines loaded by the server's own COPY into a scratch
# table with the same key (machine, line_no) and the line as text,
# all in one run. Prints figures; it is not a test and checks only what the
# figures need (every line shipped, every chain intact, every row copied).
#
#   bench/ship_bench.sh BUILD_DIR [LINES] [--quick] [--keep]
#
# BUILD_DIR   the build tree of the 64-bit tier (build/win64): its qz45trail.exe
#             and wine-run are used, the server lives in BUILD_DIR/ship-bench-postgres
# LINES       lines of the trail, 100000 by default
# --quick     5000 lines: a run of well under a minute
# --keep      leave the PostgreSQL server running afterwards
#
# The trail is written by bench/trail_lines.py, much faster than the
# service: lines as the service writes them (members in order, a ChangeEvent
# for most, non-ASCII users and messages among them, 550-800 bytes), chained
# with prev and hash, kept in the server's folder (a file for each LINES) and
# made anew only when the generator changes. The server is made anew on each
# run, so that the shipper finds empty tables; before each timed step the
# server writes out what it holds (CHECKPOINT), and the rows shipped are
# vacuumed before they are checked, as rows a while in the table are. Rates
# are lines (rows) per second of wall-clock time of the whole command, Wine's
# start-up and the connection included (what they take alone is printed too),
# and as a share of COPY's rate, which compares across machines better than
# the rate does.
set -euo pipefail
export LC_ALL=C.UTF-8

usage() { echo "usage: ship_bench.sh BUILD_DIR [LINES] [--quick] [--keep]" >&2; exit 2; }
keep=0 quick=0
args=()
for a in "$@"; do
    case "$a" in
    --keep) keep=1 ;;
    --quick) quick=1 ;;
    -*) usage ;;
    *) args+=("$a") ;;
    esac
done
[ ${#args[@]} -ge 1 ] && [ ${#args[@]} -le 2 ] || usage
build=$(cd "${args[0]}" && pwd)
lines=${args[1]:-100000}
[ "$quick" = 1 ] && [ ${#args[@]} = 1 ] && lines=5000
[[ "$lines" =~ ^[0-9]+$ ]] && [ "$lines" -ge 1000 ] || { echo "ship_bench.sh: LINES must be a number of 1000 or more" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$build/ship-bench-postgres
exe=$build/bin/qz45trail.exe
W=$build/wine-run
[ -f "$exe" ] || { echo "ship_bench.sh: $exe is missing (cmake --build --preset win64 --target qz45trail)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "ship_bench.sh: python3 is needed to generate the trail" >&2; exit 1; }
export QZ45_WINEPREFIX=${QZ45_WINEPREFIX:-$build/wineprefix}
export PSQLRC=/dev/null
machine=bench-a
trail=bench-$lines.jsonl
# Raised with each change of bench/trail_lines.py, so that an older trail is made anew.
generator=1

now() { date +%s.%N; }
q() { psql -X -q -t -A -v ON_ERROR_STOP=1 -c "$1"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }'; }

# --- the server ------------------------------------------------------------------

bash "$root/scripts/postgres.sh" init "$dir" amd64
. "$dir/env"
# A Windows program idling meanwhile (for half an hour at most) keeps Wine up
# between the runs, so that none of them pays for Wine's start.
"$W" ping -n 1800 127.0.0.1 >/dev/null 2>&1 &
idle=$!
finish() {
    kill "$idle" 2>/dev/null || true
    [ "$keep" = 1 ] || bash "$root/scripts/postgres.sh" stop "$dir"
}
trap finish EXIT
"$W" "$exe" schema --shipper qz45_shipper --auditor qz45_auditor --reviewer qz45_reviewer |
    tr -d '\r' | psql -X -q -v ON_ERROR_STOP=1 -f -
cd "$dir"

# --- the trail ---------------------------------------------------------------------

if [ ! -f $trail ] || [ "$(cat $trail.generator 2>/dev/null)" != "$generator" ]; then
    echo "generating a trail of $lines lines ..."
    python3 "$root/bench/trail_lines.py" "$lines" "$trail"
    echo "$generator" >$trail.generator
fi
[ "$(wc -l <$trail)" = "$lines" ] || { echo "ship_bench.sh: $trail does not have $lines lines" >&2; exit 1; }
bytes=$(wc -c <$trail)
# What COPY reads: machine, line number, the line, each field between bytes
# that no JSON line holds.
awk -v m="$machine" 'BEGIN { OFS = "\002" } { print m, NR, "\001" $0 "\001" }' \
    $trail >bench.copy

# --- the runs ----------------------------------------------------------------------

# run NAME ARGS...: qz45trail with ARGS, timed; sets $t (seconds) and $out.
run() {
    local name=$1 t0 t1 code=0
    shift
    t0=$(now)
    out=$("$W" "$exe" "$@" 2>&1) || code=$?
    t1=$(now)
    out=$(printf '%s' "$out" | tr -d '\r')
    t=$(seconds "$t0" "$t1")
    if [ "$code" != 0 ]; then
        echo "ship_bench.sh: $name exited with $code:" >&2
        printf '%s\n' "$out" | head -20 >&2
        exit 1
    fi
}
expect() {
    printf '%s\n' "$out" | grep -q -- "$1" || {
        echo "ship_bench.sh: $2 did not print \"$1\":" >&2
        printf '%s\n' "$out" | head -20 >&2
        exit 1
    }
}

# Wine's start-up and the connection: a check of a machine the database does
# not hold (which fails, saying so).
t0=$(now)
out=$("$W" "$exe" verify --odbc-env QZ45_ODBC --machine nobody 2>&1 | tr -d '\r' || true)
startup=$(seconds "$t0" "$(now)")
expect "^nobody: no lines in the database" "the check of an unknown machine"

# Each timed step starts with what the server wrote before it on disk, so that
# none pays for the one before.
settle() { PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -v ON_ERROR_STOP=1 -c "CHECKPOINT"; }

settle
run ship ship --odbc-env QZ45_ODBC $trail --machine $machine
expect "machine $machine: $lines line(s) shipped, 0 already present" ship
ship_t=$t
ship_own=$(printf '%s\n' "$out" | sed -n 's/.*(\([0-9]*\) lines\/s)$/\1/p')
q "VACUUM (ANALYZE) audit_trail, audit_trail_shipments"
settle
run "verify --odbc" verify --odbc-env QZ45_ODBC --machine $machine
expect "^$machine: $lines lines, chain intact" "verify --odbc"
verify_odbc_t=$t
run "verify FILE" verify $trail
expect "^$lines lines, chain intact$" "verify FILE"
verify_file_t=$t

q "CREATE TABLE bench_copy (machine text NOT NULL, line_no bigint NOT NULL, line_text text NOT NULL,
       PRIMARY KEY (machine, line_no))"
settle
t0=$(now)
psql -X -q -v ON_ERROR_STOP=1 \
    -c "\\copy bench_copy FROM 'bench.copy' WITH (FORMAT csv, DELIMITER E'\\002', QUOTE E'\\001')"
copy_t=$(seconds "$t0" "$(now)")
[ "$(q "SELECT count(*) FROM bench_copy")" = "$lines" ] || { echo "ship_bench.sh: COPY did not load $lines rows" >&2; exit 1; }
rm -f bench.copy

# The trigram index's share of shipping: the tables made again without it,
# the trail shipped again.
PGUSER=qz45_super PGPASSWORD=$QZ45_SUPER_PW psql -X -q -v ON_ERROR_STOP=1 \
    -c "DROP TABLE audit_trail, audit_trail_shipments, audit_reviews, audit_trail_archives CASCADE"
"$W" "$exe" schema --shipper qz45_shipper --auditor qz45_auditor --reviewer qz45_reviewer |
    tr -d '\r' | grep -v 'pg_trgm\|_message ON' | psql -X -q -v ON_ERROR_STOP=1 -f - >/dev/null
settle
run "ship, no trigram index" ship --odbc-env QZ45_ODBC $trail --machine $machine
expect "machine $machine: $lines line(s) shipped, 0 already present" "ship without the trigram index"
ship_plain_t=$t

pg_version=$(q "SHOW server_version" | awk '{print $1}')
cat <<EOF

== a trail of $lines lines ($(awk -v b="$bytes" 'BEGIN { printf "%.1f MB", b / 1048576 }')) into the database and back ==
x86-64 under Wine, PostgreSQL $pg_version on the same machine ($(nproc) cores, default settings)
wall-clock time of each command; a qz45trail run that only starts and connects takes ${startup} s
EOF
row() {
    printf '  %-44s %8s s %10s lines/s %6s of COPY\n' "$1" "$2" "$(rate "$lines" "$2")" \
        "$(awk -v a="$2" -v c="$copy_t" 'BEGIN { printf "%.2f", (a > 0 ? c / a : 0) }')"
}
row "ship (batches of 500, each one transaction)" "$ship_t"
row "ship without the message's trigram index" "$ship_plain_t"
row "verify --odbc (the stored rows)" "$verify_odbc_t"
row "verify FILE (the chain in the file)" "$verify_file_t"
row "COPY into (key, text), by psql" "$copy_t"
echo "  ship's own figure, from its connection on: $ship_own lines/s"
