#!/usr/bin/env bash
# The review page's server end to end, qz45trail review under Wine over the
# private PostgreSQL: it listens on a loopback address of its own and its
# token reaches no other local server (review_server.py, in headless
# Chromium); a request naming another Host is refused; over-long addresses
# and headers get 414 and 431; and while a table lock holds up the events
# page, the style sheet, a 403 and a 404 answer at once and the events page
# says that the database did not answer in time; --listen still chooses the
# address.
# Usage: review_server.sh BIN_DIR POSTGRES_DIR
set -u
bin=$1 pgdir=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/review_start.sh"
out=review_server.out

start_page $out --odbc-env QZ45_ODBC_REVIEWER --port 0 --query-timeout 2
at=$(printf '%s' "$url" | sed 's|^http://\([^/]*\)/.*|\1|')
host=${at%:*} port=${at##*:}
token=${url##*token=}
echo "the page is at $at"

# An address of its own, and nothing on 127.0.0.1.
case "$host" in 127.0.0.1 | [!1]* | 1[!2]* | 12[!7]*) bad "the page chose $host" ;; esac
listening=$(ss -ltnH "sport = :$port" | awk '{print $4}')
[ "$listening" = "$at" ] || bad "listening on '$listening', not on $at alone"

# status URL [curl options]: the status, the body in body.txt; curl must end
# well (the answer read whole, the connection closed cleanly).
status() {
    local u=$1
    shift
    curl -s -m 10 -o body.txt -w '%{http_code}' "$@" "$u" || echo " (curl ended with $?)"
}
expect() {  # expect WANT WORDS URL [curl options]
    local want=$1 words=$2
    shift 2
    local got
    got=$(status "$@")
    [ "$got" = "$want" ] || bad "$1 ${*:2:2}: got $got, not $want"
    grep -q -F "$words" body.txt || bad "$1: the answer does not say '$words': $(head -c 200 body.txt)"
}
c="qz45review=$token"

# The Host must name the address served, with its port.
expect 421 "Misdirected" "http://$at/" -b "$c" -H "Host: 127.0.0.1:$port"
expect 421 "Misdirected" "http://$at/" -b "$c" -H "Host: localhost:$port"
expect 421 "Misdirected" "http://$at/" -b "$c" -H "Host: $host"
expect 421 "Misdirected" "http://$at/style.css" -b "$c" -H "Host: attacker.example:$port"
expect 200 "<h1>" "http://$at/" -b "$c"

# Over-long: the address (past the header limit, and within it) and the headers.
long=$(head -c 100000 /dev/zero | tr '\0' a)
expect 414 "414 URI Too Long" "http://$at/?q=$long" -b "$c"
expect 414 "414 URI Too Long" "http://$at/?q=${long:0:9000}" -b "$c"
expect 431 "431 Request Header Fields Too Large" "http://$at/" -b "$c" -H "X-Filler: ${long:0:20000}"
many=()
for i in $(seq 40); do many+=(-H "X-Filler-$i: ${long:0:600}"); done
expect 431 "431 Request Header Fields Too Large" "http://$at/" -b "$c" "${many[@]}"
expect 200 "<h1>" "http://$at/?q=${long:0:2000}" -b "$c"

# A table lock holds up the events page: the rest answers at once, and the
# events page says, after the time-out, that the database did not answer.
psql -X -q -c "BEGIN; LOCK TABLE audit_trail IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(15); COMMIT;" >/dev/null &
locker=$!
for _ in $(seq 100); do
    [ "$(psql -X -q -t -A -c "SELECT count(*) FROM pg_locks l JOIN pg_class c ON c.oid = l.relation
        WHERE c.relname = 'audit_trail' AND l.mode = 'AccessExclusiveLock' AND l.granted")" = 1 ] && break
    sleep 0.1
done
curl -s -m 30 -o events.txt -w '%{http_code} %{time_total}' -b "$c" "http://$at/events" >events.status &
events=$!
sleep 0.5
for case in "200 /style.css $c" "403 /events qz45review=wrong" "404 /nowhere $c" "303 /?token=$token x=y"; do
    read -r want path cookie <<<"$case"
    got=$(curl -s -m 10 -o /dev/null -w '%{http_code} %{time_total}' -b "$cookie" "http://$at$path")
    read -r code secs <<<"$got"
    [ "$code" = "$want" ] || bad "$path during the lock: got $code, not $want"
    awk -v s="$secs" 'BEGIN { exit !(s < 1) }' || bad "$path took $secs s during the lock"
    echo "$path during the lock: $code in $secs s"
done
wait $events
read -r code secs <events.status
echo "/events during the lock: $code in $secs s"
[ "$code" = 503 ] || bad "the events page during the lock got $code, not 503"
awk -v s="$secs" 'BEGIN { exit !(s >= 1.5 && s < 10) }' || bad "the events page took $secs s, not about 2"
grep -q "the database did not answer within 2 s" events.txt ||
    bad "the events page does not say it timed out: $(grep -o '<p class="error">[^<]*' events.txt)"
wait $locker
expect 200 "<h1>" "http://$at/events" -b "$c"

/usr/bin/python3 "$here/review_server.py" "$url" || fail=1

stop_page $pid

# --listen still chooses the address; on 127.0.0.1 the page says what that costs.
start_page $out --odbc-env QZ45_ODBC_REVIEWER --port 0 --listen 127.0.0.1
case "$url" in http://127.0.0.1:*/?token=*) ;; *) bad "with --listen 127.0.0.1 the page is at '$url'" ;; esac
grep -q "NOTE: on 127.0.0.1 the browser sends the page's cookie to every other server" $out ||
    bad "no note about 127.0.0.1: $(cat $out)"
[ -n "$url" ] && expect 200 "<h1>" "${url%%/\?*}/" -b "qz45review=${url##*token=}"
stop_page $pid
rm -f $out body.txt events.txt events.status
[ $fail -eq 0 ] && echo "review server: all checks passed"
exit $fail
