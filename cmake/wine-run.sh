#!/bin/sh
# Runs a Windows program under 32-bit Wine in the build tree's own prefix.
# The prefix is QZ45_WINEPREFIX, or wineprefix/ in the current build folder
# (ctest runs from there); it is created on first use, quietly.
set -e
prefix="${QZ45_WINEPREFIX:-$PWD/wineprefix}"
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac
export WINEPREFIX="$prefix"
export WINEARCH=win32
# Wine's own chatter off; the event log's error channel stays on, since the
# library reports delivery failures there.
export WINEDEBUG="${WINEDEBUG:--all,err+eventlog}"
# No cached BSTRs in oleaut32: a double free or a leak shows.
export OANOCACHE=1
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/.qz45-ready" ]; then
    mkdir -p "$prefix"
    (
        flock 9
        if [ ! -f "$prefix/.qz45-ready" ]; then
            wineboot -i >/dev/null 2>&1 || true
            wineserver -w || true
            touch "$prefix/.qz45-ready"
        fi
    ) 9>"$prefix.lock"
fi
exec wine "$@"
