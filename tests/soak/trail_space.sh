#!/bin/sh
# The trail on a volume that fills up: an 8 MiB tmpfs, mapped as a drive of
# the test's Wine prefix, with warning level 6 MiB and floor 3 MiB. Above the
# warning level events are stored and nothing is said. Below it they are
# still stored, and one warning reaches the event log however many events
# and processes (some side by side) write; once the record beside the trail
# says that the last warning is over an hour old and the last sample ten
# minutes old, the next event brings one more, with the rate and the time
# left. Below the floor a send fails with ERROR_DISK_FULL and leaves the
# trail as it was; with room again the next event is stored. At the end the
# trail holds whole JSON lines only and its chain holds.
# Usage: trail_space.sh BIN_DIR (as root: it mounts the volume)
# WINE_RUN: the Wine runner; QZ45_WINEPREFIX: its prefix.
set -u
bin=$1
cd "$bin" || exit 1
prefix=${QZ45_WINEPREFIX:?the Wine prefix (QZ45_WINEPREFIX) is not set}
command -v python3 >/dev/null || { echo "trail space: python3 is needed to parse the trail"; exit 1; }

vol= mounted= drive=
cleanup() {
    [ -n "$drive" ] && rm -f "$prefix/dosdevices/$drive:"
    [ -n "$mounted" ] && { umount "$vol" 2>/dev/null || umount -l "$vol"; }
    [ -n "$vol" ] && rmdir "$vol"
    rm -f trail_space_*.out trail_space_*.log
}
trap cleanup EXIT
trap 'exit 2' HUP INT TERM

"$WINE_RUN" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
vol=$(mktemp -d /tmp/qz45-trail-space.XXXXXX) || exit 1
if ! mount -t tmpfs -o size=8m tmpfs "$vol" 2>trail_space_mount.log; then
    printf 'trail space: cannot mount an 8 MiB tmpfs at %s as %s: %s\n' "$vol" "$(id -un)" "$(cat trail_space_mount.log)"
    echo "trail space: the test makes its small volume with mount(8), which needs root"
    exit 1
fi
mounted=1
for letter in q p o n m l k j i h g; do
    if ln -s "$vol" "$prefix/dosdevices/$letter:" 2>/dev/null; then drive=$letter; break; fi
done
[ -n "$drive" ] || { echo "trail space: no free drive letter in $prefix/dosdevices"; exit 1; }

trail=$vol/audit-trail.jsonl
export QZ45_AUDIT_TRAIL="$drive:\\audit-trail.jsonl"
export QZ45_AUDIT_TRAIL_WARN_MB=6 QZ45_AUDIT_TRAIL_FLOOR_MB=3
export WINEDEBUG=-all,err+eventlog,warn+eventlog
unset QZ45_AUDIT_TRAIL_ROTATE_KB QZ45_AUDIT_TRAIL_ROTATE_DAILY
printf 'trail space: %s on an 8 MiB tmpfs at %s\n' "$QZ45_AUDIT_TRAIL" "$vol"

fail=0
bad() { printf 'trail space: FAILED: %s\n' "$*"; fail=1; }
free_bytes() { df -B1 --output=avail "$vol" | tail -n 1 | tr -d ' '; }
fill() { dd if=/dev/zero of="$vol/$1" bs=512K count="$2" 2>/dev/null || bad "cannot fill $1"; }
# send NAME ARGS...: one qz45event process; what it prints in
# trail_space_NAME.out, its failures and event-log lines in
# trail_space_NAME.log.
send() {
    name=$1
    shift
    "$WINE_RUN" qz45event.exe send --type Startup --user operator --domain PLANT "$@" \
        >"trail_space_$name.out" 2>"trail_space_$name.log"
    echo $? >>"trail_space_$name.out"
}
# stored NAME: the process stored its events and exited 0.
stored() {
    tr -d '\r' <"trail_space_$1.out" | grep -q 'status EVT_SUCCESS (0)' &&
        [ "$(tail -n 1 "trail_space_$1.out")" = 0 ] ||
        bad "$1: not stored: $(tr -d '\r' <"trail_space_$1.out" | tr '\n' ' ')"
}
warnings() { cat trail_space_*.log | grep 'warn:eventlog:ReportEventW' | tr -d '\r'; }
expect_warnings() {
    got=$(warnings | wc -l)
    [ "$got" -eq "$1" ] || { bad "$2: $got warning(s) in the event log, expected $1"; warnings; }
}

