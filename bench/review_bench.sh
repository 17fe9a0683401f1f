#!/usr/bin/env bash
# How fast the review page answers over a large trail: ROWS events generated
# straight into a private PostgreSQL server, qz45trail review under Wine in
# front of it, each page fetched with curl and timed. Prints figures; it is
# not a test and checks only what the figures need (status 200, the CSV's row
# count).
#
#   bench/review_bench.sh BUILD_DIR [ROWS] [--keep] [--shots DIR] [--years]
#
# BUILD_DIR   the build tree of the 64-bit tier (build/win64): its qz45trail.exe
#             and wine-run are used, the server lives in BUILD_DIR/review-bench-postgres
# ROWS        events to generate, 1000000 by default; 20000 makes a quick run
# --keep      leave the PostgreSQL server running afterwards
# --years     the run for a store of years (10000000 events): the pages timed
#             while the background check runs its first pass (not waited
#             for, nor a printed copy, nor an edit), then verify --odbc of one
#             machine and the archive of the oldest month (put back after),
#             each in rows per second
# --shots DIR screenshots of the page over the last whole day of the trail
#             (review_shots.py, headless Chromium) into DIR, after the figures
#
# The data is kept: a second run with the same ROWS starts the server again and
# skips the generation. The trail it makes:
#   - 4 machines, each with lines 1..ROWS/4; event_time spread over the 365 days
#     before the generation, rising with the line number; submitted 50-1500 ms
#     later
#   - 50 users in the domains PLANT and LAB, some far busier than others, a few
#     with non-ASCII names
#   - about 2,000 descriptors in 8 kinds, each kind with a few properties; a
#     few descriptors take most of the changes
#   - categories: 301 change (80 %), 401 history change, 203 refused, 205, 201,
#     202, 209; start-ups, shutdowns and audit trail switches rare
#   - line_text a trail line as the service writes it, chained (prev, hash):
#     qz45trail verify --odbc finds every machine's chain intact
#   - shipped_at two seconds after the submission, in the partition of its
#     month, made for the year before the generation
#   - the rows in the order of their times, machines interleaved, as a shipper
#     that follows the trails stores them
#   - a shipment logged every 500 lines of each machine
# Each page is fetched once to warm up, then RUNS times (5); the median and
# the slowest time and the size of the answer are printed. The program checks
# each machine's chain between requests, a step at a time: the first pages
# are timed while it does, and the time until it is done is printed, and the
# time of a printed copy, which waits for a fresh pass over every row.
set -euo pipefail
# Characters, not bytes, in the lengths of texts (${#name}).
export LC_ALL=C.UTF-8

usage() { echo "usage: review_bench.sh BUILD_DIR [ROWS] [--keep] [--shots DIR] [--years]" >&2; exit 2; }
keep=0
years=0
shots=
args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --keep) keep=1 ;;
    --years) years=1 ;;
    --shots) [ $# -ge 2 ] || usage; shots=$(mkdir -p "$2" && cd "$2" && pwd); shift ;;
    -*) usage ;;
    *) args+=("$1") ;;
    esac
    shift
