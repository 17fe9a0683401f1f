#!/usr/bin/env bash
# The whole road of an event: a caller fills records and sends them through
# the library to the reference audit service, which stores them in an audit
# trail; then the service fails and the library reconnects, reports to the
# event log, and after three failures in a row stops delivering.
#
# Installs what is missing, builds the i686 (win32) tier where this machine
# can execute 32-bit code and the x86-64 (win64) tier where it cannot, and
# runs everything under Wine in a private prefix inside the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ -n "${QZ45_DEMO_TIER:-}" ]; then  # the test suite runs it on a built tier
    tier=$QZ45_DEMO_TIER
    why="the tier under test"
else
    bash scripts/setup.sh
    source scripts/i686.sh
    qz45_check_i686
    if [ "$QZ45_I686_RUNS" = 1 ]; then
        tier=win32
        why="this machine executes 32-bit code"
    else
        tier=win64
        why="$QZ45_I686_WHY"
    fi
    cmake --preset "$tier" >/dev/null
    cmake --build --preset "$tier" --target qz45alarmevent_api qz45event qz45trail \
          qz45_audit_trail >/dev/null
fi
case "$tier" in
    win32) echo "Architecture: i686, the 32-bit DLL and service; $why." ;;
    win64) echo "Architecture: x86-64, the 64-bit DLL and service; $why." ;;
esac

bin="$root/build/$tier/bin"
export QZ45_WINEPREFIX="$root/build/$tier/demo-prefix"
run() { "$root/build/$tier/wine-run" "$@"; }
cd "$bin"

step() { printf '\n== %s\n' "$*"; }
send() {
    # Prints the command as a caller would type it, then its outcome.
    printf '$ qz45event send'
    printf ' %q' "$@"
    printf '\n'

    # A refusal is told on standard error; Wine's event-log lines are not shown.
    run qz45event.exe send "$@" 2>&1 | tr -d '\r' | grep -v ':err:eventlog:' || true
}

step "Registering the reference audit service in the private prefix"
run regsvr32 /s qz45_audit_trail.dll
trail=demo-audit-trail.jsonl
rm -f "$trail"
export QZ45_AUDIT_TRAIL="$trail"
echo "audit trail: $bin/$trail"

step "Sending a representative set of events"
send --type Startup --user operator --domain PLANT --message "database started" --ref-id boot-1
send --type "Create Record" --user engineer --domain PLANT --descriptor FIC101 \
     --property PV --value r8:0 --message "flow controller created"
send --type "Change Record Security" --user admin --domain PLANT --descriptor FIC101 \
     --old "text:operators:R" --new "text:operators:RW" --message "operators may write"
send --type "Change Value" --user operator --domain PLANT --descriptor FIC101 --property SP \
     --old r8:41.5 --new r8:42.25 --area North --unit U2 --message "set point raised"
send --type "Change History Value" --user engineer --domain PLANT --descriptor FIC101 \
     --property PV --history 946684800 --old r8:12.5 --new r8:12.75 --message "archive corrected"
send --type "Write Denied" --user guest --domain PLANT --descriptor FIC101 --property SP \
     --audit-trail 1 --message "write refused: no permission"
echo "(a record that lacks what its type requires is refused before it reaches the service:)"
send --type "Create Record" --user engineer --domain PLANT --message "no record named"

step "The audit trail as the service stored it"
run qz45trail.exe "$trail"

step "The service fails: its audit trail cannot be written"
export QZ45_AUDIT_TRAIL='no-such-directory\trail.jsonl'
echo '$ qz45event send --type Startup ... --repeat 4 --verbose   (one process)'
run qz45event.exe send --type Startup --user operator --domain PLANT \
    --message "shift handover" --repeat 4 --verbose 2>demo-eventlog.txt || true
echo
echo "What qz45event said on standard error:"
tr -d '\r' <demo-eventlog.txt | sed -n 's/^qz45event: /  qz45event: /p'
echo
echo "Event-log entries written by the library (source Zentrova.45, id 8448):"
sed -n 's/^.*err:eventlog:ReportEventW L"\(.*\)"$/  \1/p' demo-eventlog.txt
echo
echo "Sends 1-3 failed in the service (EVT_E_SERVICE); the third entry says that"
echo "delivery stops; send 4 was dropped by the open breaker (the library answered"
echo "EVT_SUCCESS; nothing was sent), and qz45event says so."
