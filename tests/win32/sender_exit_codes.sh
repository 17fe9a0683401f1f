#!/bin/sh
# qz45event's exit codes and words under Wine: 0 success, 1 an event not
# delivered (what failed and what to do, on standard error, even with -q),
# or dropped by the library's open breaker, 2 a bad command line (one line on
# standard error). Texts in any script reach the trail as typed, or are
# refused; the one value of a general event is stored.
# Argument: the folder holding qz45event.exe; WINE_RUN: the Wine runner;
# QZ45_WINEPREFIX: the prefix, whose default trail folder is moved aside and
# put back.
cd "$1" || exit 1
unset QZ45_AUDIT_TRAIL
fail=0
# expect EXIT WORDS ARGS...: the exit code, and words standard error must hold
# ("" for none).
expect() {
    want=$1 words=$2; shift 2
    "$WINE_RUN" qz45event.exe "$@" >out.txt 2>err.txt
    got=$?
    tr -d '\r' <err.txt | grep -v ':err:eventlog:' >err.clean
    if [ "$got" -ne "$want" ]; then
        echo "qz45event $*: exit $got, expected $want"; cat out.txt err.txt; fail=1
    elif [ -n "$words" ] && ! grep -qF -- "$words" err.clean; then
        echo "qz45event $*: standard error lacks '$words':"; cat err.clean; fail=1
    fi
}
lines() { [ "$(wc -l <err.clean)" -eq "$1" ] || { echo "expected $1 line(s) on standard error:"; cat err.clean; fail=1; }; }

expect 0 "" types
grep -q "^26 *201 create *Create Record *User Domain Descriptor Property" out.txt ||
    { echo "types does not show what Create Record requires:"; cat out.txt; fail=1; }
expect 0 "" --help
grep -q "qz45event types" out.txt || { echo "--help does not point to 'qz45event types'"; fail=1; }
expect 2 "--bogus" send --type 4 --bogus
lines 1
expect 2 "unknown event type" send --type "no such type"
expect 2 "types 48 and 49" send --type "Stop QZ45 Task Server"
expect 2 "2024-05-06T07:08:09[.250]Z" send --type 4 --time yesterday
expect 2 "r8" send --type 4 --old r8:abc
expect 2 "give it with --value" send --type "Create Record" --user u --domain d \
    --descriptor FIC101 --property PV --new r8:42.5
expect 1 "lacks Property, which type 26 (Create Record) requires" \
    send --type "Create Record" --user u --domain d --descriptor FIC101
lines 2
expect 1 "lacks Property" send -q --type "Create Record" --user u --domain d --descriptor FIC101
[ -s out.txt ] && { echo "-q printed on standard output:"; cat out.txt; fail=1; }
expect 1 "type 54 is not an event type (1..53)" send --type 54 --user u --domain d
expect 1 "--user holds 300 bytes" send --type 4 --user "$(printf '%0300d' 0)"

# The service: not registered, then a trail whose folder is missing, then the
# default trail in a folder of its own under ProgramData, made when missing.
"$WINE_RUN" regsvr32 /u /s qz45_audit_trail.dll
expect 1 "regsvr32 qz45_audit_trail.dll" send -q --type 4 --user u --domain d
grep -qF "REGDB_E_CLASSNOTREG" err.clean || { echo "no HRESULT name:"; cat err.clean; fail=1; }
"$WINE_RUN" regsvr32 /s qz45_audit_trail.dll || { echo "cannot register the service"; exit 1; }
export QZ45_AUDIT_TRAIL='no-such-directory\trail.jsonl'
expect 1 "create the folder, or set QZ45_AUDIT_TRAIL" send --type 4 --user u --domain d
unset QZ45_AUDIT_TRAIL
grep -qF "hresult 0x80070003 ERROR_PATH_NOT_FOUND" err.clean || { echo "no path-not-found:"; cat err.clean; fail=1; }

# A trail of this test's own, beside the programs.
trail=$PWD/sender-trail.jsonl
rm -f "$trail" "$trail.space"
export QZ45_AUDIT_TRAIL="$trail"
# in_trail TEXT...: each text is in the trail exactly as given.
in_trail() {
    for text in "$@"; do
        grep -qF -- "$text" "$trail" || { echo "the trail lacks '$text':"; cat "$trail"; fail=1; }
    done
}

# The one value of a general event, with --value; qz45trail shows it.
expect 0 "" send --type "Create Record" --user u --domain d --descriptor FIC101 --property PV \
    --value r8:42.5 --ref-id general-value
in_trail '"RefId":"general-value"' '"Value":{"type":"VT_R8","value":42.5}'
"$WINE_RUN" qz45trail.exe "$trail" | tr -d '\r' | grep 'FIC101' | grep -q ' 42\.5 ' ||
    { echo "qz45trail does not show the value 42.5:"; "$WINE_RUN" qz45trail.exe "$trail"; fail=1; }

# Polish, Greek and Japanese reach the trail as typed: qz45event runs with
# UTF-8 as its code page (its manifest, which Wine honours).
user=józef.wiśniewski message='Ζυγός βαθμονομήθηκε' descriptor=測定器-7
expect 0 "" send --type 4 --user "$user" --domain PLANT --message "$message" \
    --descriptor "$descriptor" --ref-id scripts
