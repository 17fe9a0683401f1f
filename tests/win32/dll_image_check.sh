#!/bin/sh
# Checks of the built DLL that run nothing: its export table, its imports,
# what of its C++ runtime it carries, and how the system finds the fault
# guard's handler. They hold on machines that
# cannot execute the tier's programs too.
# Arguments: tier (win32|win64), objdump, nm, the DLL.
set -u
tier=$1 objdump=$2 nm=$3 dll=$4
fail=0
bad() { echo "$dll: $*"; fail=1; }
dump=$(mktemp)
trap 'rm -f "$dump"' EXIT
"$objdump" -p "$dll" >"$dump" || { echo "cannot read $dll"; exit 1; }

# Exactly the seven exports, undecorated (no leading underscore, no @n).
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' "$dump" | sort | tr '\n' ' ')
want="InitializeQZ45AlarmEvent PopulateChangeValueEvent PopulateGeneralSystemEvent QZ45AlarmEventCoInit QZ45AlarmEventCoUninit SendQZ45Event UninitializeQZ45AlarmEvent "
[ "$exports" = "$want" ] || bad "exports are '$exports', expected '$want'"

# The DLL carries its own C and C++ runtime: it imports Windows system DLLs only.
others=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$dump" | tr A-Z a-z |
         grep -vxE 'kernel32.dll|advapi32.dll|msvcrt.dll|ole32.dll|oleaut32.dll|user32.dll')
[ -z "$others" ] || bad "imports non-system DLLs: $others"

# Nothing of its C++ runtime outlives an unload: no threading library (it
# keeps handles of each thread that calls in), and no function-local static
# that needs a lock (the runtime creates that lock and never closes it).
syms=$("$nm" "$dll")
! echo "$syms" | grep -q ' [TtDdBb] _*pthread_' || bad "carries a threading runtime (pthread_*)"
! echo "$syms" | grep -q ' T _*__cxa_guard_acquire$' || bad "has a function-local static guarded by a lock"

case "$tier" in
win32)
    # The guard links handler records into the thread's chain, which the
    # system ignores in an image marked NO_SEH.
    grep -q '^DllCharacteristics' "$dump" || bad "no DllCharacteristics"
    ! grep -q NO_SEH "$dump" || bad "marked NO_SEH"
    ;;
win64)
    # The system finds the guard through the thunk's unwind data, which must
    # name the guard's handler.
    addr() { "$nm" "$dll" | sed -n "s/^\([0-9a-f]*\) T $1\$/\1/p"; }
    thunk=$(addr qz45_GuardThunk) handler=$(addr qz45_GuardHandler)
    if [ -z "$thunk" ] || [ -z "$handler" ]; then
        bad "no guard thunk or handler symbol"
    else
        entry=$(grep -A6 "): $thunk - " "$dump")
        echo "$entry" | grep -q 'Flags: UNW_FLAG_EHANDLER' ||
            bad "the guard thunk's unwind data has no exception handler"
        echo "$entry" | grep -q "Handler: $handler\." ||
            bad "the guard thunk's unwind data names another handler"
    fi
    ;;
*) bad "unknown tier $tier" ;;
esac
[ $fail -eq 0 ] && echo "$tier DLL image: seven undecorated exports, system imports only, nothing of the runtime that outlives an unload, guard handler reachable"
exit $fail