# Above the warning level.
send above --message "above the warning level"
stored above
expect_warnings 0 "above the warning level"
echo "trail space: $(free_bytes) bytes free: stored, no warning"

# Below it: three processes side by side, one of them sending three events,
# then one more.
fill fill1 6
send low1 --message "below the warning level" --repeat 3 &
p1=$!
send low2 --message "below the warning level, side by side" &
p2=$!
send low3 --message "below the warning level, side by side" &
p3=$!
wait $p1
wait $p2
wait $p3
send low4 --message "below the warning level, later"
for n in low1 low2 low3 low4; do stored $n; done
expect_warnings 1 "6 events from 4 processes below the warning level"
warnings | grep -q 'low on space: 4\.[0-9] MB free (warning below 6\.0 MB, events refused below 3\.0 MB)\. No rate yet' ||
    { bad "the first warning does not say what is left and that no rate is known yet"; warnings; }
echo "trail space: $(free_bytes) bytes free: 6 events from 4 processes stored, $(warnings | wc -l) warning(s)"
warnings | sed 's/^.*ReportEventW /  /'

# An hour later, with a sample from ten minutes ago, and 1 MiB used since.
grep -q '"warned":[1-9]' "$trail.space" || bad "no warning time in $trail.space: $(cat "$trail.space")"
now=$(date +%s)
sed -i "s/\"warned\":[0-9]*/\"warned\":$((now - 3700))/; s/\"sampled\":[0-9]*/\"sampled\":$((now - 600))/" \
    "$trail.space"
fill fill2 2
send hour --message "an hour later"
stored hour
expect_warnings 2 "an hour after the first warning"
# 1 MiB and a few pages of trail in 600 s leave (4 - 3) MiB for about 10 minutes.
tr -d '\r' <trail_space_hour.log | grep -Eq 'At the recent rate of (5\.9|6\.[01]) MB an hour, events are refused in about (9|10|11) minutes\.' ||
    { bad "the second warning does not give the rate and the time left"; cat trail_space_hour.log; }
echo "trail space: $(free_bytes) bytes free: stored an hour on, $(warnings | wc -l) warning(s) in all"
tr -d '\r' <trail_space_hour.log | sed -n 's/^.*warn:eventlog:ReportEventW /  /p'

# Below the floor.
fill fill3 3
before=$(wc -c <"$trail")
send floor --message "refused at the floor"
refusal=$(tr -d '\r' <trail_space_floor.log | grep '^qz45event: status')
printf '%s\n' "$refusal" | grep -q 'status EVT_E_SERVICE (-94), hresult 0x80070070 ERROR_DISK_FULL: .*below its floor' &&
    [ "$(tail -n 1 trail_space_floor.out)" = 1 ] ||
    bad "below the floor: $(tr -d '\r' <trail_space_floor.out trail_space_floor.log | tr '\n' ' ')"
[ "$(wc -c <"$trail")" -eq "$before" ] || bad "a refused line left $(( $(wc -c <"$trail") - before )) bytes"
expect_warnings 2 "a refusal within the hour of the last warning"
echo "trail space: $(free_bytes) bytes free: ${refusal#qz45event: }, trail unchanged"

# Room again.
rm -f "$vol/fill3"
send room --message "room again"
stored room
echo "trail space: $(free_bytes) bytes free: stored again"

# Whole JSON lines only, the refused event not among them, the chain intact.
lines=$(wc -l <"$trail")
[ "$lines" -eq 9 ] || bad "$lines lines in the trail, expected 9"
python3 - "$trail" <<'EOF' || bad "the trail holds something other than whole JSON lines"
import json, sys
data = open(sys.argv[1], "rb").read()
if not data.endswith(b"\n"):
    sys.exit("the last line has no line end")
for n, line in enumerate(data.split(b"\n")[:-1], 1):
    try:
        json.loads(line)
    except ValueError as e:
        sys.exit("line %d: %s" % (n, e))
EOF
! grep -q 'refused at the floor' "$trail" || bad "the refused event is in the trail"
[ ! -e "$trail.torn" ] || bad "a torn line was cut off the trail: $(cat "$trail.torn")"
chain=$("$WINE_RUN" qz45trail.exe verify "$QZ45_AUDIT_TRAIL" 2>&1)
code=$?
chain=$(printf '%s' "$chain" | tr -d '\r')
printf 'trail space: qz45trail verify: %s\n' "$chain"
[ $code -eq 0 ] && printf '%s\n' "$chain" | grep -q 'chain intact' || bad "verify: exit $code"

[ $fail -eq 0 ] && echo "trail space: ok"
exit $fail
