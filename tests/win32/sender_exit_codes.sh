#!/bin/sh
# qz45event's exit codes and words under Wine: 0 success, 1 an event not
# delivered (what failed and what to do, on standard error, even with -q),
# 2 a bad command line (one line on standard error).
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
