# What the review page's end-to-end tests (review_browser.sh, review_print.sh,
# review_server.sh) begin with, sourced by them with bin, pgdir, here (and
# shots, for screenshots) set: into the binaries' folder with the private
# server's environment, the service registered, the tables set up; bad (a
# failed check), send (an event into $trail at $t0 plus an hour for each one
# sent before), start_page and stop_page.
cd "$bin" || exit 1
[ -f "$pgdir/env" ] || { echo "no PostgreSQL server was started ($pgdir/env is missing)"; exit 1; }
. "$pgdir/env"
export PSQLRC=/dev/null
W=$WINE_RUN
fail=0
bad() { echo "FAIL: $*"; fail=1; }
[ -z "${shots:-}" ] || mkdir -p "$shots"

"$W" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
if [ "$(psql -X -q -t -A -c "SELECT to_regclass('audit_trail') IS NOT NULL")" != t ]; then
    psql -X -q -f "$here/../../packaging/audit_trail_setup.sql" || { echo "the set-up did not apply"; exit 1; }
fi

n=0
send() {
    QZ45_AUDIT_TRAIL=$trail "$W" qz45event.exe send --time $((t0 + 3600 * n)) "$@" >/dev/null 2>&1 ||
        bad "send $*"
    n=$((n + 1))
}

# start_page OUT [ARGS...]: qz45trail review in the background, an hour east
# of UTC, with ARGS (default: the reviewer's connection, a port the system
# picks), its output in OUT; sets pid, url (the address it printed), host and
# port, or fails the test when it does not start.
start_page() {
    local out=$1
    shift
    [ $# -gt 0 ] || set -- --odbc-env QZ45_ODBC_REVIEWER --port 0
    TZ=Europe/Berlin "$W" qz45trail.exe review "$@" >"$out" 2>&1 &
    pid=$!
    url=
    for _ in $(seq 300); do
        url=$(grep -o 'http://[^ ]*' "$out" 2>/dev/null | tr -d '\r')
        [ -n "$url" ] && break
        sleep 0.1
    done
    [ -n "$url" ] || { bad "the page did not start: $(cat "$out")"; kill $pid; exit 1; }
    port=$(printf '%s' "$url" | sed 's|^http://[^:]*:\([0-9]*\)/.*|\1|')
    host=$(printf '%s' "$url" | sed 's|^http://\([^:]*\):.*|\1|')
}

# stop_page [PID]: Ctrl-C (to $pid unless given), after which the program
# must end by itself, with 0.
stop_page() {
    local pid=${1:-$pid} code
    kill -INT $pid
    for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    if kill -0 $pid 2>/dev/null; then
        bad "Ctrl-C did not stop the page"
        kill $pid
    fi
    wait $pid
    code=$?
    [ $code -eq 0 ] || bad "the page ended with $code after Ctrl-C"
}