in_trail "\"User\":\"$user\"" "\"Message\":\"$message\"" "\"Descriptor\":\"$descriptor\""
# Where the code page is not UTF-8 (the same program with its manifest's
# setting made unknown: Wine then takes 1252 from the C locale), each text
# that 1252 cannot hold is refused, named with its option, and nothing is
# sent; a text it holds is sent as typed.
sed 's|>UTF-8</activeCodePage>|>Legcy</activeCodePage>|' qz45event.exe >qz45event-legacy.exe
if cmp -s qz45event.exe qz45event-legacy.exe; then
    echo "qz45event.exe has no UTF-8 activeCodePage in its manifest"; fail=1
fi
lines_before=$(wc -l <"$trail")
legacy_send() {  # WORDS ARGS...
    words=$1; shift
    LC_ALL=C.UTF-8 "$WINE_RUN" qz45event-legacy.exe send --type 4 --domain PLANT "$@" >out.txt 2>err.txt
    got=$?
    tr -d '\r' <err.txt >err.clean
    if [ "$got" -ne 1 ] || ! grep -qF -- "$words" err.clean || ! grep -qF "nothing was sent" err.clean; then
        echo "legacy code page, $*: exit $got, expected 1 and '$words':"; cat out.txt err.clean; fail=1
    fi
}
legacy_send "--user holds U+015B" --user "$user"
legacy_send "--message holds U+0396" --user u --message "$message"
legacy_send "-m holds U+6E2C" --user u -m "$descriptor"
legacy_send "--descriptor holds U+6E2C" --user u --descriptor="$descriptor"
[ "$(wc -l <"$trail")" -eq "$lines_before" ] || { echo "a refused text was sent:"; tail -n 2 "$trail"; fail=1; }
LC_ALL=C.UTF-8 "$WINE_RUN" qz45event-legacy.exe send -q --type 4 --user józef --domain Zürich >out.txt 2>&1 ||
    { echo "the legacy code page refused józef from Zürich:"; cat out.txt; fail=1; }
in_trail '"Domain":"Zürich","User":"józef"'
if grep -q '?' "$trail"; then echo "the trail holds a '?':"; grep '?' "$trail"; fail=1; fi
rm -f qz45event-legacy.exe

# The breaker: with the floor above the free space, every send fails in the
# service; after three in a row the library drops the rest and answers
# success, which qz45event says.
lines_before=$(wc -l <"$trail")
export QZ45_AUDIT_TRAIL_WARN_MB=0 QZ45_AUDIT_TRAIL_FLOOR_MB=1000000000
expect 1 "send 3: that was the third service failure in a row: the library now drops" \
    send --type 4 --user u --domain d --repeat 5 -v
tr -d '\r' <out.txt | grep -q '^send 3: status EVT_E_SERVICE (-94), hresult 0x80070070$' &&
    [ "$(tr -d '\r' <out.txt | grep -c '^send [45]: dropped by the library (it reports success)$')" -eq 2 ] &&
    tr -d '\r' <out.txt | grep -q '^5 events: 0 delivered, 3 failed, 2 dropped; last: dropped' ||
    { echo "--repeat 5 below the floor does not say 3 failed and 2 dropped:"; cat out.txt; fail=1; }
[ "$(wc -l <"$trail")" -eq "$lines_before" ] || { echo "an event was stored below the floor"; fail=1; }

# A floor above the warning level is lowered to it, and the event log says so.
export WINEDEBUG=-all,warn+eventlog QZ45_AUDIT_TRAIL_WARN_MB=1 QZ45_AUDIT_TRAIL_FLOOR_MB=2
expect 0 "QZ45_AUDIT_TRAIL_FLOOR_MB (2.0 MB) is above QZ45_AUDIT_TRAIL_WARN_MB (1.0 MB): the floor is lowered" \
    send --type 4 --user u --domain d
unset WINEDEBUG QZ45_AUDIT_TRAIL_WARN_MB QZ45_AUDIT_TRAIL_FLOOR_MB
rm -f "$trail" "$trail.space"
unset QZ45_AUDIT_TRAIL

folder=$QZ45_WINEPREFIX/drive_c/ProgramData/qz45
aside=$folder.aside-$$
[ -e "$folder" ] && mv "$folder" "$aside"
expect 0 "" send --type 4 --user default-trail --domain d
[ "$(grep -c '"User":"default-trail"' "$folder/audit-trail.jsonl" 2>/dev/null)" = 1 ] ||
    { echo "the default trail $folder/audit-trail.jsonl lacks the event"; fail=1; }
rm -f "$folder/audit-trail.jsonl"
if rmdir "$folder"; then
    [ -e "$aside" ] && mv "$aside" "$folder"
else
    echo "the default trail folder holds more than the test's trail"; ls -la "$folder"; fail=1
fi

rm -f out.txt err.txt err.clean
[ $fail -eq 0 ] && echo "exit codes and words as documented"
exit $fail