done
[ ${#args[@]} -ge 1 ] && [ ${#args[@]} -le 2 ] || usage
build=$(cd "${args[0]}" && pwd)
rows=${args[1]:-1000000}
[[ "$rows" =~ ^[0-9]+$ ]] && [ "$rows" -ge 4000 ] || { echo "review_bench.sh: ROWS must be a number of 4000 or more" >&2; exit 2; }
runs=${RUNS:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$build/review-bench-postgres
exe=$build/bin/qz45trail.exe
W=$build/wine-run
[ -f "$exe" ] || { echo "review_bench.sh: $exe is missing (cmake --build --preset win64 --target qz45trail)" >&2; exit 1; }
export QZ45_WINEPREFIX=${QZ45_WINEPREFIX:-$build/wineprefix}
export PSQLRC=/dev/null
# Raised with each change of the generator below, so that older data is made anew.
generator=6
marker=$dir/bench-rows

now() { date +%s.%N; }
q() { psql -X -q -t -A -v ON_ERROR_STOP=1 -c "$1"; }
# A UTC timestamp from the database as this machine's local time, the way the
# page's form gives it ("2026-12-08T10:15").
local_minute() { date -d "$1 UTC" +%Y-%m-%dT%H:%M; }
urlencode() {
    local s=$1 out= c i
    local LC_ALL=C
    for ((i = 0; i < ${#s}; i++)); do
        c=${s:i:1}
        case "$c" in
        [A-Za-z0-9._~-]) out+=$c ;;
        *) out+=$(printf '%%%02X' "'$c") ;;
        esac
    done
    printf '%s' "$out"
}

# --- the server and its data ---------------------------------------------------

server_up() { [ -f "$dir/env" ] && (. "$dir/env" && psql -X -q -t -A -c 'SELECT 1' >/dev/null 2>&1); }

if [ -f "$marker" ] && [ "$(cat "$marker")" = "$rows $generator" ] && [ -f "$dir/env" ]; then
    server_up || bash "$root/scripts/postgres.sh" start "$dir"
    . "$dir/env"
    generated="$(cat "$dir/bench-generated" 2>/dev/null || echo "?") (an earlier run)"
    echo "reusing the $rows events in $dir"
else
    bash "$root/scripts/postgres.sh" init "$dir" amd64
    . "$dir/env"
    "$W" "$exe" schema --shipper qz45_shipper --auditor qz45_auditor --reviewer qz45_reviewer |
        tr -d '\r' | psql -X -q -v ON_ERROR_STOP=1 -f -
    echo "generating $rows events ..."
    t0=$(now)
    psql -X -q -v ON_ERROR_STOP=1 -v rows="$rows" <<'SQL'
SET work_mem = '1GB';
SELECT setseed(0.45) \g /dev/null
-- The chain, as the service makes it: each line's hash over the hash before
-- it and the line's content.
CREATE FUNCTION pg_temp.chain_step(prev text, content text) RETURNS text LANGUAGE sql IMMUTABLE STRICT
    AS $$ SELECT encode(sha256(convert_to(prev || content, 'UTF8')), 'hex') $$;
CREATE AGGREGATE pg_temp.chain(text) (SFUNC = pg_temp.chain_step, STYPE = text,
    INITCOND = '0000000000000000000000000000000000000000000000000000000000000000');
SELECT count(*) FROM generate_series(date_trunc('month', now() AT TIME ZONE 'UTC' - interval '366 days'),
    now() AT TIME ZONE 'UTC', interval '1 month') m WHERE audit_trail_month(m::date) \g /dev/null
INSERT INTO audit_trail (machine, line_no, submitted, user_name, domain_name, category, descriptor,
    property, message, event_time, line_text, replaced, shipped_at)
SELECT machine, line_no, submitted, user_name, domain_name, category, descriptor, property, message,
    event_time, line_text, 0, submitted + interval '2 seconds'
FROM (
    SELECT g, machine, line_no, submitted, event_class, user_name, domain_name, category, descriptor,
        property, message, event_time, old_type, old_value, new_type, new_value, prev_hash, line_hash,
        content || ',"prev":"' || prev_hash || '","hash":"' || line_hash || '"}' AS line_text
    FROM (
        SELECT *, coalesce(lag(line_hash) OVER (PARTITION BY machine ORDER BY line_no), repeat('0', 64)) AS prev_hash
        FROM (
            SELECT *, pg_temp.chain(content || '}')
                OVER (PARTITION BY machine ORDER BY line_no ROWS UNBOUNDED PRECEDING) AS line_hash
            FROM (
    -- The line as the service writes it, its members in order, up to the chain members.
    SELECT *,
        '{"context":{"AppName":"Oskel Zentrova.45","ApplicationId":"{5B2E7C1A-93D4-4F6E-8A71-2C9D0E4B6F38}","Domain":'
        || to_json(domain_name)::text || ',"User":' || to_json(user_name)::text
        || '},"event":"' || event_class
        || '","properties":{"AppKey":"qz45event.exe","Area":"","AuditTrail":true,"Category":' || category
        || ',"Descriptor":' || to_json(descriptor)::text
        || ',"DescriptorType":"' || CASE WHEN descriptor = 'VM' THEN 'DATABASE' ELSE 'RECORD' END
        || '","EventTime":{"date":' || round((extract(epoch FROM event_time) / 86400 + 25569)::numeric, 9)
        || ',"utc":"' || to_char(event_time, 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"') || '"},"Message":'
        || to_json(message)::text
        || CASE WHEN category <> 201 AND new_type IS NOT NULL THEN ',"NewValue":' || new_json ELSE '' END
        || coalesce(',"OldValue":' || old_json, '')
        || ',"Path":"VM/QZ.45/VM","Property":' || to_json(property)::text
        || ',"RefId":"","Severity":0,"Unit":""'
        || CASE WHEN category = 201 THEN ',"Value":' || new_json ELSE '' END
        || '},"submitted":"' || to_char(submitted, 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"') || '"' AS content
    FROM (
        SELECT *,
            CASE WHEN old_type = 'VT_R8' THEN '{"type":"VT_R8","value":' || old_value || '}'
                 WHEN old_type IS NOT NULL THEN '{"type":"' || old_type || '","value":' || to_json(old_value)::text || '}'
            END AS old_json,
            CASE WHEN new_type = 'VT_R8' THEN '{"type":"VT_R8","value":' || new_value || '}'
                 WHEN new_type IS NOT NULL THEN '{"type":"' || new_type || '","value":' || to_json(new_value)::text || '}'
            END AS new_json,
            (event_time + make_interval(secs => 0.05 + 1.45 * r_val))::timestamp(3) AS submitted
        FROM (
            SELECT g, r_val, machine, line_no, event_time, category, user_name, domain_name,
                CASE category WHEN 301 THEN 'ChangeEvent' WHEN 401 THEN 'HistoryChangeEvent'
                     WHEN 206 THEN 'SystemEvent' WHEN 207 THEN 'SystemEvent' WHEN 208 THEN 'SystemEvent'
                     WHEN 209 THEN 'SystemEvent' ELSE 'GeneralEvent' END AS event_class,
                CASE WHEN category IN (206, 207, 208) THEN 'VM'
                     WHEN category = 209 THEN 'TASK' || lpad((d % 40)::text, 2, '0')
                     ELSE kind || (1000 + d) END AS descriptor,
                CASE WHEN category IN (206, 207) THEN 'QZ45 Admin'
                     WHEN category = 208 THEN 'AuditTrail'
                     WHEN category = 209 THEN 'State'
                     WHEN category = 401 THEN 'PV'
                     WHEN category = 205 THEN 'Usable'
                     ELSE property END AS property,
                CASE WHEN category = 401 OR (category = 301 AND value_kind = 'R8') THEN 'VT_R8'
                     WHEN category = 301 THEN 'VT_BSTR' END AS old_type,
                CASE WHEN category = 401 OR (category = 301 AND value_kind = 'R8') THEN old_number::text
                     WHEN category = 301 THEN old_text END AS old_value,
                CASE WHEN category = 401 OR (category = 301 AND value_kind = 'R8') OR category = 201 THEN 'VT_R8'
                     WHEN category = 301 THEN 'VT_BSTR' END AS new_type,
                CASE WHEN category = 201 THEN '0'
                     WHEN category = 401 OR (category = 301 AND value_kind = 'R8') THEN new_number::text
                     WHEN category = 301 THEN new_text END AS new_value,
                CASE category
                     WHEN 301 THEN CASE
                         WHEN property = 'ACL' THEN (ARRAY['operators may write', 'access restricted after audit'])[1 + (g % 2)]
                         WHEN value_kind = 'R8' AND new_number > old_number THEN (ARRAY['set point raised', 'raised for batch ' || (1000 + g % 9000), 'Sollwert erhöht (Durchfluß)', 'limit widened per MOC-' || (100 + g % 400)])[1 + floor(r_msg * 4)::int]
                         WHEN value_kind = 'R8' THEN (ARRAY['set point lowered', 'lowered for batch ' || (1000 + g % 9000), 'output trimmed by hand', 'limit tightened per MOC-' || (100 + g % 400)])[1 + floor(r_msg * 4)::int]
                         ELSE (ARRAY['mode changed for maintenance', 'back to normal operation', 'valve operated by hand'])[1 + floor(r_msg * 3)::int] END
                     WHEN 401 THEN (ARRAY['archive corrected after calibration', 'wrong lab value corrected'])[1 + floor(r_msg * 2)::int]
                     WHEN 203 THEN (ARRAY['write refused: no privilege', 'not allowed in this mode', 'record locked by another user'])[1 + floor(r_msg * 3)::int]
                     WHEN 201 THEN 'record created'
                     WHEN 202 THEN 'record deleted'
                     WHEN 205 THEN (ARRAY['record set usable', 'record set unusable', 'record activated'])[1 + floor(r_msg * 3)::int]
                     WHEN 206 THEN 'database started'
                     WHEN 207 THEN 'database stopped'
                     WHEN 208 THEN 'audit trail enabled'
                     ELSE (ARRAY['task started', 'task stopped', 'snapshot saved', 'upgrade started'])[1 + floor(r_msg * 4)::int]
                END AS message
            FROM (
                SELECT *,
                    CASE WHEN r_cat < 0.8000 THEN 301 WHEN r_cat < 0.8600 THEN 401
                         WHEN r_cat < 0.9000 THEN 203 WHEN r_cat < 0.9300 THEN 205
                         WHEN r_cat < 0.9550 THEN 201 WHEN r_cat < 0.9650 THEN 202
                         WHEN r_cat < 0.9989 THEN 209 WHEN r_cat < 0.9994 THEN 206
                         WHEN r_cat < 0.9999 THEN 207 ELSE 208 END AS category,
                    (ARRAY['operator', 'engineer', 'admin', 'j.schmidt', 'm.meier', 'k.weber', 'müller',
                           'a.fischer', 't.wagner', 's.becker', 'l.hoffmann', 'p.schäfer', 'r.koch', 'n.bauer',
                           'c.richter', 'd.klein', 'e.wolf', 'f.schröder', 'g.neumann', 'h.schwarz',
                           'i.zimmermann', 'o.braun', 'u.krüger', 'v.hofmann', 'w.hartmann', 'b.lange',
                           'y.schmitt', 'z.werner', 'jörg.krause', 'd.meyer', 's.lehmann', 'm.köhler',
                           'h.maier', 'k.huber', 't.kaiser',
                           'lab.admin', 'qa.reviewer', 'ana.sánchez', 'søren.nielsen', 'łukasz.nowak',
                           'chen.wei', '陈伟', 'josé.garcía', 'lab.tech1', 'lab.tech2', 'lab.tech3',
                           'm.rossi', 'e.dubois', 'i.ivanova', 'n.ødegård'])[1 + u] AS user_name,
                    CASE WHEN u < 35 THEN 'PLANT' ELSE 'LAB' END AS domain_name,
                    (ARRAY['FIC', 'TIC', 'LIC', 'PIC', 'AIC', 'XV', 'HS', 'FQI'])[1 + d % 8] AS kind,
                    CASE WHEN r_prop < 0.01 THEN 'ACL'
                         WHEN d % 8 < 5 THEN CASE WHEN r_prop < 0.50 THEN 'SP' WHEN r_prop < 0.70 THEN 'OUT'
                                                  WHEN r_prop < 0.85 THEN 'MODE' WHEN r_prop < 0.93 THEN 'HIALM'
                                                  ELSE 'LOALM' END
                         WHEN d % 8 < 7 THEN CASE WHEN r_prop < 0.60 THEN 'CMD' WHEN r_prop < 0.90 THEN 'MODE'
                                                  ELSE 'INTLK' END
                         ELSE CASE WHEN r_prop < 0.70 THEN 'PRESET' ELSE 'RESET' END END AS property,
                    CASE WHEN r_prop < 0.01 THEN 'ACL'
                         WHEN d % 8 < 5 AND (r_prop < 0.70 OR r_prop >= 0.85) THEN 'R8'
                         WHEN d % 8 = 7 THEN 'R8'
                         ELSE 'TEXT' END AS value_kind,
                    round((r_val * 200)::numeric, 2)::float8 AS old_number,
                    round((r_val * 200 + (r_msg - 0.5) * 20)::numeric, 2)::float8 AS new_number,
                    CASE WHEN r_prop < 0.01 THEN (ARRAY['operators:R', 'operators:RW', 'engineers:RW'])[1 + g % 3]
                         ELSE (ARRAY['AUTO', 'MAN', 'CAS', 'OPEN', 'CLOSE'])[1 + floor(r_msg * 5)::int] END AS old_text,
                    CASE WHEN r_prop < 0.01 THEN (ARRAY['operators:RW', 'engineers:RW', 'operators:R'])[1 + g % 3]
                         ELSE (ARRAY['MAN', 'CAS', 'AUTO', 'CLOSE', 'OPEN'])[1 + floor(r_msg * 5)::int] END AS new_text
                FROM (
                    SELECT g, r_cat, r_prop, r_val, r_msg,
                        (ARRAY['srv-north', 'srv-south', 'srv-east', 'srv-lab'])[1 + g % 4] AS machine,
                        g / 4 + 1 AS line_no,
                        -- The event's time: rising with g, a year up to now.
                        date_trunc('milliseconds', date_trunc('second', now() AT TIME ZONE 'UTC')
                            - interval '365 days' + make_interval(secs => (g + 0.9 * r_time) * 31536000.0 / :rows))
                            ::timestamp(3) AS event_time,
                        least(49, floor(50 * power(r_user, 1.6))::int) AS u,
                        least(1999, floor(2000 * r_desc * r_desc)::int) AS d
                    FROM (
                        SELECT g, random() AS r_cat, random() AS r_user, random() AS r_desc,
                            random() AS r_prop, random() AS r_val, random() AS r_msg, random() AS r_time
                        FROM generate_series(0, :rows - 1) AS g
                    ) r
                ) b
            ) c
        ) e
    ) v
            ) t
        ) h
    ) p
) l
-- In the order a shipper that follows the trails stores the lines.
ORDER BY g;

INSERT INTO audit_trail_shipments (machine, first_line, last_line, last_sha256, shipped_at)
SELECT t.machine, (t.line_no - 1) / 500 * 500 + 1, t.line_no,
       encode(sha256(convert_to(t.line_text, 'UTF8')), 'hex'), t.shipped_at
FROM audit_trail t JOIN (SELECT machine, max(line_no) AS last FROM audit_trail GROUP BY machine) m
    ON m.machine = t.machine
WHERE t.line_no % 500 = 0 OR t.line_no = m.last;

-- What autovacuum does to an insert-only table soon after: done here, so that
-- it does not run during the timings.
VACUUM (ANALYZE) audit_trail;
VACUUM (ANALYZE) audit_trail_shipments;
SQL
    t1=$(now)
    generated="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a }') s"
    echo "$generated" >"$dir/bench-generated"
    echo "$rows $generator" >"$marker"
    echo "generated $rows events in $generated"
fi

pg_version=$(q "SHOW server_version" | awk '{print $1}')
# The trail's bytes on disk, its months' tables, indexes and TOAST together,
# by event and against the event's line.
store_bytes="(SELECT sum(pg_total_relation_size(inhrelid)) FROM pg_inherits
              WHERE inhparent = 'audit_trail'::regclass)"
size=$(q "SELECT pg_size_pretty($store_bytes)")
per_event=$(q "SELECT round($store_bytes / count(*)) || ' bytes an event, '
               || round($store_bytes / sum(octet_length(line_text)), 2) || ' times its line ('
               || round(avg(octet_length(line_text))) || ' bytes)' FROM audit_trail")

# --- what to ask for -------------------------------------------------------------

# Times from the data, not from now, so that reused data asks for the same pages.
utc_minute() { q "SELECT to_char($1, 'YYYY-MM-DD HH24:MI')"; }
end_utc=$(utc_minute "date_trunc('minute', (SELECT max(event_time) FROM audit_trail)) + interval '1 minute'")
from30_utc=$(utc_minute "timestamp '$end_utc' - interval '30 days'")
from7_utc=$(utc_minute "timestamp '$end_utc' - interval '7 days'")
filter_user=müller
filter_rows=$(q "SELECT count(*) FROM audit_trail WHERE user_name = '$filter_user'
                 AND event_time >= '$from30_utc' AND event_time < '$end_utc'")
IFS='|' read -r hist_descriptor hist_property hist_rows < <(
    q "SELECT descriptor, property, count(*) FROM audit_trail GROUP BY 1, 2 ORDER BY 3 DESC, 1, 2 LIMIT 1")
# The CSV: the busiest user from the minute of their 10,000th newest event on
# (all of theirs when they have fewer).
csv_user=$(q "SELECT user_name FROM audit_trail GROUP BY 1 ORDER BY count(*) DESC, 1 LIMIT 1")
csv_from_utc=$(utc_minute "date_trunc('minute', coalesce(
    (SELECT event_time FROM audit_trail WHERE user_name = '$csv_user' ORDER BY event_time DESC OFFSET 9999 LIMIT 1),
    (SELECT min(event_time) FROM audit_trail WHERE user_name = '$csv_user')))")
csv_rows=$(q "SELECT count(*) FROM audit_trail WHERE user_name = '$csv_user' AND event_time >= '$csv_from_utc'")
week_rows=$(q "SELECT count(*) FROM audit_trail WHERE event_time >= '$from7_utc' AND event_time < '$end_utc'")
hist_machines=$(q "SELECT count(DISTINCT machine) FROM audit_trail
                   WHERE descriptor = '$hist_descriptor' AND property = '$hist_property'")
# A page far back, as its "next page" link asks for it: the page and the row
# it continues after (newest first: time, machine, line).
far_page=$((rows / 100 < 9000 ? rows / 100 - 1 : 9000))
far_after=$(q "SELECT to_char(event_time, 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') || ',' || line_no || ',' || machine
               FROM audit_trail ORDER BY event_time DESC, machine DESC, line_no DESC
               OFFSET $(((far_page - 1) * 100 - 1)) LIMIT 1")
# A rare word in "message contains": one batch among 9,000.
rare_word="for batch 4711"
rare_rows=$(q "SELECT count(*) FROM audit_trail WHERE message LIKE '%$rare_word%'")

# --- the page ----------------------------------------------------------------------

out=$dir/review.out
jar=$dir/review.cookies
body=$dir/review.body
"$W" "$exe" review --odbc-env QZ45_ODBC_REVIEWER --port 0 >"$out" 2>&1 &
pid=$!
# On the way out, whatever happened: the page stopped, the server too unless kept.
finish() {
    if kill -0 "$pid" 2>/dev/null; then
        kill -INT "$pid" 2>/dev/null || true
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        if kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
    fi
    [ "$keep" = 1 ] || bash "$root/scripts/postgres.sh" stop "$dir"
}
trap finish EXIT
url=
for _ in $(seq 300); do
    url=$(grep -o 'http://[^ ]*' "$out" 2>/dev/null | tr -d '\r' || true)
    [ -n "$url" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$url" ] || { echo "review_bench.sh: the page did not start:" >&2; cat "$out" >&2; exit 1; }
base=${url%%/\?*}
rm -f "$jar"
code=$(curl -s -o /dev/null -c "$jar" -w '%{http_code}' "$url")
if [ "$code" != 303 ] || ! grep -q qz45review "$jar"; then
    echo "review_bench.sh: the token gave $code and no cookie" >&2
    exit 1
fi
echo "page: $base"

# fetch PATH: one request; sets $t (ms), $bytes and $code, the answer in $body.
fetch() {
    local r
    r=$(curl -s -b "$jar" -o "$body" -w '%{http_code} %{time_total} %{size_download}' "$base$1")
    read -r code t bytes <<<"$r"
    t=$(awk -v s="$t" 'BEGIN { printf "%.0f", s * 1000 }')
    if [ "$code" != 200 ]; then
        echo "review_bench.sh: $1 answered $code:" >&2
        head -c 600 "$body" >&2
        echo >&2
        exit 1
    fi
}
# pad TEXT: TEXT and spaces to 40 characters (printf counts bytes).
pad() { printf '%s%*s' "$1" $((40 - ${#1} > 0 ? 40 - ${#1} : 0)) ''; }
size_text() {
    awk -v b="$1" 'BEGIN { if (b >= 1048576) printf "%.1f MB", b / 1048576; else printf "%.0f KB", b / 1024 }'
}
# measure NAME PATH: one fetch to warm up, then $runs timed; sets $line.
measure() {
    local name=$1 path=$2 times=() sorted
    fetch "$path"
    for _ in $(seq "$runs"); do
        fetch "$path"
        times+=("$t")
    done
    mapfile -t sorted < <(printf '%s\n' "${times[@]}" | sort -n)
    line=$(printf '%s median %5d ms, slowest %5d ms, %8s' "$(pad "$name")" \
        "${sorted[$(((runs - 1) / 2))]}" "${sorted[$((runs - 1))]}" "$(size_text "$bytes")")
    echo "$line"
    results+=("$line")
}

results=()
# Every row is checked in passes on a thread of the page's own: the pages are
# timed while the first runs, and the time until it is done is reported.
overview="/overview?from=$(local_minute "$from7_utc")&to=$(local_minute "$end_utc")"
started=$(date +%s.%N)
fetch "$overview"
line=$(printf '%s %d ms, while the chain is being checked' "$(pad "/overview, last 7 days, first")" "$t")
echo "$line"
results+=("$line")
measure "/ (the newest 100), while checking" "/"
fetch "$overview"
while [ "$years" = 0 ] && grep -q 'checking' "$body"; do
    sleep 1
    fetch "$overview"
done
checked=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')
chain=$( (grep -o 'first bad line [0-9]*\|>intact,' "$body" || true) | tr -d '<>,' | sort | uniq -c |
        awk '{ n = $1; $1 = ""; printf "%s%s x%d", (NR > 1 ? ";" : ""), $0, n }')
if [ "$years" = 0 ]; then
    line=$(printf '%s %d s after the start (%s)' "$(pad "every chain checked")" "$checked" "${chain# }")
    echo "$line"
    results+=("$line")
    # A printed copy waits for a full pass over every stored row that starts
    # after it is asked for: its time is about one pass.
    fetch "/print?user=$(urlencode "$filter_user")&from=$(local_minute "$from30_utc")&to=$(local_minute "$end_utc")"
    line=$(printf '%s %d ms' "$(pad "/print, a fresh check (a full pass)")" "$t")
    echo "$line"
    results+=("$line")
fi
measure "/overview, last 7 days ($week_rows events)" "$overview"
measure "/ (the newest 100)" "/"
measure "/ user $filter_user, 30 days ($filter_rows events)" \
    "/?user=$(urlencode "$filter_user")&from=$(local_minute "$from30_utc")&to=$(local_minute "$end_utc")"
measure "/ page $far_page (rows $(((far_page - 1) * 100 + 1))-$((far_page * 100)))" \
    "/?page=$far_page&after=$(urlencode "$far_after")"
tr -d , <"$body" | grep -q "rows $(((far_page - 1) * 100 + 1))" ||
    echo "NOTE: page $far_page does not say it shows rows from $(((far_page - 1) * 100 + 1))"
measure "/ message contains \"$rare_word\" ($rare_rows)" "/?text=$(urlencode "$rare_word")"
measure "/history $hist_descriptor $hist_property, $hist_machines machines, first 500 of $hist_rows" \
    "/history?descriptor=$(urlencode "$hist_descriptor")&property=$(urlencode "$hist_property")"
# Its next page, by its link.
next=$(grep -o 'id="older" href="[^"]*"' "$body" | sed 's/.*href="//; s/"$//; s/&amp;/\&/g' || true)
if [ -n "$next" ]; then
    measure "/history, its second page" "$next"
    tr -d , <"$body" | grep -q "rows 501" || echo "NOTE: the history's second page does not start at row 501"
fi
measure "/export.csv ($csv_rows rows)" \
    "/export.csv?user=$(urlencode "$csv_user")&from=$(local_minute "$csv_from_utc")"
csv_lines=$(wc -l <"$body")
[ "$csv_lines" = $((csv_rows + 1)) ] ||
    echo "NOTE: the CSV has $csv_lines lines; the database has $csv_rows rows for it, and a header"

if [ -n "$shots" ]; then
    day_end=$(date -d "$(local_minute "$end_utc" | cut -c1-10)" +%Y-%m-%dT00:00)
    day_start=$(date -d "${day_end%T*} - 1 day" +%Y-%m-%dT00:00)
    /usr/bin/python3 "$root/bench/review_shots.py" "$url" "$day_start" "$day_end" \
        "$hist_descriptor" "$hist_property" "$shots"
fi

if [ "$years" = 0 ]; then
# A superuser's edit of one row's message while the page runs: the time until
# the overview names its line, then the row put back as it was.
IFS='|' read -r edit_machine edit_line < <(
    q "SELECT machine, line_no FROM audit_trail WHERE line_no = $((rows / 8)) ORDER BY machine LIMIT 1")
edit_row() {
    q "ALTER TABLE audit_trail DISABLE TRIGGER USER;
       UPDATE audit_trail SET message = $1 WHERE machine = '$edit_machine' AND line_no = $edit_line;
       ALTER TABLE audit_trail ENABLE TRIGGER USER" >/dev/null
}
q "CREATE TABLE IF NOT EXISTS bench_kept_message AS
   SELECT message FROM audit_trail WHERE machine = '$edit_machine' AND line_no = $edit_line" >/dev/null
edited=$(now)
edit_row "'changed by hand'"
shown=
for _ in $(seq 600); do
    fetch "$overview"
    if grep -q "first bad line $edit_line\b" "$body"; then shown=$(now); break; fi
    sleep 0.5
done
edit_row "(SELECT message FROM bench_kept_message)"
q "DROP TABLE bench_kept_message" >/dev/null
if [ -n "$shown" ]; then
    line=$(printf '%s %.0f s' "$(pad "a superuser's edit shown")" \
        "$(awk -v a="$edited" -v b="$shown" 'BEGIN { print b - a }')")
else
    line="$(pad "a superuser's edit shown") NOT within 300 s"
fi
echo "$line"
results+=("$line")

fi

# Ctrl-C: the page ends by itself, with 0.
kill -INT "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
stopped="ended by Ctrl-C"
if kill -0 "$pid" 2>/dev/null; then
    stopped="DID NOT END on Ctrl-C (killed)"
    kill "$pid"
fi
ended=0
wait "$pid" || ended=$?
[ "$ended" = 0 ] || stopped="$stopped, exit code $ended"
echo "page $stopped"

# A store of years: one machine verified, the oldest month archived (and put
# back, so that the data serves the next run).
if [ "$years" = 1 ]; then
    rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.1f s, %.0f rows/s", b - a, n / (b - a) }'; }
    machine_rows=$(q "SELECT count(*) FROM audit_trail WHERE machine = 'srv-north'")
    t0=$(now)
    verified=$("$W" "$exe" verify --odbc-env QZ45_ODBC_AUDITOR --machine srv-north 2>&1 | tr -d '\r' || true)
    t1=$(now)
    printf '%s\n' "$verified" | grep -q '^srv-north: .*chain intact' ||
        echo "NOTE: verify --odbc said: $verified"
    results+=("$(pad "verify --odbc srv-north ($machine_rows rows)") $(rate "$machine_rows" "$t0" "$t1")")
    oldest=$(q "SELECT to_char(min(shipped_at), 'YYYY-MM') FROM audit_trail")
    next=$(date -d "$oldest-01 + 1 month" +%Y-%m)
    month_rows=$(q "SELECT count(*) FROM audit_trail WHERE shipped_at < '$next-01'")
    export QZ45_ODBC_OWNER="${QZ45_ODBC%%;Uid=*};Uid=$PGUSER;Pwd=$PGPASSWORD;"
    rm -rf "$dir/archive"
    t0=$(now)
    archived=$(cd "$dir" && "$W" "$exe" archive --odbc-env QZ45_ODBC_OWNER --before "$next" archive 2>&1 |
               tr -d '\r' || true)
    t1=$(now)
    printf '%s\n' "$archived" | grep -q "^$oldest: .* archived" || echo "NOTE: archive said: $archived"
    results+=("$(pad "archive $oldest ($month_rows rows)") $(rate "$month_rows" "$t0" "$t1"), files $(du -sh "$dir/archive" | cut -f1)")
    "$W" "$exe" restore --odbc-env QZ45_ODBC_OWNER "$oldest" >/dev/null 2>&1 || echo "NOTE: $oldest was not put back"
    rm -rf "$dir/archive"
fi

cat <<EOF

== the review page over $rows events ==
audit_trail: $rows events, $size with its indexes: $per_event;
  4 machines, 50 users (2 domains),
  $(q "SELECT count(DISTINCT descriptor) FROM audit_trail") descriptors, 365 days; generated in $generated
x86-64 under Wine, PostgreSQL $pg_version on the same machine ($(nproc) cores, default settings)
each page fetched once to warm up, then $runs times (curl time_total):
EOF
printf '  %s\n' "${results[@]}"
echo "  CSV: $((csv_lines - 1)) rows + header = $csv_lines lines (wc -l), user $csv_user from $(local_minute "$csv_from_utc")"
echo "  page $stopped"
