#!/bin/sh
# qz45event's exit codes under Wine: 0 success, 1 an event not delivered,
# 2 a bad command line (with one line on standard error).
# Argument: the folder holding qz45event.exe; WINE_RUN: the Wine runner.
cd "$1" || exit 1
fail=0
expect() {
    want=$1; shift
    "$WINE_RUN" qz45event.exe "$@" >out.txt 2>err.txt
    got=$?
    if [ "$got" -ne "$want" ]; then
        echo "qz45event $*: exit $got, expected $want"; cat out.txt err.txt; fail=1
    fi
}
expect 0 types
expect 0 --help
expect 2 send --type 4 --bogus
[ "$(wc -l <err.txt)" -eq 1 ] || { echo "a usage error takes one line:"; cat err.txt; fail=1; }
expect 2 send --type "no such type"
expect 2 send --type 4 --old r8:abc
expect 1 send --type "Create Record" --user u --domain d
expect 1 send --type 54 --user u --domain d
expect 1 send --type 4 --user "$(printf '%0300d' 0)"
rm -f out.txt err.txt
[ $fail -eq 0 ] && echo "exit codes as documented"
exit $fail
